// Python face of the injury criteria: hic, hic15, hic36, clip,
// severity_index, bric, ubric, vc, nij, nic and tibia_index, and of resultant,
// which prepares the head or chest resultant for them.  Each criterion returns a
// float, runs on the calling thread with the interpreter lock held and
// converts its arguments in signature order.
#include <vector>

#include "python/bindings.hpp"
#include "python/frame.hpp"
#include "results/injury.hpp"
#include "results/signal.hpp"

namespace tarvex::py {

namespace {

#define TARVEX_F64_ARRAY "numpy.typing.NDArray[numpy.float64]"

injury::Span span_of(const F64Array& a) { return {a.data(), a.size()}; }

nb::object to_array(std::vector<double>&& v) { return nb::cast(to_numpy_1d(std::move(v))); }

const char* const kHicDoc =
    "Head Injury Criterion: the largest (t2 - t1) * (mean acceleration over [t1, t2]) ** 2.5 over all "
    "windows of at most ``window`` seconds.\n\n"
    "``a`` is the resultant head acceleration in g, ``dt`` the sample interval in seconds.  Windows "
    "span at least one and at most n - 1 sample intervals; windows with a negative velocity change "
    "never count.  Fewer than two samples or ``dt`` <= 0 give 0.  ``window`` None means 0.036.";

double run_hic(nb::handle a, nb::handle dt, double window) {
    F64Array x(a, "a");
    const double step = arg_f64(dt, "dt");
    return injury::hic(span_of(x), step, window);
}

}  // namespace

void bind_resultant(nb::module_& m) {
    m.def(
        "resultant",
        [](nb::handle x, nb::handle y, nb::handle z) {
            F64Array xa(x, "x");
            F64Array ya(y, "y");
            F64Array za(z, "z");
            return to_array(signal::resultant(span_of(xa), span_of(ya), span_of(za)));
        },
        nb::arg("x").none(), nb::arg("y").none(), nb::arg("z").none(),
        nb::sig("def resultant(x: " TARVEX_F64_ARRAY ", y: " TARVEX_F64_ARRAY ", z: " TARVEX_F64_ARRAY
                ") -> " TARVEX_F64_ARRAY),
        "Elementwise sqrt(x**2 + y**2 + z**2) over the shortest of the three lengths.");
}

void bind_hic(nb::module_& m) {
    m.def(
        "hic",
        [](nb::handle a, nb::handle dt, nb::handle window) {
            F64Array x(a, "a");
            const double step = arg_f64(dt, "dt");
            const double w = window.is_none() ? 0.036 : arg_f64(window, "window");
            return injury::hic(span_of(x), step, w);
        },
        nb::arg("a").none(), nb::arg("dt").none(), nb::arg("window").none() = nb::float_(0.036),
        nb::sig("def hic(a: " TARVEX_F64_ARRAY ", dt: float, window: float | None = 0.036) -> float"), kHicDoc);
}

void bind_hic15(nb::module_& m) {
    m.def(
        "hic15", [](nb::handle a, nb::handle dt) { return run_hic(a, dt, 0.015); }, nb::arg("a").none(), nb::arg("dt").none(),
        nb::sig("def hic15(a: " TARVEX_F64_ARRAY ", dt: float) -> float"),
        "HIC15: ``hic`` with a window of 0.015 s.");
}

void bind_hic36(nb::module_& m) {
    m.def(
        "hic36", [](nb::handle a, nb::handle dt) { return run_hic(a, dt, 0.036); }, nb::arg("a").none(), nb::arg("dt").none(),
        nb::sig("def hic36(a: " TARVEX_F64_ARRAY ", dt: float) -> float"),
        "HIC36: ``hic`` with a window of 0.036 s.");
}

void bind_clip(nb::module_& m) {
    m.def(
        "clip",
        [](nb::handle a, nb::handle dt, nb::handle window) {
            F64Array x(a, "a");
            const double step = arg_f64(dt, "dt");
            const double w = window.is_none() ? 0.003 : arg_f64(window, "window");
            return injury::clip(span_of(x), step, w);
        },
        nb::arg("a").none(), nb::arg("dt").none(), nb::arg("window").none() = nb::float_(0.003),
        nb::sig("def clip(a: " TARVEX_F64_ARRAY ", dt: float, window: float | None = 0.003) -> float"),
        "The 3 ms clip: the highest level that ``a`` stays at or above for ``window`` seconds.\n\n"
        "The largest, over every run of round(window / dt) consecutive samples (at least one), of the "
        "smallest sample in the run; a channel no longer than the run gives its minimum.  An empty "
        "channel or ``dt`` <= 0 gives 0.  NaN samples are skipped.  ``window`` None means 0.003.");
}

void bind_severity_index(nb::module_& m) {
    m.def(
        "severity_index",
        [](nb::handle a, nb::handle dt) {
            F64Array x(a, "a");
            const double step = arg_f64(dt, "dt");
            return injury::severity_index(span_of(x), step);
        },
        nb::arg("a").none(), nb::arg("dt").none(), nb::sig("def severity_index(a: " TARVEX_F64_ARRAY ", dt: float) -> float"),
        "Gadd severity index: the trapezoidal integral of max(a, 0) ** 2.5 over the channel.\n\n"
        "Negative and NaN samples count as 0; at most one sample or ``dt`` <= 0 gives 0.");
}

void bind_bric(nb::module_& m) {
    m.def(
        "bric",
        [](nb::handle wx, nb::handle wy, nb::handle wz, nb::handle crit_x, nb::handle crit_y, nb::handle crit_z) {
            F64Array x(wx, "wx");
            F64Array y(wy, "wy");
            F64Array z(wz, "wz");
            const double cx = arg_f64(crit_x, "crit_x");
            const double cy = arg_f64(crit_y, "crit_y");
            const double cz = arg_f64(crit_z, "crit_z");
            return injury::bric(span_of(x), span_of(y), span_of(z), cx, cy, cz);
        },
        nb::arg("wx").none(), nb::arg("wy").none(), nb::arg("wz").none(), nb::arg("crit_x").none(), nb::arg("crit_y").none(), nb::arg("crit_z").none(),
        nb::sig("def bric(wx: " TARVEX_F64_ARRAY ", wy: " TARVEX_F64_ARRAY ", wz: " TARVEX_F64_ARRAY
                ", crit_x: float, crit_y: float, crit_z: float) -> float"),
        "Brain Injury Criterion: sqrt(sum((peak |w_i| / crit_i) ** 2)) over the three angular-velocity "
        "channels (rad/s).  The channels may differ in length; an empty one counts as 0.");
}

void bind_ubric(nb::module_& m) {
    m.def(
        "ubric",
        [](nb::handle wx, nb::handle wy, nb::handle wz, nb::handle ax, nb::handle ay, nb::handle az,
           nb::handle crit_wx, nb::handle crit_wy, nb::handle crit_wz, nb::handle crit_ax, nb::handle crit_ay,
           nb::handle crit_az) {
            F64Array xw(wx, "wx");
            F64Array yw(wy, "wy");
            F64Array zw(wz, "wz");
            F64Array xa(ax, "ax");
            F64Array ya(ay, "ay");
            F64Array za(az, "az");
            injury::UbricCriticals c{};
            c.wx = arg_f64(crit_wx, "crit_wx");
            c.wy = arg_f64(crit_wy, "crit_wy");
            c.wz = arg_f64(crit_wz, "crit_wz");
            c.ax = arg_f64(crit_ax, "crit_ax");
            c.ay = arg_f64(crit_ay, "crit_ay");
            c.az = arg_f64(crit_az, "crit_az");
            return injury::ubric(span_of(xw), span_of(yw), span_of(zw), span_of(xa), span_of(ya), span_of(za), c);
        },
        nb::arg("wx").none(), nb::arg("wy").none(), nb::arg("wz").none(), nb::arg("ax").none(), nb::arg("ay").none(), nb::arg("az").none(), nb::arg("crit_wx").none(),
        nb::arg("crit_wy").none(), nb::arg("crit_wz").none(), nb::arg("crit_ax").none(), nb::arg("crit_ay").none(), nb::arg("crit_az").none(),
        nb::sig("def ubric(wx: " TARVEX_F64_ARRAY ", wy: " TARVEX_F64_ARRAY ", wz: " TARVEX_F64_ARRAY
                ", ax: " TARVEX_F64_ARRAY ", ay: " TARVEX_F64_ARRAY ", az: " TARVEX_F64_ARRAY
                ", crit_wx: float, crit_wy: float, crit_wz: float, crit_ax: float, crit_ay: float, "
                "crit_az: float) -> float"),
        "Universal Brain Injury Criterion (exponent 2) from angular velocity (rad/s) and angular "
        "acceleration (rad/s**2).\n\n"
        "Per axis, with w = peak |w| / crit_w and a = peak |a| / crit_a: exp(-a / w) * (a - w) + w, or a "
        "when w is 0; the result is the root of the sum of the squared axis terms.");
}

void bind_vc(nb::module_& m) {
    m.def(
        "vc",
        [](nb::handle y, nb::handle dt, nb::handle scaling_factor, nb::handle deformation_constant) {
            F64Array x(y, "y");
            const double step = arg_f64(dt, "dt");
            const double sf = arg_f64(scaling_factor, "scaling_factor");
            const double dc = arg_f64(deformation_constant, "deformation_constant");
            return injury::vc(span_of(x), step, sf, dc);
        },
        nb::arg("y").none(), nb::arg("dt").none(), nb::arg("scaling_factor").none(), nb::arg("deformation_constant").none(),
        nb::sig("def vc(y: " TARVEX_F64_ARRAY ", dt: float, scaling_factor: float, deformation_constant: float) -> float"),
        "Maximum viscous criterion (VC)max of a chest deflection channel (m).\n\n"
        "The deflection velocity is the five-point central difference; VC = v * scaling_factor * y / "
        "deformation_constant.  The maximum is not clamped at 0.  Fewer than five samples, ``dt`` <= 0 "
        "or a zero ``deformation_constant`` give 0.");
}

void bind_nij(nb::module_& m) {
    m.def(
        "nij",
        [](nb::handle fx, nb::handle fz, nb::handle my, nb::handle distance, nb::handle fzc_te, nb::handle fzc_co,
           nb::handle myc_fl, nb::handle myc_ex) {
            F64Array x(fx, "fx");
            F64Array z(fz, "fz");
            F64Array y(my, "my");
            const double d = arg_f64(distance, "distance");
            injury::NijCriticals c{};
            c.fzc_te = arg_f64(fzc_te, "fzc_te");
            c.fzc_co = arg_f64(fzc_co, "fzc_co");
            c.myc_fl = arg_f64(myc_fl, "myc_fl");
            c.myc_ex = arg_f64(myc_ex, "myc_ex");
            return injury::nij(span_of(x), span_of(z), span_of(y), d, c);
        },
        nb::arg("fx").none(), nb::arg("fz").none(), nb::arg("my").none(), nb::arg("distance").none(), nb::arg("fzc_te").none(), nb::arg("fzc_co").none(),
        nb::arg("myc_fl").none(), nb::arg("myc_ex").none(),
        nb::sig("def nij(fx: " TARVEX_F64_ARRAY ", fz: " TARVEX_F64_ARRAY ", my: " TARVEX_F64_ARRAY
                ", distance: float, fzc_te: float, fzc_co: float, myc_fl: float, myc_ex: float) -> float"),
        "Maximum neck injury criterion Nij over the common length of the channels.\n\n"
        "M = my - fx * distance and F = fz; each sample is M / (myc_fl if M > 0 else myc_ex) + "
        "F / (fzc_co if F <= 0 else fzc_te).  Give the compression and extension criticals as negative "
        "numbers.  The maximum starts from 0.");
}

void bind_nic(nb::module_& m) {
    m.def(
        "nic",
        [](nb::handle a_t1, nb::handle a_head, nb::handle dt) {
            F64Array t1(a_t1, "a_t1");
            F64Array head(a_head, "a_head");
            const double step = arg_f64(dt, "dt");
            return injury::nic(span_of(t1), span_of(head), step);
        },
        nb::arg("a_t1").none(), nb::arg("a_head").none(), nb::arg("dt").none(),
        nb::sig("def nic(a_t1: " TARVEX_F64_ARRAY ", a_head: " TARVEX_F64_ARRAY ", dt: float) -> float"),
        "Maximum neck injury criterion NIC (rear impact), accelerations in m/s**2.\n\n"
        "max(v_rel ** 2 + 0.2 * a_rel) with a_rel = a_t1 - a_head and v_rel its trapezoidal integral, over "
        "the common length.  An empty channel or ``dt`` <= 0 gives 0.");
}

void bind_tibia_index(nb::module_& m) {
    m.def(
        "tibia_index",
        [](nb::handle mx, nb::handle my, nb::handle fz, nb::handle critical_bending_moment,
           nb::handle critical_compression_force) {
            F64Array x(mx, "mx");
            F64Array y(my, "my");
            F64Array z(fz, "fz");
            const double cm = arg_f64(critical_bending_moment, "critical_bending_moment");
            const double cf = arg_f64(critical_compression_force, "critical_compression_force");
            return injury::tibia_index(span_of(x), span_of(y), span_of(z), cm, cf);
        },
        nb::arg("mx").none(), nb::arg("my").none(), nb::arg("fz").none(), nb::arg("critical_bending_moment").none(),
        nb::arg("critical_compression_force").none(),
        nb::sig("def tibia_index(mx: " TARVEX_F64_ARRAY ", my: " TARVEX_F64_ARRAY ", fz: " TARVEX_F64_ARRAY
                ", critical_bending_moment: float, critical_compression_force: float) -> float"),
        "Maximum tibia index |fz / critical_compression_force| + |sqrt(mx**2 + my**2) / "
        "critical_bending_moment| over the common length (moments in N*m, force in N); 0 for empty "
        "channels.");
}

}  // namespace tarvex::py
