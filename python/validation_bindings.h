#ifndef KORVA_PYTHON_VALIDATION_BINDINGS_H_
#define KORVA_PYTHON_VALIDATION_BINDINGS_H_

#include <pybind11/pybind11.h>

namespace Korva::Python {

// Adds korva's grid, folds and choice rule (validation/) to the extension
// module `m`: make_grid, deal_folds, choose_setting, DEFAULT_FOLDS and
// DEFAULT_SEED.
void BindValidation(pybind11::module_& m);

}  // namespace Korva::Python

#endif  // KORVA_PYTHON_VALIDATION_BINDINGS_H_
