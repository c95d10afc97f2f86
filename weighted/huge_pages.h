#ifndef KORVA_WEIGHTED_HUGE_PAGES_H_
#define KORVA_WEIGHTED_HUGE_PAGES_H_

// The module's parts ask for huge pages through the platform part's
// AdviseHugePages; this name of the header is kept for them.
#include "platform/huge_pages.h"

#endif  // KORVA_WEIGHTED_HUGE_PAGES_H_
