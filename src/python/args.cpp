#include "python/args.hpp"

namespace tarvex::py {

Error type_error(const char* param, const std::string& want) {
    return Error::type(std::string("argument '") + param + "' must be " + want);
}

nb::object as_int(nb::handle h) {
    if (PyLong_Check(h.ptr())) return nb::borrow(h);
    if (PyFloat_Check(h.ptr()) || !PyIndex_Check(h.ptr())) return {};
    nb::object v = nb::steal(PyNumber_Index(h.ptr()));
    if (!v.is_valid()) PyErr_Clear();
    return v;
}

std::uint64_t Index::get(const char* param) const {
    if (overflow)
        raise(Error::overflow(negative ? std::string("can't convert negative int to unsigned (argument '") + param + "')"
                                       : std::string("int too big to convert (argument '") + param + "')"));
    return v;
}

Index index_of_int(nb::handle int_obj) {
    Index out;
    int sign = 0;
    long long s = PyLong_AsLongLongAndOverflow(int_obj.ptr(), &sign);
    if (s == -1 && PyErr_Occurred()) PyErr_Clear();
    if (sign == 0 && s >= 0) {
        out.v = static_cast<std::uint64_t>(s);
    } else if (sign < 0 || (sign == 0 && s < 0)) {
        out.overflow = out.negative = true;
    } else {
        unsigned long long u = PyLong_AsUnsignedLongLong(int_obj.ptr());
        if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
            PyErr_Clear();
            out.overflow = true;
        } else {
            out.v = u;
        }
    }
    return out;
}

nb::object arg_int(nb::handle h, const char* param) {
    nb::object v = as_int(h);
    if (!v.is_valid()) raise(type_error(param, std::string("an int, not ") + Py_TYPE(h.ptr())->tp_name));
    return v;
}

std::int64_t arg_i64(nb::handle h, const char* param) {
    nb::object v = arg_int(h, param);
    int overflow = 0;
    long long r = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
    if (overflow) raise(Error::overflow(std::string("argument '") + param + "' does not fit in a 64-bit integer"));
    return r;
}

std::uint64_t arg_count(nb::handle h, const char* param) { return index_of_int(arg_int(h, param)).get(param); }

double arg_f64(nb::handle h, const char* param) {
    double v = PyFloat_AsDouble(h.ptr());
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            raise(Error::overflow(std::string("int too large to convert to float (argument '") + param + "')"));
        }
        PyErr_Clear();
        raise(type_error(param, std::string("a real number, not ") + Py_TYPE(h.ptr())->tp_name));
    }
    return v;
}

std::string arg_str(nb::handle h, const char* param) {
    if (!PyUnicode_Check(h.ptr())) raise(type_error(param, std::string("str, not ") + Py_TYPE(h.ptr())->tp_name));
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(h.ptr(), &n);
    if (!s) {
        PyErr_Clear();
        raise(type_error(param, "str encodable as UTF-8"));
    }
    return std::string(s, static_cast<std::size_t>(n));
}

std::vector<nb::handle> seq_items(nb::handle h, const char* param, const char* want, nb::object& keep) {
    PyObject* o = h.ptr();
    if (PyUnicode_Check(o) || PyBytes_Check(o) || PyByteArray_Check(o) || !PySequence_Check(o))
        raise(type_error(param, want));
    PyObject* fast = PySequence_Fast(o, "");
    if (!fast) {
        PyErr_Clear();
        raise(type_error(param, want));
    }
    keep = nb::steal(fast);
    Py_ssize_t n = PySequence_Fast_GET_SIZE(fast);
    PyObject** items = PySequence_Fast_ITEMS(fast);
    return std::vector<nb::handle>(items, items + n);
}

std::vector<std::string> arg_str_seq(nb::handle h, const char* param) {
    nb::object keep;
    std::vector<std::string> out;
    for (nb::handle it : seq_items(h, param, "a sequence of str", keep)) {
        if (!PyUnicode_Check(it.ptr())) raise(type_error(param, "a sequence of str"));
        out.push_back(arg_str(it, param));
    }
    return out;
}

std::vector<std::int64_t> arg_i64_seq(nb::handle h, const char* param) {
    nb::object keep;
    std::vector<std::int64_t> out;
    for (nb::handle it : seq_items(h, param, "a sequence of int", keep)) {
        if (!as_int(it).is_valid()) raise(type_error(param, "a sequence of int"));
        out.push_back(arg_i64(it, param));
    }
    return out;
}

std::vector<double> arg_f64_sequence(nb::handle h, const char* param) {
    nb::object keep;
    const std::string want = std::string("a sequence of real numbers, not ") + Py_TYPE(h.ptr())->tp_name;
    std::vector<nb::handle> items = seq_items(h, param, want.c_str(), keep);
    std::vector<double> out(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        double v = PyFloat_AsDouble(items[i].ptr());
        if (v == -1.0 && PyErr_Occurred()) {
            // An int too large for a double is an OverflowError, as for a
            // single number.
            if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
                PyErr_Clear();
                raise(Error::overflow(std::string("int too large to convert to float (argument '") + param +
                                      "', item " + std::to_string(i) + ")"));
            }
            PyErr_Clear();
            raise(type_error(param, "a sequence of real numbers; item " + std::to_string(i) + " is " +
                                        Py_TYPE(items[i].ptr())->tp_name));
        }
        out[i] = v;
    }
    return out;
}

}  // namespace tarvex::py
