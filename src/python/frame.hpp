// What every binding shares, one header per concern: per-object claims
// (claims.hpp), the error mapping (errors.hpp), argument conversion
// (args.hpp), NumPy marshalling (numpy.hpp), the enumeration classes
// (enums.hpp) and the presentation of docstrings (present.hpp); and the one
// way to run native work with the interpreter lock released.
#pragma once

#include <nanobind/nanobind.h>

#include <utility>

#include "python/args.hpp"
#include "python/claims.hpp"
#include "python/enums.hpp"
#include "python/errors.hpp"
#include "python/numpy.hpp"
#include "python/present.hpp"

namespace tarvex::py {

// Run `work` (which touches no Python object) with the interpreter lock
// released and return its result once the lock is held again; an exception
// thrown by `work` also arrives with the lock held.  Usage:
//   auto v = unwrap(released([&] { return reader.read(path); }));
template <class F>
auto released(F&& work) -> decltype(work()) {
    nb::gil_scoped_release unlocked;
    return std::forward<F>(work)();
}

}  // namespace tarvex::py
