#ifndef KORVA_PYTHON_RECORDING_BINDINGS_H_
#define KORVA_PYTHON_RECORDING_BINDINGS_H_

#include <pybind11/pybind11.h>

namespace Korva::Python {

// Adds read_recording to the extension module `m`.
void BindRecording(pybind11::module_& m);

}  // namespace Korva::Python

#endif  // KORVA_PYTHON_RECORDING_BINDINGS_H_
