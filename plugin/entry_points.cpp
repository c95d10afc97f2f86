#include "korva/module_entry_points.h"
#include "plugin/dozod.h"

Korva::ClassifierBase* CreateInstance() { return new DOZOD(); }

int ReleaseInstance(Korva::ClassifierBase** object) {
  if (*object == nullptr) return Korva::kStatusMissing;
  DOZOD* classifier = dynamic_cast<DOZOD*>(*object);
  if (classifier == nullptr) return Korva::kStatusRejected;
  delete classifier;
  *object = nullptr;
  return Korva::kStatusOk;
}
