// Signal processing on sampled channels: forward-backward (zero-phase)
// filtering of transfer functions, the SAE J211 CFC and Butterworth designs,
// and the small time-series utilities (integral, derivative, decimation,
// linear resampling, resultant).
//
// Everything here is plain arithmetic on spans of doubles and runs on the
// calling thread; no function keeps state between calls.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/error.hpp"

namespace tarvex::signal {

using Complex = std::complex<double>;
using Span = std::span<const double>;

// Real parts of the coefficients of the monic polynomial prod(x - r), highest
// power first: roots.size() + 1 entries starting with 1.
std::vector<double> poly_from_roots(std::span<const Complex> roots);

// Transposed direct form II filter through the normalised transfer function
// (b, a) starting from the delay line `zi` (cut or zero-padded to b.size() - 1
// entries).  a[0] is taken as 1 and never read; a must be at least as long as
// b and b must hold at least two coefficients.  The final state is dropped.
std::vector<double> lfilter(Span b, Span a, Span x, Span zi);

// Zero-phase forward-backward filtering with an odd extension of
// min(n - 1, 3 * ntaps) samples at each end and the steady-state initial
// state.  Fewer than two samples or taps give a copy of x.  An empty `a`
// (with at least two samples and taps) is refused.
Result<std::vector<double>> filtfilt(Span b, Span a, Span x);

// Transfer function of the SAE J211 channel-frequency-class low-pass filter
// for class `cfc` (Hz) at sample interval `dt` (s): three coefficients each.
struct TransferFunction {
    std::vector<double> b;
    std::vector<double> a;
};
TransferFunction cfc_design(double cfc, double dt);

// The CFC filter applied with filtfilt.
std::vector<double> cfc(Span x, double cfc, double dt);

enum class BandType { Low, High };

// "low"/"lowpass" or "high"/"highpass", matched exactly.
Result<BandType> parse_band_type(std::string_view word);

// Digital Butterworth design of `order` poles with corner `cutoff` Hz at
// sampling rate `fs` Hz, as polynomials of order + 1 coefficients.  Checks,
// in order: cutoff > 0, 0 < 2 * cutoff / fs < 1, order at most
// kMaxButterworthOrder (the design is quadratic in the order, and far below
// this bound the polynomial coefficients are already meaningless).
inline constexpr std::uint32_t kMaxButterworthOrder = 10000;
Result<TransferFunction> butterworth_design(std::uint32_t order, double cutoff, double fs, BandType band);

// The Butterworth filter applied with filtfilt.
Result<std::vector<double>> butterworth(Span x, std::uint32_t order, double cutoff, double fs, BandType band);

// ---- Time-series utilities ----------------------------------------------

// Cumulative trapezoidal integral starting at 0, as long as the input.
std::vector<double> integrate(Span v, double dt);

// Central differences inside, one-sided differences at both ends; a single
// sample gives [0].
std::vector<double> differentiate(Span v, double dt);

// Every factor-th sample starting with the first; factor 0 or 1 copies.
std::vector<double> decimate(Span v, std::uint64_t factor);

// Linear interpolation from interval dt_in onto interval dt_out; the last
// output sample lies at or before the last input time.  An output of
// kMaxResampleLength samples or more (32 GiB) is refused instead of allocated.
inline constexpr std::uint64_t kMaxResampleLength = std::uint64_t{1} << 32;
Result<std::vector<double>> resample_linear(Span v, double dt_in, double dt_out);

// sqrt(x^2 + y^2 + z^2) over the common length.
std::vector<double> resultant(Span x, Span y, Span z);

}  // namespace tarvex::signal
