// Native signal core: lfilter, poly_from_roots and the message helpers, which
// Python reaches only indirectly.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "results/injury.hpp"
#include "results/signal.hpp"

using namespace tarvex;

TEST(Signal, PolyFromRoots) {
    EXPECT_EQ(signal::poly_from_roots({}), std::vector<double>{1.0});
    std::vector<signal::Complex> r{{2.0, 0.0}, {3.0, 0.0}};
    EXPECT_EQ(signal::poly_from_roots(r), (std::vector<double>{1.0, -5.0, 6.0}));
    std::vector<signal::Complex> c{{0.0, 1.0}, {0.0, -1.0}};
    EXPECT_EQ(signal::poly_from_roots(c), (std::vector<double>{1.0, 0.0, 1.0}));
}

TEST(Signal, LfilterTransposedDirectForm) {
    const std::vector<double> b{0.5, 0.25, 0.125}, a{1.0, -0.5, 0.25}, x{1.0, 2.0, -1.0, 0.5};
    const std::vector<double> zi{0.1};  // padded with a zero
    std::vector<double> z{0.1, 0.0}, expect;
    for (double xv : x) {
        const double y = b[0] * xv + z[0];
        z[0] = (b[1] * xv + z[1]) - a[1] * y;
        z[1] = b[2] * xv - a[2] * y;
        expect.push_back(y);
    }
    EXPECT_EQ(signal::lfilter(b, a, x, zi), expect);
    // a shorter than b has zero feedback beyond its end.
    EXPECT_EQ(signal::lfilter(b, std::vector<double>{1.0}, x, {}),
              signal::lfilter(b, std::vector<double>{1.0, 0.0, 0.0}, x, {}));
    // One coefficient: the gain alone.
    EXPECT_EQ(signal::lfilter(std::vector<double>{2.0}, std::vector<double>{1.0}, x, {}),
              (std::vector<double>{2.0, 4.0, -2.0, 1.0}));
}

TEST(Signal, FiltfiltEmptyDenominator) {
    const std::vector<double> b{0.5, 0.5}, a{}, x{1.0, 2.0, 3.0};
    auto r = signal::filtfilt(b, a, x);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, ErrorKind::Value);
}

TEST(Injury, DurationSamples) {
    EXPECT_EQ(injury::duration_samples(0.0025, 0.001), 3u);  // 2.5 rounds away from zero
    EXPECT_EQ(injury::duration_samples(-1.0, 0.001), 0u);
    EXPECT_EQ(injury::duration_samples(std::nan(""), 0.001), 0u);
    EXPECT_EQ(injury::duration_samples(1e300, 1e-300), std::numeric_limits<std::uint64_t>::max());
}
