// Occupant injury criteria from sampled crash-test channels.  Each returns
// one double; degenerate input (too short channels, a non-positive interval)
// gives the documented neutral value rather than an error.  Maxima skip NaN:
// a NaN candidate never replaces the running value.
#pragma once

#include <cstdint>
#include <span>

namespace tarvex::injury {

using Span = std::span<const double>;

// Samples in a duration: duration / dt rounded half away from zero, with
// negative and NaN giving 0 and huge values the largest count.
std::uint64_t duration_samples(double duration, double dt);

// Head Injury Criterion over all windows of at most `window` seconds
// (at least one sample interval, at most the whole channel).
double hic(Span a, double dt, double window);

// Highest level that the channel stays at or above for `window` seconds.
double clip(Span a, double dt, double window);

// Gadd severity index: trapezoidal integral of max(a, 0)^2.5.
double severity_index(Span a, double dt);

// Brain Injury Criterion from the peak angular velocities.
double bric(Span wx, Span wy, Span wz, double crit_x, double crit_y, double crit_z);

// Universal brain injury criterion from angular velocity and acceleration.
struct UbricCriticals {
    double wx, wy, wz, ax, ay, az;
};
double ubric(Span wx, Span wy, Span wz, Span ax, Span ay, Span az, const UbricCriticals& crit);

// Maximum viscous criterion from a chest deflection channel.
double vc(Span y, double dt, double scaling_factor, double deformation_constant);

// Maximum neck injury criterion Nij (signed critical values).
struct NijCriticals {
    double fzc_te, fzc_co, myc_fl, myc_ex;
};
double nij(Span fx, Span fz, Span my, double distance, const NijCriticals& crit);

// Maximum neck injury criterion NIC for rear impact.
double nic(Span a_t1, Span a_head, double dt);

// Maximum tibia index.
double tibia_index(Span mx, Span my, Span fz, double critical_bending_moment, double critical_compression_force);

}  // namespace tarvex::injury
