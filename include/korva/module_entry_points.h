#ifndef KORVA_MODULE_ENTRY_POINTS_H_
#define KORVA_MODULE_ENTRY_POINTS_H_

// The two functions every classifier module exports, by these undecorated
// names. A module includes this header where it defines them, so the compiler
// checks the definitions against the declarations the host loads them by.

#include "korva/classifier_base.h"
#include "korva/export.h"

extern "C" {

// A new classifier object, constructed inside the module; the caller gives it
// back through ReleaseInstance. An exception from construction passes to the
// caller, with nothing returned and nothing leaked.
KORVA_MODULE_API Korva::ClassifierBase* CreateInstance();

// Destroys *object inside the module and sets *object to null: 0. Returns
// kStatusMissing (-20) when *object is null and kStatusRejected (-10) when it
// is not this module's kind of classifier, changing nothing in both cases.
// `object` itself must not be null.
KORVA_MODULE_API int ReleaseInstance(Korva::ClassifierBase** object);

}  // extern "C"

namespace Korva {

using CreateInstanceFn = decltype(&CreateInstance);
using ReleaseInstanceFn = decltype(&ReleaseInstance);
constexpr const char* kCreateInstanceSymbol = "CreateInstance";
constexpr const char* kReleaseInstanceSymbol = "ReleaseInstance";

}  // namespace Korva

#endif  // KORVA_MODULE_ENTRY_POINTS_H_
