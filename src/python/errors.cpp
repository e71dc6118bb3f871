#include "python/errors.hpp"

namespace tarvex::py {

Error to_error(const results::LsdaError& e) {
    using Kind = results::LsdaError::Kind;
    switch (e.kind) {
        case Kind::FileNotFound: return Error::not_found(e.message());
        case Kind::SymbolNotFound:
        case Kind::EntityNotFound: return Error::key(e.message());
        default: return Error::runtime(e.message());
    }
}

// A block or field that is not there is a KeyError; every other d3plot
// failure (open, read, write) a RuntimeError.
Error to_error(const d3plot::D3plotError& e) {
    if (e.kind == d3plot::D3plotError::Kind::Missing) return Error::key(e.message());
    return Error::runtime(e.message());
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

[[noreturn]] void raise(const Error& e) { throw ErrorException(e); }

void init_errors(nb::module_&) {
    if (!g_panic) {
        g_panic = PyErr_NewExceptionWithDoc(
            "tarvex.PanicException",
            "An unrecoverable internal failure of the native code (a broken invariant). Derived from "
            "BaseException, so `except Exception` does not swallow it.",
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

}  // namespace tarvex::py
