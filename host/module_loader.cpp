#include "korva/module_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <utility>

namespace Korva {
namespace {

// Under AddressSanitizer a module stays mapped after dlclose, so that the leak
// check at exit can still read the module's (and its libraries') memory and
// name their frames; otherwise globals of an unloaded library look leaked.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
#else
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;
#endif

std::string LastDlError() {
  const char* text = dlerror();
  return text ? text : "unknown reason";
}

}  // namespace

void ClassifierReleaser::operator()(ClassifierBase* object) const {
  if (object != nullptr && module) module->Release(&object);
}

std::shared_ptr<Module> Module::Open(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0)
    throw ModuleError("module file not found: " + path);
  // dlopen looks a name without a slash up on the library search path; the
  // file found above, relative to the current folder, is the one to load.
  const std::string file =
      path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(file.c_str(), kOpenFlags);
  if (handle == nullptr)
    throw ModuleError("cannot load module " + path + ": " + LastDlError());
  auto symbol = [&](const char* name) {
    dlerror();
    void* address = dlsym(handle, name);
    if (address == nullptr) {
      std::string reason = LastDlError();
      dlclose(handle);
      throw ModuleError("module " + path + " has no entry point " + name +
                        ": " + reason);
    }
    return address;
  };
  auto create =
      reinterpret_cast<CreateInstanceFn>(symbol(kCreateInstanceSymbol));
  auto release =
      reinterpret_cast<ReleaseInstanceFn>(symbol(kReleaseInstanceSymbol));
  return std::shared_ptr<Module>(new Module(path, handle, create, release));
}

Module::Module(std::string path,
               void* handle,
               CreateInstanceFn create,
               ReleaseInstanceFn release)
    : path_(std::move(path)),
      handle_(handle),
      create_(create),
      release_(release) {}

Module::~Module() { dlclose(handle_); }

ClassifierHandle Module::CreateClassifier() const {
  ClassifierBase* object = create_();
  if (object == nullptr)
    throw ModuleError("module " + path_ + " created no classifier object");
  return ClassifierHandle(object, ClassifierReleaser{shared_from_this()});
}

int Module::Release(ClassifierBase** object) const { return release_(object); }

}  // namespace Korva
