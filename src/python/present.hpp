// Presentation of the module's functions and methods to help() and inspect.
#pragma once

#include <nanobind/nanobind.h>

namespace tarvex::py {

namespace nb = nanobind;

// Functions and methods present their docstring as `__doc__` (the first line
// is the description, the signature goes to `__text_signature__`): each is
// replaced, at its place, by a thin builtin function or method descriptor
// that forwards the call.  Run as the last step of module execution.
void present_functions(nb::module_& m);

}  // namespace tarvex::py
