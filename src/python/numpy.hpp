// NumPy marshalling: arrays handed to NumPy without a copy, read-only views
// over native memory, and the one reader of caller arrays (any strides).
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "python/errors.hpp"

namespace tarvex::py {

namespace nb = nanobind;

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

// The object is a NumPy ndarray (or subclass).
bool is_ndarray(nb::handle obj);

// A caller's NumPy array read through the buffer protocol (any strides,
// never written), released on scope exit.
class ArrayView {
public:
    ArrayView() = default;
    ~ArrayView();
    ArrayView(const ArrayView&) = delete;
    ArrayView& operator=(const ArrayView&) = delete;

    // Take the buffer of `obj`; false when it is not an ndarray or refuses.
    bool get(nb::handle obj);

    const Py_buffer& view() const noexcept { return view_; }
    int ndim() const noexcept { return view_.ndim; }
    std::size_t itemsize() const noexcept { return static_cast<std::size_t>(view_.itemsize); }
    std::size_t shape(int d) const noexcept { return static_cast<std::size_t>(view_.shape[d]); }
    // The format letter without a byte-order prefix ('\0' for compound formats).
    char format() const noexcept;
    // Number of elements.
    std::size_t size() const noexcept;
    // Call f(pointer to element) for every element in logical (C) order.
    template <class F>
    void each(F&& f) const;

private:
    Py_buffer view_{};
    bool have_ = false;
};

template <class F>
void ArrayView::each(F&& f) const {
    const int nd = view_.ndim;
    const std::size_t n = size();
    if (n == 0) return;
    const char* p = static_cast<const char*>(view_.buf);
    if (nd == 0) {
        f(p);
        return;
    }
    std::vector<Py_ssize_t> idx(static_cast<std::size_t>(nd), 0);
    for (std::size_t k = 0; k < n; ++k) {
        f(p);
        for (int d = nd - 1; d >= 0; --d) {
            if (++idx[d] < view_.shape[d]) {
                p += view_.strides[d];
                break;
            }
            p -= view_.strides[d] * (view_.shape[d] - 1);
            idx[d] = 0;
        }
    }
}

// A 1-D float64 NumPy array argument, read in place when contiguous and
// aligned, copied otherwise; never written.  Anything else is a TypeError
// naming the parameter.
class F64Array {
public:
    F64Array(nb::handle obj, const char* param);

    const double* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    ArrayView array_;
    const double* data_ = nullptr;
    std::size_t size_ = 0;
    std::vector<double> copy_;
};

// Storage of OwnedArray: `count` elements of `size` bytes (std::bad_alloc when
// that cannot be allocated), freed by free_array.
void* allocate_array(std::size_t count, std::size_t size);
void free_array(void* p) noexcept;

// An uninitialised native buffer of n elements, handed to NumPy without a
// copy.  Large buffers are aligned for transparent huge pages, which saves
// most of the page faults of filling them.
template <class T>
class OwnedArray {
public:
    explicit OwnedArray(std::size_t count) : data_(static_cast<T*>(allocate_array(count, sizeof(T)))) {}
    ~OwnedArray() { free_array(data_); }
    OwnedArray(const OwnedArray&) = delete;
    OwnedArray& operator=(const OwnedArray&) = delete;

    T* data() noexcept { return data_; }
    // The array of the given shape; the buffer now belongs to it.
    nb::object to_numpy(std::initializer_list<std::size_t> shape) {
        T* raw = data_;
        data_ = nullptr;
        nb::capsule owner(raw, [](void* p) noexcept { free_array(p); });
        return nb::cast(nb::ndarray<nb::numpy, T>(raw, shape.size(), shape.begin(), owner));
    }

private:
    T* data_;
};

}  // namespace tarvex::py
