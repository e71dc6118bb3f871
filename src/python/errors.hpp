// The one mapping of native error values to Python exceptions.
//
// Every binding reports a failure by calling raise() (or unwrap() on a
// result) with the error value of its subsystem: the module's Error, the
// binout layer's LsdaError or the d3plot layer's D3plotError.  Each
// subsystem error is converted to an Error here, and each Error becomes its
// Python exception in one place (errors.cpp).
#pragma once

#include <nanobind/nanobind.h>

#include <utility>

#include "results/d3plot_error.hpp"
#include "results/lsda_error.hpp"
#include "util/error.hpp"

namespace tarvex::py {

namespace nb = nanobind;

// The module error of a subsystem error: its exception kind and text.
Error to_error(const results::LsdaError& e);
Error to_error(const d3plot::D3plotError& e);

// Raise the Python exception for a native error value.
[[noreturn]] void raise(const Error& e);
[[noreturn]] inline void raise(const results::LsdaError& e) { raise(to_error(e)); }
[[noreturn]] inline void raise(const d3plot::D3plotError& e) { raise(to_error(e)); }

// The value of a result, or its error raised.
template <class T, class E>
T unwrap(Result<T, E>&& r) {
    if (!r.ok()) raise(r.error());
    return std::move(r).value();
}

// Install the exception translators and create the panic exception type.
void init_errors(nb::module_& m);

// The panic exception class (a BaseException subclass).
PyObject* panic_type() noexcept;

}  // namespace tarvex::py
