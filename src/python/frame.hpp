// What every binding shares: per-object claims, the error mapping, argument
// types with the module's conversion rules, the enumeration classes and the
// NumPy array helpers.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <atomic>
#include <cstring>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "python/errors.hpp"

namespace nb = nanobind;

namespace tarvex::py {

// ---- Claims --------------------------------------------------------------
// Every mutable Python object carries a claim counter: any number of shared
// claims at once, or one exclusive claim.  Claims are taken with the
// interpreter lock held and kept while a call has released it.

class Claimable {
public:
    mutable std::atomic<std::int64_t> claim_state_{0};  // >0 shared, -1 exclusive
};

class SharedClaim {
public:
    explicit SharedClaim(const Claimable& o);
    ~SharedClaim() { obj_.claim_state_.fetch_sub(1, std::memory_order_acq_rel); }
    SharedClaim(const SharedClaim&) = delete;
    SharedClaim& operator=(const SharedClaim&) = delete;

private:
    const Claimable& obj_;
};

class ExclusiveClaim {
public:
    explicit ExclusiveClaim(const Claimable& o);
    ~ExclusiveClaim() { obj_.claim_state_.store(0, std::memory_order_release); }
    ExclusiveClaim(const ExclusiveClaim&) = delete;
    ExclusiveClaim& operator=(const ExclusiveClaim&) = delete;

private:
    const Claimable& obj_;
};

// Functions and methods present their docstring as `__doc__` (the first line
// is the description, the signature goes to `__text_signature__`): each is
// replaced, at its place, by a thin builtin function or method descriptor
// that forwards the call.  Run as the last step of module execution.
void present_functions(nb::module_& m);

// ---- Argument types ------------------------------------------------------

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

// ---- Enumeration classes -------------------------------------------------
// Fixed members that are always the same objects, int(), repr "Class.Member",
// == and != against members or ints, NotImplemented otherwise, no hash, no
// construction, final.

template <class Tag>
struct EnumValue {
    std::int64_t value;
};

struct EnumTable {
    std::string class_name;
    std::vector<std::pair<std::string, std::int64_t>> members;
    std::vector<PyObject*> objects;  // strong references, dropped at interpreter exit
    PyObject* cls = nullptr;          // the class (kept alive by its module)
};

// Every enumeration table, so that the member references can be dropped
// when the interpreter shuts down.
std::vector<EnumTable*>& enum_tables();

// Arrange for the members of every enumeration to be dropped at interpreter exit.
void init_enums(nb::module_& m);

template <class Tag>
EnumTable& enum_table() {
    static EnumTable* t = [] {
        auto* fresh = new EnumTable();  // never destroyed: outlives the interpreter
        enum_tables().push_back(fresh);
        return fresh;
    }();
    return *t;
}

template <class Tag>
nb::object enum_member(std::int64_t value) {
    EnumTable& t = enum_table<Tag>();
    for (std::size_t i = 0; i < t.members.size(); ++i)
        if (t.members[i].second == value) return nb::borrow(t.objects[i]);
    raise(Error::value("invalid " + t.class_name + " value " + std::to_string(value)));
}

template <class Tag>
void bind_enum(nb::module_& m, const char* name, const char* doc,
               std::initializer_list<std::pair<const char*, std::int64_t>> members) {
    using E = EnumValue<Tag>;
    EnumTable& t = enum_table<Tag>();
    t.class_name = name;
    auto cls = nb::class_<E>(m, name, doc, nb::is_final());
    t.cls = cls.ptr();
    cls.def("__int__", [](const E& e) { return e.value; });
    cls.def("__repr__", [](const E& e) {
        const EnumTable& tt = enum_table<Tag>();
        for (const auto& [n, v] : tt.members)
            if (v == e.value) return tt.class_name + "." + n;
        return tt.class_name + "(" + std::to_string(e.value) + ")";
    });
    auto compare = [](const E& self, nb::handle other, bool want_equal) -> nb::object {
        std::int64_t ov;
        if (nb::isinstance<E>(other)) {
            ov = nb::cast<const E&>(other).value;
        } else if (PyLong_Check(other.ptr())) {
            int overflow = 0;
            ov = PyLong_AsLongLongAndOverflow(other.ptr(), &overflow);
            if (overflow) return nb::bool_(!want_equal);
        } else {
            return nb::borrow(Py_NotImplemented);
        }
        return nb::bool_((ov == self.value) == want_equal);
    };
    cls.def("__eq__", [compare](const E& s, nb::handle o) { return compare(s, o, true); }, nb::sig("def __eq__(self, other: object, /) -> bool"));
    cls.def("__ne__", [compare](const E& s, nb::handle o) { return compare(s, o, false); }, nb::sig("def __ne__(self, other: object, /) -> bool"));
    nb::setattr(cls, "__hash__", nb::none());
    for (const auto& [n, v] : members) {
        nb::object obj = nb::cast(E{v});
        t.members.emplace_back(n, v);
        t.objects.push_back(obj.inc_ref().ptr());
        nb::setattr(cls, n, obj);
    }
}

// ---- NumPy arrays --------------------------------------------------------

// Hand a native buffer to NumPy without copying: the array owns the vector.
template <class T>
nb::ndarray<nb::numpy, T> to_numpy(std::vector<T>&& data, std::initializer_list<std::size_t> shape) {
    auto* owned = new std::vector<T>(std::move(data));
    nb::capsule owner(owned, [](void* p) noexcept { delete static_cast<std::vector<T>*>(p); });
    return nb::ndarray<nb::numpy, T>(owned->data(), shape.size(), shape.begin(), owner);
}

template <class T>
nb::ndarray<nb::numpy, T> to_numpy_1d(std::vector<T>&& data) {
    std::size_t n = data.size();
    return to_numpy<T>(std::move(data), {n});
}

// A read-only view over native memory kept alive by `owner`.  Strides are in
// elements (nullptr for C order).
template <class T>
nb::ndarray<nb::numpy, const T> readonly_view(const T* data, std::initializer_list<std::size_t> shape,
                                              nb::handle owner, const std::int64_t* strides = nullptr) {
    return nb::ndarray<nb::numpy, const T>(data, shape.size(), shape.begin(), owner, strides);
}

// A 1-D float64 NumPy array argument, read in place when contiguous and
// aligned, copied otherwise; never written.  Anything else is a TypeError
// naming the parameter.
class F64Array {
public:
    F64Array(nb::handle obj, const char* param);
    ~F64Array();
    F64Array(const F64Array&) = delete;
    F64Array& operator=(const F64Array&) = delete;

    const double* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    Py_buffer view_{};
    bool have_view_ = false;
    const double* data_ = nullptr;
    std::size_t size_ = 0;
    std::vector<double> copy_;
};

// The object is a NumPy ndarray (or subclass).
bool is_ndarray(nb::handle obj);

}  // namespace tarvex::py

namespace nanobind::detail {

template <>
struct type_caster<tarvex::py::Index> {
    NB_TYPE_CASTER(tarvex::py::Index, const_name("int"))
    bool from_python(handle src, uint32_t, cleanup_list*) noexcept {
        // Python ints and anything with __index__ (NumPy integers); not floats.
        PyObject* obj = src.ptr();
        nb::object converted;
        if (!PyLong_Check(obj)) {
            if (!PyIndex_Check(obj)) return false;
            converted = nb::steal(PyNumber_Index(obj));
            if (!converted.is_valid()) {
                PyErr_Clear();
                return false;
            }
            obj = converted.ptr();
        }
        int sign = 0;
        long long s = PyLong_AsLongLongAndOverflow(obj, &sign);
        if (s == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        if (sign == 0 && s >= 0) {
            value.v = static_cast<std::uint64_t>(s);
        } else if (sign < 0 || (sign == 0 && s < 0)) {
            value.overflow = value.negative = true;
        } else {
            unsigned long long u = PyLong_AsUnsignedLongLong(obj);
            if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
                PyErr_Clear();
                value.overflow = true;
            } else {
                value.v = u;
            }
        }
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
