#include "plugin/dozod.h"

// A module built without the dialog (KORVA_BUILD_UI off) needs no GUI
// toolkit; it shows nothing, as the full module does without a GUI
// application.
bool DOZOD::EditConfiguration() { return false; }
