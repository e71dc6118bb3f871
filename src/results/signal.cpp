#include "results/signal.hpp"

#include "util/text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace tarvex::signal {

namespace {

constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kPi = 3.141592653589793;

// A double to an unsigned count: the value's integer part, with negative and
// NaN values giving 0 and values beyond the largest count giving that count.
std::uint64_t saturating_count(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(v);
}

// One transposed-direct-form-II pass over n samples read from x[i * step] and
// written to y[i * step] (x == y filters in place: every sample is
// read before its slot is written).  The delay line z (nb - 1 entries) is
// updated.  The tap count is a template parameter for the common small
// filters so the delay line lives in registers.
template <std::size_t NB>
void tdf2_fixed(const double* b, const double* a, double* z, const double* x, double* y, std::size_t n,
                std::ptrdiff_t step) {
    static_assert(NB >= 2);
    double bb[NB], aa[NB], zz[NB - 1];
    for (std::size_t k = 0; k < NB; ++k) {
        bb[k] = b[k];
        aa[k] = a[k];
    }
    for (std::size_t k = 0; k + 1 < NB; ++k) zz[k] = z[k];
    const auto count = static_cast<std::ptrdiff_t>(n);
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const double xi = x[i * step];
        const double yi = bb[0] * xi + zz[0];
        for (std::size_t j = 0; j + 2 < NB; ++j) zz[j] = (bb[j + 1] * xi + zz[j + 1]) - aa[j + 1] * yi;
        zz[NB - 2] = bb[NB - 1] * xi - aa[NB - 1] * yi;
        y[i * step] = yi;
    }
    for (std::size_t k = 0; k + 1 < NB; ++k) z[k] = zz[k];
}

void tdf2_dynamic(const double* b, const double* a, std::size_t nb, double* z, const double* x, double* y,
                  std::size_t n, std::ptrdiff_t step) {
    const auto count = static_cast<std::ptrdiff_t>(n);
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const double xi = x[i * step];
        const double yi = b[0] * xi + z[0];
        for (std::size_t j = 0; j + 2 < nb; ++j) z[j] = (b[j + 1] * xi + z[j + 1]) - a[j + 1] * yi;
        z[nb - 2] = b[nb - 1] * xi - a[nb - 1] * yi;
        y[i * step] = yi;
    }
}

// Dispatch on the tap count (nb >= 2).
void tdf2(const double* b, const double* a, std::size_t nb, double* z, const double* x, double* y,
          std::size_t n, std::ptrdiff_t step) {
    switch (nb) {
        case 2: return tdf2_fixed<2>(b, a, z, x, y, n, step);
        case 3: return tdf2_fixed<3>(b, a, z, x, y, n, step);
        case 4: return tdf2_fixed<4>(b, a, z, x, y, n, step);
        case 5: return tdf2_fixed<5>(b, a, z, x, y, n, step);
        case 6: return tdf2_fixed<6>(b, a, z, x, y, n, step);
        case 7: return tdf2_fixed<7>(b, a, z, x, y, n, step);
        case 8: return tdf2_fixed<8>(b, a, z, x, y, n, step);
        case 9: return tdf2_fixed<9>(b, a, z, x, y, n, step);
        case 10: return tdf2_fixed<10>(b, a, z, x, y, n, step);
        case 11: return tdf2_fixed<11>(b, a, z, x, y, n, step);
        default: return tdf2_dynamic(b, a, nb, z, x, y, n, step);
    }
}

}  // namespace

std::vector<double> poly_from_roots(std::span<const Complex> roots) {
    std::vector<Complex> c{Complex(1.0, 0.0)};
    std::vector<Complex> next;
    for (const Complex& r : roots) {
        next.assign(c.size() + 1, Complex(0.0, 0.0));
        for (std::size_t j = 0; j < c.size(); ++j) {
            next[j] += c[j];
            next[j + 1] -= c[j] * r;
        }
        c.swap(next);
    }
    std::vector<double> out(c.size());
    for (std::size_t j = 0; j < c.size(); ++j) out[j] = c[j].real();
    return out;
}

std::vector<double> lfilter(Span b, Span a, Span x, Span zi) {
    std::vector<double> y(x.size());
    if (b.size() < 2) {
        // No delay line: only the direct gain applies.
        const double g = b.empty() ? 0.0 : b[0];
        for (std::size_t i = 0; i < x.size(); ++i) y[i] = g * x[i];
        return y;
    }
    // A denominator shorter than the numerator has zero feedback beyond its end.
    std::vector<double> a_padded;
    if (a.size() < b.size()) {
        a_padded.assign(b.size(), 0.0);
        std::copy(a.begin(), a.end(), a_padded.begin());
        a = a_padded;
    }
    std::vector<double> z(b.size() - 1, 0.0);
    std::copy_n(zi.begin(), std::min(zi.size(), z.size()), z.begin());
    tdf2(b.data(), a.data(), b.size(), z.data(), x.data(), y.data(), x.size(), 1);
    return y;
}

Result<std::vector<double>> filtfilt(Span b_in, Span a_in, Span x) {
    const std::size_t n = x.size();
    const std::size_t ntaps = std::max(b_in.size(), a_in.size());
    if (n <= 1 || ntaps <= 1) return std::vector<double>(x.begin(), x.end());
    if (a_in.empty()) return Error::value("filtfilt: the denominator coefficients a must not be empty");

    // Normalise by a[0] and pad the shorter polynomial with zeros.
    std::vector<double> b(ntaps, 0.0), a(ntaps, 0.0);
    const double a0 = a_in[0];
    for (std::size_t k = 0; k < b_in.size(); ++k) b[k] = b_in[k] / a0;
    for (std::size_t k = 0; k < a_in.size(); ++k) a[k] = a_in[k] / a0;

    // Steady-state initial state of a unit step.
    std::vector<double> zi(ntaps - 1);
    double bsum = 0.0, asum_all = 0.0;
    for (std::size_t k = 0; k < ntaps; ++k) bsum += b[k];
    for (std::size_t k = 0; k < ntaps; ++k) asum_all += a[k];
    zi[0] = (bsum - b[0] * asum_all) / asum_all;
    double asum = 1.0, csum = 0.0;
    for (std::size_t k = 1; k + 1 < ntaps; ++k) {
        asum += a[k];
        csum += b[k] - a[k] * b[0];
        zi[k] = asum * zi[0] - csum;
    }

    // Odd extension at both ends, built without zero-filling first.
    const std::size_t edge = std::min(n - 1, 3 * ntaps);
    const std::size_t total = n + 2 * edge;
    std::vector<double> ext;
    ext.reserve(total);
    const double first = x[0], last = x[n - 1];
    for (std::size_t k = edge; k >= 1; --k) ext.push_back(2.0 * first - x[k]);
    ext.insert(ext.end(), x.begin(), x.end());
    for (std::size_t k = 1; k <= edge; ++k) ext.push_back(2.0 * last - x[n - 1 - k]);

    // Forward pass in place, then the backward pass in place walking from
    // the end (the same as reversing, filtering and reversing back).
    std::vector<double> z(ntaps - 1);
    for (std::size_t k = 0; k + 1 < ntaps; ++k) z[k] = zi[k] * ext[0];
    tdf2(b.data(), a.data(), ntaps, z.data(), ext.data(), ext.data(), total, 1);
    for (std::size_t k = 0; k + 1 < ntaps; ++k) z[k] = zi[k] * ext[total - 1];
    tdf2(b.data(), a.data(), ntaps, z.data(), ext.data() + total - 1, ext.data() + total - 1, total, -1);

    // The extended buffer becomes the result: shift the kept part to the front.
    std::copy(ext.begin() + static_cast<std::ptrdiff_t>(edge), ext.begin() + static_cast<std::ptrdiff_t>(edge + n),
              ext.begin());
    ext.resize(n);
    return ext;
}

TransferFunction cfc_design(double cfc, double dt) {
    const double wd = cfc * 6.283185307179586 * 2.0775;
    const double wa = std::tan(wd * dt * 0.5);
    const double wa2 = wa * wa;
    const double d = (1.0 + kSqrt2 * wa) + wa2;
    const double b0 = wa2 / d;
    TransferFunction tf;
    tf.b = {b0, b0 + b0, b0};
    tf.a = {1.0, ((wa2 - 1.0) + (wa2 - 1.0)) / d, -((kSqrt2 * wa - 1.0) - wa2) / d};
    return tf;
}

std::vector<double> cfc(Span x, double cfc_class, double dt) {
    TransferFunction tf = cfc_design(cfc_class, dt);
    // Three taps and a[0] = 1: filtfilt cannot fail here.
    return std::move(filtfilt(tf.b, tf.a, x)).take();
}

Result<BandType> parse_band_type(std::string_view word) {
    if (word == "low" || word == "lowpass") return BandType::Low;
    if (word == "high" || word == "highpass") return BandType::High;
    return Error::value("btype must be 'low' or 'high', got " + text::quoted(word));
}

Result<TransferFunction> butterworth_design(std::uint32_t order, double cutoff, double fs, BandType band) {
    if (cutoff <= 0.0) return Error::value("Illegal Argument: Frequencies Wn must not be zero.");
    const double wn = (cutoff + cutoff) / fs;
    if (wn <= 0.0 || wn >= 1.0)
        return Error::value("Illegal Argument: Digital filter critical frequencies must be 0 < Wn < fs/2 (fs=" +
                            text::format_number(fs) + " -> fs/2=" + text::format_number(fs * 0.5) + ")");
    if (order > kMaxButterworthOrder)
        return Error::value("butterworth: order must be at most " + std::to_string(kMaxButterworthOrder) + ", got " +
                            std::to_string(order));

    const std::size_t nn = order;
    const double nd = static_cast<double>(order);

    // Analogue prototype: poles on the left unit half circle, no zeros, gain 1.
    std::vector<Complex> proto(nn);
    for (std::size_t i = 0; i < nn; ++i) {
        const double m = -nd + 1.0 + 2.0 * static_cast<double>(i);
        const double theta = (kPi * m) / (2.0 * nd);
        proto[i] = Complex(-std::cos(theta), -std::sin(theta));
    }

    // Pre-warped corner at a normalised sampling rate of 2.
    const double w = 4.0 * std::tan(wn * kPi * 0.5);

    std::vector<Complex> zeros, poles(nn);
    double gain;
    if (band == BandType::Low) {
        for (std::size_t i = 0; i < nn; ++i) poles[i] = proto[i] * w;
        gain = std::pow(w, nd);
    } else {
        Complex prod(1.0, 0.0);
        for (std::size_t i = 0; i < nn; ++i) {
            poles[i] = Complex(w, 0.0) / proto[i];
            prod *= -proto[i];
        }
        zeros.assign(nn, Complex(0.0, 0.0));
        gain = (Complex(1.0, 0.0) / prod).real();
    }

    // Bilinear transform (2 * fs = 4).
    Complex num(1.0, 0.0), den(1.0, 0.0);
    for (const Complex& z : zeros) num *= Complex(4.0, 0.0) - z;
    for (const Complex& p : poles) den *= Complex(4.0, 0.0) - p;
    for (Complex& z : zeros) z = (Complex(4.0, 0.0) + z) / (Complex(4.0, 0.0) - z);
    for (Complex& p : poles) p = (Complex(4.0, 0.0) + p) / (Complex(4.0, 0.0) - p);
    while (zeros.size() < poles.size()) zeros.emplace_back(-1.0, 0.0);
    gain *= (num / den).real();

    TransferFunction tf;
    tf.b = poly_from_roots(zeros);
    for (double& c : tf.b) c *= gain;
    tf.a = poly_from_roots(poles);
    return tf;
}

Result<std::vector<double>> butterworth(Span x, std::uint32_t order, double cutoff, double fs, BandType band) {
    Result<TransferFunction> tf = butterworth_design(order, cutoff, fs, band);
    if (!tf) return std::move(tf).error();
    return filtfilt(tf->b, tf->a, x);
}

// ---- Time-series utilities ----------------------------------------------

std::vector<double> integrate(Span v, double dt) {
    std::vector<double> out(v.size());
    if (v.empty()) return out;
    double acc = 0.0;
    out[0] = 0.0;
    for (std::size_t i = 1; i < v.size(); ++i) {
        acc = acc + ((v[i - 1] + v[i]) * dt) * 0.5;
        out[i] = acc;
    }
    return out;
}

std::vector<double> differentiate(Span v, double dt) {
    const std::size_t n = v.size();
    std::vector<double> out(n);
    if (n == 0) return out;
    if (n == 1) {
        out[0] = 0.0;
        return out;
    }
    out[0] = (v[1] - v[0]) / dt;
    const double dt2 = dt * 2.0;
    for (std::size_t i = 1; i + 1 < n; ++i) out[i] = (v[i + 1] - v[i - 1]) / dt2;
    out[n - 1] = (v[n - 1] - v[n - 2]) / dt;
    return out;
}

std::vector<double> decimate(Span v, std::uint64_t factor) {
    if (factor < 2) return std::vector<double>(v.begin(), v.end());
    const std::size_t n = v.size();
    if (n == 0) return {};
    const std::size_t count = (n - 1) / factor + 1;
    std::vector<double> out(count);
    for (std::size_t k = 0; k < count; ++k) out[k] = v[k * factor];
    return out;
}

Result<std::vector<double>> resample_linear(Span v, double dt_in, double dt_out) {
    const std::size_t n = v.size();
    if (!(dt_out > 0.0) || !(dt_in > 0.0) || n == 0) return std::vector<double>{};
    if (n == 1) return std::vector<double>{v[0]};
    const std::uint64_t m = saturating_count(std::floor(static_cast<double>(n - 1) * dt_in / dt_out));
    if (m >= kMaxResampleLength)
        return Error::value("resample_linear: the output would hold more than " + std::to_string(kMaxResampleLength) +
                            " samples");
    std::vector<double> out(static_cast<std::size_t>(m) + 1);
    for (std::size_t l = 0; l < out.size(); ++l) {
        const double p = (static_cast<double>(l) * dt_out) / dt_in;
        const std::uint64_t j = saturating_count(std::floor(p));
        if (j < n - 1) {
            const double f = p - static_cast<double>(j);
            out[l] = f * v[j + 1] + (1.0 - f) * v[j];
        } else {
            out[l] = v[n - 1];
        }
    }
    return out;
}

std::vector<double> resultant(Span x, Span y, Span z) {
    const std::size_t n = std::min({x.size(), y.size(), z.size()});
    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = std::sqrt((x[i] * x[i] + y[i] * y[i]) + z[i] * z[i]);
    return out;
}

}  // namespace tarvex::signal
