#include "python/frame.hpp"

namespace tarvex::py {

SharedClaim::SharedClaim(const Claimable& o) : obj_(o) {
    std::int64_t cur = o.claim_state_.load(std::memory_order_acquire);
    for (;;) {
        if (cur < 0) raise(Error::runtime("Already mutably borrowed"));
        if (o.claim_state_.compare_exchange_weak(cur, cur + 1, std::memory_order_acq_rel)) return;
    }
}

ExclusiveClaim::ExclusiveClaim(const Claimable& o) : obj_(o) {
    std::int64_t expected = 0;
    if (!o.claim_state_.compare_exchange_strong(expected, -1, std::memory_order_acq_rel))
        raise(Error::runtime("Already borrowed"));
}

std::uint64_t Index::get(const char* param) const {
    if (overflow)
        raise(Error::overflow(negative ? std::string("can't convert negative int to unsigned (argument '") + param + "')"
                                       : std::string("int too big to convert (argument '") + param + "')"));
    return v;
}

namespace {
PyObject* g_panic = nullptr;

// Set the Python error for a native error value.
void set_python_error(const Error& e) {
    switch (e.kind) {
        case ErrorKind::Index: PyErr_SetString(PyExc_IndexError, e.message.c_str()); return;
        case ErrorKind::Key: {
            nb::str msg(e.message.c_str(), e.message.size());
            PyErr_SetObject(PyExc_KeyError, msg.ptr());
            return;
        }
        case ErrorKind::Value: PyErr_SetString(PyExc_ValueError, e.message.c_str()); return;
        case ErrorKind::Type: PyErr_SetString(PyExc_TypeError, e.message.c_str()); return;
        case ErrorKind::Overflow: PyErr_SetString(PyExc_OverflowError, e.message.c_str()); return;
        case ErrorKind::OS: {
            if (e.os_errno == 0) {
                PyErr_SetString(PyExc_OSError, e.message.c_str());
                return;
            }
            // The subclass Python picks for the error number (FileNotFoundError,
            // PermissionError, ...), with the text as its message and `errno` set.
            PyObject* probe = Py_BuildValue("(is)", e.os_errno, "");
            PyObject* probe_exc = probe ? PyObject_Call(PyExc_OSError, probe, nullptr) : nullptr;
            Py_XDECREF(probe);
            PyObject* cls = probe_exc ? reinterpret_cast<PyObject*>(Py_TYPE(probe_exc)) : PyExc_OSError;
            PyObject* exc = PyObject_CallFunction(cls, "s", e.message.c_str());
            Py_XDECREF(probe_exc);
            if (!exc) return;
            PyObject* num = PyLong_FromLong(e.os_errno);
            if (num) {
                PyObject_SetAttrString(exc, "errno", num);
                Py_DECREF(num);
            }
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc)), exc);
            Py_DECREF(exc);
            return;
        }
        case ErrorKind::FileNotFound: PyErr_SetString(PyExc_FileNotFoundError, e.message.c_str()); return;
        case ErrorKind::Runtime: PyErr_SetString(PyExc_RuntimeError, e.message.c_str()); return;
    }
    PyErr_SetString(PyExc_RuntimeError, e.message.c_str());
}
}  // namespace

PyObject* panic_type() noexcept { return g_panic; }

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

[[noreturn]] void raise(const Error& e) { throw ErrorException(e); }

void init_errors(nb::module_&) {
    if (!g_panic) {
        g_panic = PyErr_NewExceptionWithDoc(
            "tarvex.PanicException",
            "An unrecoverable internal failure of the native code (a broken invariant, or a file that "
            "exists but cannot be opened or mapped during an include walk). Derived from BaseException, "
            "so `except Exception` does not swallow it.",
            PyExc_BaseException, nullptr);
        if (!g_panic) throw nb::python_error();
        // Reachable without being an attribute of _tarvex: the tarvex package
        // re-exports it as tarvex.PanicException.
        PyObject* holder = PyModule_New("_tarvex_runtime");
        if (!holder) throw nb::python_error();
        Py_INCREF(g_panic);
        PyModule_AddObject(holder, "PanicException", g_panic);
        PyObject* modules = PyImport_GetModuleDict();
        PyDict_SetItemString(modules, "_tarvex_runtime", holder);
        Py_DECREF(holder);
    }
    nb::module_::import_("atexit").attr("register")(nb::cpp_function(&release_enum_members));
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const ErrorException& e) {
            set_python_error(e.error());
        } catch (const Panic& e) {
            PyErr_SetString(g_panic, e.what());
        }
    });
}

bool is_ndarray(nb::handle obj) {
    static PyObject* nd = [] {
        nb::module_ np = nb::module_::import_("numpy");
        return np.attr("ndarray").inc_ref().ptr();
    }();
    return PyObject_IsInstance(obj.ptr(), nd) == 1;
}

F64Array::F64Array(nb::handle obj, const char* param) {
    auto refuse = [&]() {
        raise(Error::type(std::string("argument '") + param + "' must be a 1-D numpy.ndarray of dtype float64"));
    };
    if (!is_ndarray(obj)) refuse();
    if (PyObject_GetBuffer(obj.ptr(), &view_, PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
        PyErr_Clear();
        refuse();
    }
    have_view_ = true;
    const char* f = view_.format ? view_.format : "B";
    if (*f == '<' || *f == '=' || *f == '@') ++f;
    if (view_.ndim != 1 || view_.itemsize != 8 || std::strcmp(f, "d") != 0) refuse();
    size_ = static_cast<std::size_t>(view_.shape[0]);
    Py_ssize_t stride = view_.strides ? view_.strides[0] : 8;
    auto addr = reinterpret_cast<std::uintptr_t>(view_.buf);
    if ((stride == 8 || size_ <= 1) && addr % alignof(double) == 0) {
        data_ = static_cast<const double*>(view_.buf);
        return;
    }
    copy_.resize(size_);
    const char* base = static_cast<const char*>(view_.buf);
    for (std::size_t i = 0; i < size_; ++i)
        std::memcpy(&copy_[i], base + static_cast<Py_ssize_t>(i) * stride, sizeof(double));
    data_ = copy_.data();
}

F64Array::~F64Array() {
    if (have_view_) PyBuffer_Release(&view_);
}

}  // namespace tarvex::py
