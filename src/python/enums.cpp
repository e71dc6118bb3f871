#include "python/enums.hpp"

namespace tarvex::py {

std::vector<EnumTable*>& enum_tables() {
    static auto* all = new std::vector<EnumTable*>();
    return *all;
}

namespace {
// Drop the enumeration members when the interpreter exits, before the module
// is torn down: the class attributes and the table's references (a member and
// its class refer to each other, which nothing else would break).
void release_enum_members() {
    for (EnumTable* t : enum_tables()) {
        if (t->cls)
            for (const auto& [name, value] : t->members)
                if (PyObject_DelAttrString(t->cls, name.c_str()) != 0) PyErr_Clear();
        for (PyObject* o : t->objects) Py_DECREF(o);
        t->objects.clear();
        t->members.clear();
    }
}
}  // namespace

void init_enums(nb::module_&) {
    nb::module_::import_("atexit").attr("register")(nb::cpp_function(&release_enum_members));
}

}  // namespace tarvex::py
