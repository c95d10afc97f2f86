#ifndef KORVA_PYTHON_SPELLER_BINDINGS_H_
#define KORVA_PYTHON_SPELLER_BINDINGS_H_

#include <pybind11/pybind11.h>

#include "korva/hostkit/error.h"

namespace Korva::Python {

// Raises the Python exception of a host kit error (bindings.cpp): ValueError
// for settings and data, else KorvaError with its kind.
[[noreturn]] void RaiseKitError(const HostKit::Error& error);

// Adds the speller (speller/) to the extension module: speller_labels,
// decode_selections, paradigm_xml and set_speller.
void BindSpeller(pybind11::module_& m);

}  // namespace Korva::Python

#endif  // KORVA_PYTHON_SPELLER_BINDINGS_H_
