#include "host/classifier_base.h"
#include "plugin/dozod.h"
#include "plugin/module_api.h"

extern "C" MODULE_API Korva::ClassifierBase* CreateInstance() {
  return new DOZOD();
}

extern "C" MODULE_API int ReleaseInstance(Korva::ClassifierBase** object) {
  if (*object == nullptr) return Korva::kStatusMissing;
  DOZOD* classifier = dynamic_cast<DOZOD*>(*object);
  if (classifier == nullptr) return Korva::kStatusRejected;
  delete classifier;
  *object = nullptr;
  return Korva::kStatusOk;
}
