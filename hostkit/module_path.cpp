#include "korva/hostkit/module_path.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "korva/hostkit/error.h"

namespace Korva::HostKit {
namespace {

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Where an installed module lives: a folder "korva" beside the installed kit
// library.
std::string ModulePathBesideKit() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ModulePathBesideKit), &info) == 0 ||
      info.dli_fname == nullptr)
    return "";
  const std::string library = info.dli_fname;
  const size_t slash = library.find_last_of('/');
  if (slash == std::string::npos) return "";
  return library.substr(0, slash) + "/korva/" + kModuleFileName;
}

}  // namespace

std::string ModulePathBesideExecutable() {
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  // Without the program's own folder there is no file beside it; the
  // current folder is never taken for it.
  if (length <= 0) return "";
  self[length] = '\0';
  const std::string program = self;
  return program.substr(0, program.find_last_of('/')) + "/" + kModuleFileName;
}

std::string ChooseModulePath(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* path = std::getenv("KORVA_MODULE"); path && *path)
    return path;
  const std::string beside = ModulePathBesideExecutable();
  if (!beside.empty() && IsFile(beside)) return beside;
  const std::string installed = ModulePathBesideKit();
  if (!installed.empty() && (IsFile(installed) || beside.empty()))
    return installed;
  if (beside.empty())
    throw Error(ErrorKind::kModule,
                std::string("cannot find the module ") + kModuleFileName +
                    ": the program's folder is unknown; name the module "
                    "with KORVA_MODULE");
  return beside;
}

std::shared_ptr<Module> OpenModule(const std::string& path) {
  try {
    return Module::Open(path);
  } catch (const ModuleError& error) {
    throw Error(ErrorKind::kModule, error.what());
  }
}

ClassifierHandle NewClassifier(const Module& module) {
  try {
    return module.CreateClassifier();
  } catch (const ModuleError& error) {
    throw Error(ErrorKind::kModule, error.what());
  }
}

}  // namespace Korva::HostKit
