// Argument conversion for the signal and injury functions: numbers, unsigned
// counts, words and coefficient sequences, each refused with an error that
// names the parameter.  Arrays go through F64Array (frame.hpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "python/frame.hpp"

namespace tarvex::py {

// Any Python real number (float, int, NumPy scalar, anything with __float__).
// An int too large for a double raises OverflowError naming the parameter.
inline double arg_f64(nb::handle h, const char* param) {
    double v = PyFloat_AsDouble(h.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            raise(Error::overflow(std::string("int too large to convert to float (argument '") + param + "')"));
        }
        PyErr_Clear();
        raise(Error::type(std::string("argument '") + param + "' must be a real number, not " +
                          Py_TYPE(h.ptr())->tp_name));
    }
    return v;
}

// An integer argument as a Python int: an int itself, or the value of any
// other integer type (NumPy integer scalars, anything with __index__).  Floats
// and other non-integers raise TypeError naming the parameter.
inline nb::object arg_int(nb::handle h, const char* param) {
    if (PyLong_Check(h.ptr())) return nb::borrow(h);
    if (PyIndex_Check(h.ptr())) {
        nb::object v = nb::steal(PyNumber_Index(h.ptr()));
        if (v.is_valid()) return v;
        PyErr_Clear();
    }
    raise(Error::type(std::string("argument '") + param + "' must be an int, not " + Py_TYPE(h.ptr())->tp_name));
}

// A non-negative int used as a count (OverflowError when negative or beyond
// 64 bits, with the same texts as Index).
inline std::uint64_t arg_count(nb::handle arg, const char* param) {
    nb::object h = arg_int(arg, param);
    unsigned long long v = PyLong_AsUnsignedLongLong(h.ptr());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        Index refused;
        refused.overflow = true;
        refused.negative = PyObject_RichCompareBool(h.ptr(), nb::int_(0).ptr(), Py_LT) == 1;
        PyErr_Clear();
        return refused.get(param);
    }
    return v;
}

// A str argument as UTF-8 (lone surrogates backslash-escaped).
inline std::string arg_str(nb::handle h, const char* param) {
    if (!PyUnicode_Check(h.ptr()))
        raise(Error::type(std::string("argument '") + param + "' must be str, not " + Py_TYPE(h.ptr())->tp_name));
    Py_ssize_t len = 0;
    if (const char* s = PyUnicode_AsUTF8AndSize(h.ptr(), &len)) return std::string(s, static_cast<std::size_t>(len));
    PyErr_Clear();
    nb::object bytes = nb::steal(PyUnicode_AsEncodedString(h.ptr(), "utf-8", "backslashreplace"));
    if (!bytes.is_valid()) throw nb::python_error();
    return std::string(PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

// Any sequence of real numbers (list, tuple, array); str and bytes refused.
// An item that is an int too large for a double raises OverflowError.
inline std::vector<double> arg_f64_sequence(nb::handle h, const char* param) {
    auto refuse = [&]() {
        raise(Error::type(std::string("argument '") + param + "' must be a sequence of real numbers, not " +
                          Py_TYPE(h.ptr())->tp_name));
    };
    PyObject* o = h.ptr();
    if (PyUnicode_Check(o) || PyBytes_Check(o) || PyByteArray_Check(o) || !PySequence_Check(o)) refuse();
    nb::object fast = nb::steal(PySequence_Fast(o, "not a sequence"));
    if (!fast.is_valid()) {
        PyErr_Clear();
        refuse();
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.ptr());
    PyObject** items = PySequence_Fast_ITEMS(fast.ptr());
    std::vector<double> out(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        double v = PyFloat_AsDouble(items[i]);
        if (v == -1.0 && PyErr_Occurred()) {
            // An int too large for a double is an OverflowError, as for a
            // single number.
            if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
                PyErr_Clear();
                raise(Error::overflow(std::string("int too large to convert to float (argument '") + param +
                                      "', item " + std::to_string(i) + ")"));
            }
            PyErr_Clear();
            raise(Error::type(std::string("argument '") + param + "' must be a sequence of real numbers; item " +
                              std::to_string(i) + " is " + Py_TYPE(items[i])->tp_name));
        }
        out[static_cast<std::size_t>(i)] = v;
    }
    return out;
}

}  // namespace tarvex::py
