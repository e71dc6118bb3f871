// Python face of the signal functions: cfc, butterworth, filtfilt, integrate,
// differentiate, decimate and resample_linear.  All run on the
// calling thread with the interpreter lock held; arguments are converted in
// signature order.
#include <string>

#include "python/bindings.hpp"
#include "python/frame.hpp"
#include "results/signal.hpp"

namespace tarvex::py {

namespace {

#define TARVEX_F64_ARRAY "numpy.typing.NDArray[numpy.float64]"

signal::Span span_of(const F64Array& a) { return {a.data(), a.size()}; }

nb::object to_array(std::vector<double>&& v) { return nb::cast(to_numpy_1d(std::move(v))); }

// The filter order: an int from 0 to 4294967295.
std::uint32_t arg_order(nb::handle arg) {
    nb::object h = arg_int(arg, "order");
    long long v = PyLong_AsLongLong(h.ptr());
    if (v == -1 && PyErr_Occurred()) throw nb::python_error();  // beyond the 64-bit range
    if (v < 0 || v > 4294967295LL) raise(Error::overflow("out of range integral type conversion attempted"));
    return static_cast<std::uint32_t>(v);
}

}  // namespace

void bind_cfc(nb::module_& m) {
    m.def(
        "cfc",
        [](nb::handle values, nb::handle cfc_class, nb::handle dt) {
            F64Array x(values, "values");
            const double c = arg_f64(cfc_class, "cfc");
            const double step = arg_f64(dt, "dt");
            return to_array(signal::cfc(span_of(x), c, step));
        },
        nb::arg("values").none(), nb::arg("cfc").none(), nb::arg("dt").none(),
        nb::sig("def cfc(values: " TARVEX_F64_ARRAY ", cfc: float, dt: float) -> " TARVEX_F64_ARRAY),
        "Zero-phase SAE J211 channel-frequency-class low-pass filter.\n\n"
        "``cfc`` is the channel frequency class in Hz (60, 180, 600, 1000 or any other value) and ``dt`` "
        "the sample interval in seconds.  The second-order J211 design is run forward and backward "
        "(see ``filtfilt``), so the output has no phase shift and is as long as ``values``.  ``cfc`` and "
        "``dt`` are not validated: zero gives non-finite output.");
}

void bind_filtfilt(nb::module_& m) {
    m.def(
        "filtfilt",
        [](nb::handle b, nb::handle a, nb::handle values) {
            std::vector<double> bv = arg_f64_sequence(b, "b");
            std::vector<double> av = arg_f64_sequence(a, "a");
            F64Array x(values, "values");
            return to_array(unwrap(signal::filtfilt(bv, av, span_of(x))));
        },
        nb::arg("b").none(), nb::arg("a").none(), nb::arg("values").none(),
        nb::sig("def filtfilt(b: collections.abc.Sequence[float], a: collections.abc.Sequence[float], values: " TARVEX_F64_ARRAY
                ") -> " TARVEX_F64_ARRAY),
        "Zero-phase forward-backward filtering through the transfer function ``b`` / ``a``.\n\n"
        "The coefficients are divided by ``a[0]`` and the shorter list is padded with zeros.  The "
        "channel is extended at both ends by an odd reflection of ``min(len(values) - 1, 3 * ntaps)`` "
        "samples, filtered forward and then backward starting from the steady-state filter state, and "
        "cut back to its length.  Fewer than two samples or taps return a copy (the gain of a "
        "single-coefficient filter is not applied).  An empty ``a`` raises ValueError.");
}

void bind_butterworth(nb::module_& m) {
    m.def(
        "butterworth",
        [](nb::handle values, nb::handle order, nb::handle cutoff, nb::handle fs, nb::handle btype) {
            F64Array x(values, "values");
            const std::uint32_t n = arg_order(order);
            const double fc = arg_f64(cutoff, "cutoff");
            const double rate = arg_f64(fs, "fs");
            const std::string word = btype.is_none() ? std::string("low") : arg_str(btype, "btype");
            const signal::BandType band = unwrap(signal::parse_band_type(word));
            return to_array(unwrap(signal::butterworth(span_of(x), n, fc, rate, band)));
        },
        nb::arg("values").none(), nb::arg("order").none(), nb::arg("cutoff").none(), nb::arg("fs").none(), nb::arg("btype").none() = nb::str("low"),
        nb::sig("def butterworth(values: " TARVEX_F64_ARRAY
                ", order: int, cutoff: float, fs: float, btype: str | None = 'low') -> " TARVEX_F64_ARRAY),
        "Zero-phase digital Butterworth filter.\n\n"
        "``order`` poles, corner ``cutoff`` Hz at sampling rate ``fs`` Hz, ``btype`` one of 'low', "
        "'lowpass', 'high', 'highpass' (None means 'low').  The standard design (analogue prototype, pre-warping, "
        "bilinear transform) is run forward and backward (see ``filtfilt``).  Raises ValueError for "
        "another ``btype``, a cutoff <= 0, a cutoff not below fs / 2, or an order above 10000; "
        "OverflowError for an order outside 0 .. 4294967295.  Order 0 returns a copy.");
}

void bind_integrate(nb::module_& m) {
    m.def(
        "integrate",
        [](nb::handle values, nb::handle dt) {
            F64Array x(values, "values");
            const double step = arg_f64(dt, "dt");
            return to_array(signal::integrate(span_of(x), step));
        },
        nb::arg("values").none(), nb::arg("dt").none(),
        nb::sig("def integrate(values: " TARVEX_F64_ARRAY ", dt: float) -> " TARVEX_F64_ARRAY),
        "Cumulative trapezoidal integral starting at 0, as long as ``values``.");
}

void bind_differentiate(nb::module_& m) {
    m.def(
        "differentiate",
        [](nb::handle values, nb::handle dt) {
            F64Array x(values, "values");
            const double step = arg_f64(dt, "dt");
            return to_array(signal::differentiate(span_of(x), step));
        },
        nb::arg("values").none(), nb::arg("dt").none(),
        nb::sig("def differentiate(values: " TARVEX_F64_ARRAY ", dt: float) -> " TARVEX_F64_ARRAY),
        "Derivative by central differences, one-sided at both ends; one sample gives [0.0].");
}

void bind_decimate(nb::module_& m) {
    m.def(
        "decimate",
        [](nb::handle values, nb::handle factor) {
            F64Array x(values, "values");
            const std::uint64_t f = arg_count(factor, "factor");
            return to_array(signal::decimate(span_of(x), f));
        },
        nb::arg("values").none(), nb::arg("factor").none(),
        nb::sig("def decimate(values: " TARVEX_F64_ARRAY ", factor: int) -> " TARVEX_F64_ARRAY),
        "Every ``factor``-th sample, starting with the first; ``factor`` 0 or 1 returns a copy.\n\n"
        "No anti-alias filtering: low-pass filter first (for example with ``cfc``).  The new interval "
        "is ``dt * factor``.");
}

void bind_resample_linear(nb::module_& m) {
    m.def(
        "resample_linear",
        [](nb::handle values, nb::handle dt_in, nb::handle dt_out) {
            F64Array x(values, "values");
            const double din = arg_f64(dt_in, "dt_in");
            const double dout = arg_f64(dt_out, "dt_out");
            return to_array(unwrap(signal::resample_linear(span_of(x), din, dout)));
        },
        nb::arg("values").none(), nb::arg("dt_in").none(), nb::arg("dt_out").none(),
        nb::sig("def resample_linear(values: " TARVEX_F64_ARRAY ", dt_in: float, dt_out: float) -> " TARVEX_F64_ARRAY),
        "Linear interpolation from interval ``dt_in`` onto interval ``dt_out``.\n\n"
        "The output has ``floor((n - 1) * dt_in / dt_out) + 1`` samples, the last at or before the last "
        "input time.  A non-positive interval or an empty input gives an empty array; one sample is "
        "returned as is.  An output of 2**32 samples or more raises ValueError.");
}

}  // namespace tarvex::py
