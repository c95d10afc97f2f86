#include "plugin/dozod.h"

bool DOZOD::EditConfiguration() { return false; }  // not built yet
