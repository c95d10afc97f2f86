#ifndef KORVA_HOSTKIT_MODULE_PATH_H_
#define KORVA_HOSTKIT_MODULE_PATH_H_

#include <memory>
#include <string>

#include "korva/export.h"
#include "korva/module_loader.h"

namespace Korva::HostKit {

// The file name of the stepwise classifier module.
constexpr const char* kModuleFileName = "ZEZODOvo64.kvc";

// kModuleFileName in the folder of the running executable; "" when that
// folder cannot be known (never the current folder).
KORVA_HOSTKIT_API std::string ModulePathBesideExecutable();

// The module a host loads: `option` when not empty, else $KORVA_MODULE when
// set, else the module beside the executable when that file exists, else the
// installed module (korva/ZEZODOvo64.kvc in the folder of the installed kit
// library) when that exists, else the path beside the executable (which then
// fails to open with a message naming it). Error(kModule) when neither folder
// can be known.
KORVA_HOSTKIT_API std::string ChooseModulePath(const std::string& option);

// Loads the module; Error(kModule) saying why it cannot be used.
KORVA_HOSTKIT_API std::shared_ptr<Module> OpenModule(const std::string& path);

// The module at `path`, opened on the first call for that path and kept
// loaded for the rest of the process (loading the module with its dialog's
// libraries takes tens of milliseconds), for hosts that make many objects.
// Error(kModule) as OpenModule; safe to call from several threads.
KORVA_HOSTKIT_API std::shared_ptr<Module> SharedModule(const std::string& path);

// A new classifier object of `module`; Error(kModule) when it gives none.
KORVA_HOSTKIT_API ClassifierHandle NewClassifier(const Module& module);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_MODULE_PATH_H_
