#include "python/present.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nanobind/stl/string.h>

#include "util/text.hpp"

namespace tarvex::py {

namespace {

// The text of a default value in a text signature: the repr of a literal
// (None, bool, int, float, str), "..." for anything else, so the signature
// always reads back.
std::string default_text(nb::handle value) {
    PyObject* v = value.ptr();
    bool literal = value.is_none() || PyBool_Check(v) || PyLong_Check(v) || PyUnicode_Check(v) ||
                   (PyFloat_Check(v) && std::isfinite(PyFloat_AsDouble(v)));  // nan and inf are names
    return literal ? nb::cast<std::string>(nb::repr(value)) : "...";
}

// "def f(a: int, b: list[int] = [], *, c: str | None = None) -> X" -> "(a, b=[], *, c=None)";
// empty when the text is not of that form.  A default written as a numbered
// placeholder ("\0") stands for that entry of `defaults`.
std::string text_signature(std::string_view sig, nb::handle defaults) {
    if (sig.substr(0, 4) == "def ") sig.remove_prefix(4);
    std::size_t open = sig.find('(');
    if (open == std::string_view::npos) return {};
    std::vector<std::string> params;
    std::string cur;
    int depth = 0;
    char quote = 0;
    std::size_t i = open + 1;
    for (; i < sig.size(); ++i) {
        char c = sig[i];
        if (quote) {
            cur.push_back(c);
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') quote = c;
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']' || c == '}') {
            if (depth == 0) break;
            --depth;
        }
        if (c == ',' && depth == 0) {
            params.push_back(cur);
            cur.clear();
            continue;
        }
        cur.push_back(c);
    }
    if (i >= sig.size()) return {};
    if (!text::trim_unicode(cur).empty()) params.push_back(cur);
    std::string out = "(";
    for (std::size_t k = 0; k < params.size(); ++k) {
        std::string_view p = text::trim_unicode(params[k]);
        std::size_t colon = std::string_view::npos, eq = std::string_view::npos;
        int d = 0;
        char q = 0;
        for (std::size_t j = 0; j < p.size(); ++j) {
            char c = p[j];
            if (q) {
                if (c == q) q = 0;
                continue;
            }
            if (c == '\'' || c == '"') q = c;
            if (c == '(' || c == '[' || c == '{') ++d;
            if (c == ')' || c == ']' || c == '}') --d;
            if (d == 0 && c == ':' && colon == std::string_view::npos && eq == std::string_view::npos) colon = j;
            if (d == 0 && c == '=' && eq == std::string_view::npos) eq = j;
        }
        std::string_view name = p.substr(0, std::min(colon, eq));
        if (k) out += ", ";
        out += text::trim_unicode(name);
        if (eq != std::string_view::npos) {
            out += '=';
            std::string_view value = text::trim_unicode(p.substr(eq + 1));
            if (value.size() > 1 && value[0] == '\\' &&
                value.find_first_not_of("0123456789", 1) == std::string_view::npos) {
                std::size_t n = std::stoul(std::string(value.substr(1)));
                bool known = defaults.is_valid() && !defaults.is_none() && n < nb::len(defaults);
                out += known ? default_text(defaults[n]) : "...";
            } else {
                out += value;
            }
        }
    }
    return out + ")";
}

// One forwarding entry point per presented function or method, each calling
// its nanobind function.
constexpr std::size_t kMaxPresented = 512;
PyObject* g_targets[kMaxPresented];
std::size_t g_presented = 0;

template <std::size_t N>
PyObject* forward_call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return PyObject_Vectorcall(g_targets[N], args, static_cast<std::size_t>(nargs), kwnames);
}

// Methods: the instance goes in front of the arguments.
template <std::size_t N>
PyObject* forward_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Py_ssize_t total = nargs + (kwnames ? PyTuple_GET_SIZE(kwnames) : 0);
    PyObject* small[16];
    PyObject** buf = small;
    std::unique_ptr<PyObject*[]> big;
    if (total + 2 > 16) {
        big.reset(new (std::nothrow) PyObject*[static_cast<std::size_t>(total) + 2]);
        if (!big) return PyErr_NoMemory();
        buf = big.get();
    }
    buf[1] = self;
    for (Py_ssize_t i = 0; i < total; ++i) buf[i + 2] = args[i];
    return PyObject_Vectorcall(g_targets[N], buf + 1, static_cast<std::size_t>(nargs + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                               kwnames);
}

using Forward = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
template <std::size_t... I>
constexpr std::array<Forward, sizeof...(I)> make_forwarders(std::index_sequence<I...>) {
    return {&forward_call<I>...};
}
template <std::size_t... I>
constexpr std::array<Forward, sizeof...(I)> make_method_forwarders(std::index_sequence<I...>) {
    return {&forward_method<I>...};
}
constexpr auto kForwarders = make_forwarders(std::make_index_sequence<kMaxPresented>{});
constexpr auto kMethodForwarders = make_method_forwarders(std::make_index_sequence<kMaxPresented>{});

bool is_nb_callable(nb::handle v, const char* kind) {
    std::string_view tp = Py_TYPE(v.ptr())->tp_name;
    return tp == std::string("nanobind.") + kind || tp == kind;
}

// A PyMethodDef for `value` (a nanobind function with one signature and a
// docstring), or nullptr.  `method`: the text signature binds self.
PyMethodDef* presented_def(const std::string& name, nb::handle value, bool method) {
    nb::tuple sigs = nb::borrow<nb::tuple>(value.attr("__nb_signature__"));
    if (sigs.size() != 1) return nullptr;
    nb::tuple sig = nb::borrow<nb::tuple>(sigs[0]);
    if (sig[1].is_none() || g_presented >= kMaxPresented) return nullptr;
    std::string params = text_signature(nb::cast<std::string>(sig[0]), sig.size() > 2 ? sig[2] : nb::handle());
    if (method) {
        if (params.rfind("(self", 0) != 0) return nullptr;
        params = "($self" + params.substr(5);
    }
    std::string doc = nb::cast<std::string>(sig[1]);
    if (!params.empty()) doc = name + params + "\n--\n\n" + doc;
    std::size_t slot = g_presented++;
    g_targets[slot] = value.inc_ref().ptr();  // kept for the life of the process
    // Definitions live as long as the process, like the functions themselves.
    Forward fn = method ? kMethodForwarders[slot] : kForwarders[slot];
    return new PyMethodDef{strdup(name.c_str()), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)),
                           METH_FASTCALL | METH_KEYWORDS, strdup(doc.c_str())};
}

bool running_stubgen() {
    nb::dict modules = nb::borrow<nb::dict>(PyImport_GetModuleDict());
    if (modules.contains("nanobind.stubgen")) return true;
    if (modules.contains("__main__")) {
        nb::handle main = modules["__main__"];
        nb::object file = nb::getattr(main, "__file__", nb::none());
        if (nb::isinstance<nb::str>(file)) {
            std::string f = nb::cast<std::string>(file);
            if (f.size() >= 19 && f.compare(f.size() - 19, 19, "nanobind/stubgen.py") == 0) return true;
        }
    }
    return false;
}

void present_methods(nb::handle cls) {
    nb::dict d = nb::borrow<nb::dict>(nb::handle(reinterpret_cast<PyTypeObject*>(cls.ptr())->tp_dict));
    std::vector<std::pair<nb::object, nb::object>> items;
    for (auto [k, v] : d) items.emplace_back(nb::borrow(k), nb::borrow(v));
    for (auto& [key, value] : items) {
        std::string name = nb::cast<std::string>(key);
        bool dunder = name.rfind("__", 0) == 0 && name != "__init__";  // constructors show their signature too
        if (!dunder && is_nb_callable(value, "nb_func")) {
            // Static methods: a presented function (functions do not bind to instances).
            PyMethodDef* def = presented_def(name, value, false);
            if (!def) continue;
            nb::object f = nb::steal(PyCFunction_NewEx(def, nullptr, nullptr));
            if (!f.is_valid() || PyObject_SetAttr(cls.ptr(), key.ptr(), f.ptr()) != 0) throw nb::python_error();
            continue;
        }
        if (dunder || !is_nb_callable(value, "nb_method")) continue;
        PyMethodDef* def = presented_def(name, value, true);
        if (!def) continue;
        PyObject* descr = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls.ptr()), def);
        if (!descr) throw nb::python_error();
        if (PyObject_SetAttr(cls.ptr(), key.ptr(), descr) != 0) {
            Py_DECREF(descr);
            throw nb::python_error();
        }
        Py_DECREF(descr);
    }
}

}  // namespace

void present_functions(nb::module_& m) {
    // The stub generator reads the typed signatures of the functions as bound.
    if (running_stubgen()) return;
    nb::dict d = nb::borrow<nb::dict>(PyModule_GetDict(m.ptr()));
    std::vector<std::pair<nb::object, nb::object>> items;
    for (auto [k, v] : d) items.emplace_back(nb::borrow(k), nb::borrow(v));
    nb::object module_name = m.attr("__name__");
    for (auto& [key, value] : items) {
        if (PyType_Check(value.ptr())) {
            present_methods(value);
            continue;
        }
        if (!is_nb_callable(value, "nb_func")) continue;
        PyMethodDef* def = presented_def(nb::cast<std::string>(key), value, false);
        if (!def) continue;
        PyObject* f = PyCFunction_NewEx(def, m.ptr(), module_name.ptr());
        if (!f) throw nb::python_error();
        d[key] = nb::steal(f);
    }
}

}  // namespace tarvex::py
