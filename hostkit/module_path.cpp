#include "korva/hostkit/module_path.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "korva/hostkit/error.h"
#include "platform/executable_folder.h"

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
  const std::string folder = ExecutableFolder();
  return folder.empty() ? "" : folder + "/" + kModuleFileName;
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

std::shared_ptr<Module> SharedModule(const std::string& path) {
  // Never destroyed: a host may release its last objects after the static
  // destructors have run, and a module unloaded at exit could take libraries
  // (Qt) with it that something still uses.
  static auto* lock = new std::mutex;
  static auto* modules = new std::map<std::string, std::shared_ptr<Module>>;
  std::lock_guard<std::mutex> held(*lock);
  std::shared_ptr<Module>& module = (*modules)[path];
  if (!module) module = OpenModule(path);
  return module;
}

ClassifierHandle NewClassifier(const Module& module) {
  try {
    return module.CreateClassifier();
  } catch (const ModuleError& error) {
    throw Error(ErrorKind::kModule, error.what());
  }
}

}  // namespace Korva::HostKit
