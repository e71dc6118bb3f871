#include "python/numpy.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace tarvex::py {

bool is_ndarray(nb::handle obj) {
    static PyObject* nd = [] {
        nb::module_ np = nb::module_::import_("numpy");
        return np.attr("ndarray").inc_ref().ptr();
    }();
    return PyObject_IsInstance(obj.ptr(), nd) == 1;
}

bool ArrayView::get(nb::handle obj) {
    if (have_ || !is_ndarray(obj)) return false;
    if (PyObject_GetBuffer(obj.ptr(), &view_, PyBUF_RECORDS_RO) != 0) {
        PyErr_Clear();
        return false;
    }
    have_ = true;
    return true;
}

ArrayView::~ArrayView() {
    if (have_) PyBuffer_Release(&view_);
}

char ArrayView::format() const noexcept {
    const char* f = view_.format ? view_.format : "B";
    if (*f == '<' || *f == '=' || *f == '@') ++f;
    return f[0] && !f[1] ? f[0] : '\0';
}

std::size_t ArrayView::size() const noexcept {
    std::size_t n = 1;
    for (int i = 0; i < view_.ndim; ++i) n *= static_cast<std::size_t>(view_.shape[i]);
    return n;
}

F64Array::F64Array(nb::handle obj, const char* param) {
    if (!array_.get(obj) || array_.ndim() != 1 || array_.itemsize() != 8 || array_.format() != 'd')
        raise(Error::type(std::string("argument '") + param + "' must be a 1-D numpy.ndarray of dtype float64"));
    const Py_buffer& v = array_.view();
    size_ = array_.shape(0);
    Py_ssize_t stride = v.strides ? v.strides[0] : 8;
    auto addr = reinterpret_cast<std::uintptr_t>(v.buf);
    if ((stride == 8 || size_ <= 1) && addr % alignof(double) == 0) {
        data_ = static_cast<const double*>(v.buf);
        return;
    }
    copy_.resize(size_);
    double* out = copy_.data();
    array_.each([&](const char* p) { std::memcpy(out++, p, sizeof(double)); });
    data_ = copy_.data();
}

void* allocate_array(std::size_t count, std::size_t size) {
    constexpr std::size_t kHuge = 2u << 20;
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(count, size, &bytes)) throw std::bad_alloc();
    void* data = nullptr;
    if (bytes >= 2 * kHuge) {
        std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        data = std::aligned_alloc(kHuge, rounded);
        if (data) ::madvise(data, rounded, MADV_HUGEPAGE);
    } else {
        data = std::malloc(bytes ? bytes : 1);
    }
    if (!data) throw std::bad_alloc();
    return data;
}

void free_array(void* p) noexcept { std::free(p); }

}  // namespace tarvex::py
