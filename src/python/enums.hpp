// The enumeration classes (StateBlock, InterfaceField, ...): one template for all.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "python/errors.hpp"

namespace tarvex::py {

namespace nb = nanobind;

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

}  // namespace tarvex::py
