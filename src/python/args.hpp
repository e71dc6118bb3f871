// Argument conversion: the module's rules for str, integer, real-number,
// sequence and bool arguments, each refused with an error naming the
// parameter.  (Arrays: numpy.hpp.)
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "python/errors.hpp"

namespace tarvex::py {

namespace nb = nanobind;

// "argument '{param}' must be {want}" as a TypeError.
Error type_error(const char* param, const std::string& want);

// The integer rule: a Python int itself, or the int value of any other
// integer type (NumPy integer scalars, anything with __index__); never a
// float.  An invalid object (no Python error set) when `h` is no integer.
nb::object as_int(nb::handle h);

// An `int` argument used as an index or count.  Negative or too large values
// are kept and refused with OverflowError when the value is asked for, so the
// error names the parameter instead of failing overload resolution.
struct Index {
    std::uint64_t v = 0;
    bool overflow = false;
    bool negative = false;
    std::uint64_t get(const char* param) const;
};

// A `bool` argument: Python's bool or NumPy's boolean scalar, nothing else.
struct Bool {
    bool v = false;
    operator bool() const noexcept { return v; }
};

// A Python int as an Index (negative or too large values kept for get()).
Index index_of_int(nb::handle int_obj);

// An integer argument as a Python int (TypeError otherwise).
nb::object arg_int(nb::handle h, const char* param);
// A signed 64-bit integer argument (an entity id); OverflowError beyond 64 bits.
std::int64_t arg_i64(nb::handle h, const char* param);
// A non-negative integer argument used as a count (OverflowError as Index).
std::uint64_t arg_count(nb::handle h, const char* param);
// Any Python real number (float, int, NumPy scalar, anything with __float__);
// an int too large for a double raises OverflowError.
double arg_f64(nb::handle h, const char* param);
// A str argument as UTF-8; a str that cannot be encoded (lone surrogates) is
// a TypeError.
std::string arg_str(nb::handle h, const char* param);

// The items of a sequence argument (a bare str or bytes is refused with
// TypeError "... must be {want}"); `keep` holds them alive.
std::vector<nb::handle> seq_items(nb::handle h, const char* param, const char* want, nb::object& keep);
// A sequence of str.
std::vector<std::string> arg_str_seq(nb::handle h, const char* param);
// A sequence of integers as signed 64-bit values.
std::vector<std::int64_t> arg_i64_seq(nb::handle h, const char* param);
// A sequence of real numbers (list, tuple, array).
std::vector<double> arg_f64_sequence(nb::handle h, const char* param);

}  // namespace tarvex::py

namespace nanobind::detail {

template <>
struct type_caster<tarvex::py::Index> {
    NB_TYPE_CASTER(tarvex::py::Index, const_name("int"))
    bool from_python(handle src, uint32_t, cleanup_list*) noexcept {
        nanobind::object i = tarvex::py::as_int(src);
        if (!i.is_valid()) return false;
        value = tarvex::py::index_of_int(i);
        return true;
    }
    static handle from_cpp(const tarvex::py::Index& v, rv_policy, cleanup_list*) noexcept {
        return PyLong_FromUnsignedLongLong(v.v);
    }
};

template <>
struct type_caster<tarvex::py::Bool> {
    NB_TYPE_CASTER(tarvex::py::Bool, const_name("bool"))
    bool from_python(handle src, uint32_t, cleanup_list*) noexcept {
        if (src.ptr() == Py_True || src.ptr() == Py_False) {
            value.v = src.ptr() == Py_True;
            return true;
        }
        // NumPy's boolean scalar type is "numpy.bool" (NumPy 2) or "numpy.bool_".
        const char* tn = Py_TYPE(src.ptr())->tp_name;
        if (std::strcmp(tn, "numpy.bool") == 0 || std::strcmp(tn, "numpy.bool_") == 0) {
            int t = PyObject_IsTrue(src.ptr());
            if (t < 0) {
                PyErr_Clear();
                return false;
            }
            value.v = t == 1;
            return true;
        }
        return false;
    }
    static handle from_cpp(const tarvex::py::Bool& v, rv_policy, cleanup_list*) noexcept {
        return PyBool_FromLong(v.v);
    }
};

}  // namespace nanobind::detail
