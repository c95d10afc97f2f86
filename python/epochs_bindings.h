#ifndef KORVA_PYTHON_EPOCHS_BINDINGS_H_
#define KORVA_PYTHON_EPOCHS_BINDINGS_H_

#include <pybind11/pybind11.h>

namespace Korva::Python {

// Adds extract_epochs and the band-pass filter to the extension module.
void BindEpochs(pybind11::module_& m);

}  // namespace Korva::Python

#endif  // KORVA_PYTHON_EPOCHS_BINDINGS_H_
