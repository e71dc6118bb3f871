#include "results/injury.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "results/signal.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarvex::injury {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Running maximum in which a NaN candidate never replaces the current value.
inline double nan_skip_max(double current, double candidate) { return candidate > current ? candidate : current; }

// Running minimum with the same NaN rule.
inline double nan_skip_min(double current, double candidate) { return candidate < current ? candidate : current; }

// NaN-skipping maximum of |x|, starting from 0.
double peak_magnitude(Span x) {
    double m = 0.0;
    for (double v : x) m = nan_skip_max(m, std::fabs(v));
    return m;
}

// max over k < len of ((d*d)*(d*d))*d*r[k] with d = v[k] - base, folded into
// g with the NaN-skipping rule.  The lanes of the vector path only ever hold
// non-NaN values, so their order of combination does not matter.
double hic_row(const double* v, const double* r, std::size_t len, double base, double g) {
    std::size_t k = 0;
#if defined(__SSE2__)
    if (len >= 4) {
        const __m128d b = _mm_set1_pd(base);
        __m128d g0 = _mm_set1_pd(g), g1 = g0;
        for (; k + 4 <= len; k += 4) {
            __m128d d0 = _mm_sub_pd(_mm_loadu_pd(v + k), b);
            __m128d d1 = _mm_sub_pd(_mm_loadu_pd(v + k + 2), b);
            __m128d s0 = _mm_mul_pd(d0, d0), s1 = _mm_mul_pd(d1, d1);
            __m128d q0 = _mm_mul_pd(_mm_mul_pd(_mm_mul_pd(s0, s0), d0), _mm_loadu_pd(r + k));
            __m128d q1 = _mm_mul_pd(_mm_mul_pd(_mm_mul_pd(s1, s1), d1), _mm_loadu_pd(r + k + 2));
            // maxpd(q, g) is (q > g) ? q : g lane by lane: NaN q keeps g.
            g0 = _mm_max_pd(q0, g0);
            g1 = _mm_max_pd(q1, g1);
        }
        double lanes[4];
        _mm_storeu_pd(lanes, g0);
        _mm_storeu_pd(lanes + 2, g1);
        for (double l : lanes) g = nan_skip_max(g, l);
    }
#endif
    for (; k < len; ++k) {
        const double d = v[k] - base;
        const double q = ((d * d) * (d * d)) * d * r[k];
        g = nan_skip_max(g, q);
    }
    return g;
}

// The largest minimum over all runs of `width` consecutive samples
// (1 <= width < n), computed block by block (van Herk / Gil-Werman): the
// minimum of a run that starts in one block of `width` samples and ends in
// the next is the smaller of a suffix minimum of the first block and a prefix
// minimum of the second.  Branch-free, unlike the monotonic queue, and equal
// to it, ties included (both keep the latest of equal samples), as long as no
// sample is NaN; false when one is.
bool clip_blocks(Span a, std::size_t width, double& result) {
    const std::size_t n = a.size();
    std::vector<double> suffix(width);  // suffix minima of the previous block
    bool nan = false;
    auto fill_suffix = [&](std::size_t start) {
        const std::size_t end = std::min(start + width, n);
        double m = kInf;
        for (std::size_t i = end; i-- > start;) {
            const double x = a[i];
            nan |= x != x;
            m = x < m ? x : m;
            suffix[i - start] = m;
        }
    };
    fill_suffix(0);
    double best = suffix[0];  // the first run is the first block
    for (std::size_t start = width; start < n; start += width) {
        const std::size_t end = std::min(start + width, n);
        double prefix = kInf;
        for (std::size_t e = start; e < end; ++e) {
            const double x = a[e];
            prefix = x <= prefix ? x : prefix;
            const std::size_t r = e - start + 1;
            const double run_min = r < width ? (suffix[r] < prefix ? suffix[r] : prefix) : prefix;
            best = run_min > best ? run_min : best;
        }
        fill_suffix(start);
    }
    result = best;
    return !nan;
}

}  // namespace

std::uint64_t duration_samples(double duration, double dt) {
    const double x = std::round(duration / dt);
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(x);
}

double hic(Span a, double dt, double window) {
    const std::size_t n = a.size();
    if (n < 2 || dt <= 0.0) return 0.0;
    const std::vector<double> v = signal::integrate(a, dt);
    const std::uint64_t w = duration_samples(window, dt);
    const std::size_t wmax = w == 0 ? 1 : static_cast<std::size_t>(std::min<std::uint64_t>(w, n - 1));

    // r[k - 1] = 1 / k^3 for window lengths k = 1 .. wmax.
    std::vector<double> r(wmax);
    for (std::size_t k = 1; k <= wmax; ++k) {
        const double kd = static_cast<double>(k);
        r[k - 1] = 1.0 / (kd * kd * kd);
    }

    double g = 0.0;
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const std::size_t len = std::min(wmax, n - 1 - i);
        g = hic_row(v.data() + i + 1, r.data(), len, v[i], g);
    }
    return g > 0.0 ? std::sqrt(g / (dt * dt * dt)) : 0.0;
}

double clip(Span a, double dt, double window) {
    const std::size_t n = a.size();
    if (dt <= 0.0 || n == 0) return 0.0;
    const std::uint64_t m = duration_samples(window, dt);
    const std::uint64_t span = std::max<std::uint64_t>(m, 1);
    if (span >= n) {
        double lo = kInf;
        for (double x : a) lo = nan_skip_min(lo, x);
        return lo;
    }
    const std::size_t width = static_cast<std::size_t>(span);
    if (double result; clip_blocks(a, width, result)) return result;
    // With NaN samples: the monotonic queue of indices whose samples increase
    // from front to back.  Every index enters once, so a plain array with two
    // cursors suffices.
    std::vector<std::size_t> q(n);
    std::size_t head = 0, tail = 0;
    double best = -kInf;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = a[i];
        while (tail > head && a[q[tail - 1]] >= x) --tail;
        q[tail++] = i;
        if (i >= q[head] + width) ++head;
        if (i + 1 >= width) best = nan_skip_max(best, a[q[head]]);
    }
    return best;
}

double severity_index(Span a, double dt) {
    const std::size_t n = a.size();
    if (dt <= 0.0 || n <= 1) return 0.0;
    // The trapezoidal integral of p = max(a, 0)^2.5, accumulated exactly as
    // signal::integrate does, keeping only its last value.
    auto p = [](double x) { return x > 0.0 ? std::pow(x, 2.5) : 0.0; };
    double acc = 0.0, prev = p(a[0]);
    for (std::size_t i = 1; i < n; ++i) {
        const double cur = p(a[i]);
        acc = acc + ((prev + cur) * dt) * 0.5;
        prev = cur;
    }
    return acc;
}

double bric(Span wx, Span wy, Span wz, double crit_x, double crit_y, double crit_z) {
    const double x = peak_magnitude(wx) / crit_x;
    const double y = peak_magnitude(wy) / crit_y;
    const double z = peak_magnitude(wz) / crit_z;
    return std::sqrt((x * x + y * y) + z * z);
}

double ubric(Span wx, Span wy, Span wz, Span ax, Span ay, Span az, const UbricCriticals& c) {
    auto term = [](Span w, double cw, Span acc, double ca) {
        const double ws = peak_magnitude(w) / cw;
        const double as = peak_magnitude(acc) / ca;
        if (ws == 0.0) return as;
        return std::exp(-as / ws) * (as - ws) + ws;
    };
    const double x = term(wx, c.wx, ax, c.ax);
    const double y = term(wy, c.wy, ay, c.ay);
    const double z = term(wz, c.wz, az, c.az);
    return std::sqrt((x * x + y * y) + z * z);
}

double vc(Span y, double dt, double scaling_factor, double deformation_constant) {
    const std::size_t n = y.size();
    if (deformation_constant == 0.0 || dt <= 0.0 || n < 5) return 0.0;
    const double den = 12.0 * dt;
    double best = -kInf;
    for (std::size_t i = 2; i + 2 < n; ++i) {
        const double v = (8.0 * (y[i + 1] - y[i - 1]) - (y[i + 2] - y[i - 2])) / den;
        best = nan_skip_max(best, v * (scaling_factor * (y[i] / deformation_constant)));
    }
    return best;
}

double nij(Span fx, Span fz, Span my, double distance, const NijCriticals& c) {
    const std::size_t n = std::min({fx.size(), fz.size(), my.size()});
    double best = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double m = my[i] - fx[i] * distance;
        const double f = fz[i];
        const double value = m / (m > 0.0 ? c.myc_fl : c.myc_ex) + f / (f <= 0.0 ? c.fzc_co : c.fzc_te);
        best = nan_skip_max(best, value);
    }
    return best;
}

double nic(Span a_t1, Span a_head, double dt) {
    const std::size_t n = std::min(a_t1.size(), a_head.size());
    if (dt <= 0.0 || n == 0) return 0.0;
    // The relative velocity is the trapezoidal integral of the relative
    // acceleration, accumulated exactly as signal::integrate does.
    double best = -kInf;
    double v = 0.0, prev = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double rel = a_t1[i] - a_head[i];
        if (i > 0) v = v + ((prev + rel) * dt) * 0.5;
        prev = rel;
        best = nan_skip_max(best, v * v + rel * 0.2);
    }
    return best;
}

double tibia_index(Span mx, Span my, Span fz, double critical_bending_moment, double critical_compression_force) {
    const std::size_t n = std::min({mx.size(), my.size(), fz.size()});
    double best = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double moment = std::sqrt(mx[i] * mx[i] + my[i] * my[i]);
        const double value =
            std::fabs(fz[i] / critical_compression_force) + std::fabs(moment / critical_bending_moment);
        best = nan_skip_max(best, value);
    }
    return best;
}

}  // namespace tarvex::injury
