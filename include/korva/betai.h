#ifndef KORVA_BETAI_H_
#define KORVA_BETAI_H_

#include "korva/export.h"

// The regularized incomplete beta function I_x(a, b), for a > 0, b > 0 and
// 0 <= x <= 1, with I_0 = 0 and I_1 = 1. Returns NaN (never throws) when an
// argument is NaN or outside that domain.
KORVA_HOST_API double betai(double a, double b, double x);

#endif  // KORVA_BETAI_H_
