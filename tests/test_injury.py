"""Injury criteria: HIC, clip, severity index, BRIC, uBRIC, VC, Nij, NIC and
the tibia index, against brute-force references and the documented edge cases."""

import math

import numpy as np
import pytest

import _tarvex as t

NAN = float("nan")
INF = float("inf")


@pytest.fixture
def rng():
    return np.random.default_rng(42)


def arr(*v):
    return np.array(v, dtype=np.float64)


def samples(duration, dt):
    """Duration to a sample count: nearest, halves away from zero, saturated."""
    x = duration / dt
    if math.isnan(x) or x <= 0:
        return 0
    r = math.floor(abs(x) + 0.5)
    return min(r, 2**64 - 1)


# ---- HIC -------------------------------------------------------------------------


def brute_hic(a, dt, window):
    n = len(a)
    if n < 2 or dt <= 0:
        return 0.0
    v = [0.0] * n
    for i in range(1, n):
        v[i] = v[i - 1] + ((a[i - 1] + a[i]) * dt) * 0.5
    w = samples(window, dt)
    wmax = 1 if w == 0 else min(w, n - 1)
    g = 0.0
    for i in range(n - 1):
        for j in range(i + 1, min(i + wmax, n - 1) + 1):
            d = v[j] - v[i]
            k = j - i
            q = (d * d) * (d * d) * d * (1.0 / (k * k * k))
            if q > g:
                g = q
    return math.sqrt(g / (dt * dt * dt)) if g > 0 else 0.0


def numpy_hic(a, dt, window):
    """Independent formulation: (t2 - t1) * mean^2.5 over all windows."""
    v = np.concatenate([[0.0], np.cumsum((a[:-1] + a[1:]) * dt * 0.5)])
    n = len(a)
    wmax = max(1, min(samples(window, dt), n - 1))
    best = 0.0
    for k in range(1, wmax + 1):
        dv = v[k:] - v[:-k]
        dv = dv[dv > 0]
        if dv.size:
            T = k * dt
            best = max(best, float(np.max(T * (dv / T) ** 2.5)))
    return best


def test_hic_constant_one_g():
    a = np.ones(101)  # 0.1 s at 1 kHz
    assert t.hic(a, 0.001) == pytest.approx(0.036, rel=1e-12)
    assert t.hic36(a, 0.001) == pytest.approx(0.036, rel=1e-12)
    assert t.hic15(a, 0.001) == pytest.approx(0.015, rel=1e-12)


@pytest.mark.parametrize(
    "a,dt",
    [
        ([5.0], 0.001),
        ([], 0.001),
        ([1.0, 2.0, 3.0], 0.0),
        ([1.0, 2.0, 3.0], -0.001),
        ([-1.0, -2.0, -3.0, -0.5], 0.001),
        ([0.0, 0.0, 0.0], 0.001),
        ([NAN, NAN, NAN], 0.001),
    ],
)
def test_hic_zero_cases(a, dt):
    assert t.hic(np.array(a, dtype=np.float64), dt) == 0.0


def test_hic_short_window_uses_single_intervals(rng):
    a = np.abs(rng.standard_normal(50)) * 10
    one = brute_hic(list(a), 0.001, 0.001)
    for window in (0.0, 0.0004, -1.0, NAN, 0.001):
        assert t.hic(a, 0.001, window) == one


def test_hic_long_window_uses_whole_channel(rng):
    a = np.abs(rng.standard_normal(30)) * 10
    full = brute_hic(list(a), 0.001, 1.0)
    for window in (0.029, 1.0, 1e300, INF):
        assert t.hic(a, 0.001, window) == full


def test_hic15_hic36_are_hic_with_window(rng):
    a = np.abs(np.cumsum(rng.standard_normal(600)))
    assert t.hic15(a, 1e-4) == t.hic(a, 1e-4, 0.015)
    assert t.hic36(a, 1e-4) == t.hic(a, 1e-4, 0.036)
    assert t.hic(a, 1e-4) == t.hic(a, 1e-4, 0.036) == t.hic(a, 1e-4, None)


@pytest.mark.parametrize("n,window", [(2, 0.036), (3, 0.002), (17, 0.005), (64, 0.0105), (200, 0.036), (97, 0.0095)])
def test_hic_matches_brute_force(n, window, rng):
    dt = 0.001
    for _ in range(5):
        a = rng.standard_normal(n) * 20 + rng.uniform(-5, 20)
        got = t.hic(a, dt, window)
        assert got == pytest.approx(brute_hic(list(a), dt, window), rel=1e-13, abs=0)
        assert got == pytest.approx(numpy_hic(a, dt, window), rel=1e-9, abs=1e-300)


def test_hic_exact_against_brute_force(rng):
    # The same products in the same order: bitwise equal.
    a = np.abs(rng.standard_normal(120)) * 30
    assert t.hic(a, 1e-3, 0.02) == brute_hic(list(a), 1e-3, 0.02)


def test_hic_half_sample_window_rounds_away_from_zero():
    a = np.array([0.0, 10.0, 10.0, 0.0, 0.0, 0.0, 0.0, 0.0])
    dt = 0.5
    # window / dt = 2.5 rounds to 3 intervals.
    assert t.hic(a, dt, 1.25) == brute_hic(list(a), dt, 1.5)
    assert t.hic(a, dt, 1.25) != brute_hic(list(a), dt, 1.0)


def test_hic_skips_nan_windows():
    a = np.array([10.0, 10.0, NAN, 10.0, 10.0, 10.0])
    got = t.hic(a, 0.001, 0.036)
    # The velocity is NaN from the NaN sample on, so only the first interval counts.
    assert got == brute_hic([10.0, 10.0], 0.001, 0.036) > 0


# ---- clip ------------------------------------------------------------------------


def brute_clip(a, dt, window):
    n = len(a)
    if dt <= 0 or n == 0:
        return 0.0
    width = max(samples(window, dt), 1)
    if width >= n:
        clean = [x for x in a if not math.isnan(x)]
        return min(clean) if clean else INF
    return max(min(a[i : i + width]) for i in range(n - width + 1))


def deque_clip(a, dt, window):
    """The monotonic-queue algorithm step by step (for NaN behaviour)."""
    n = len(a)
    if dt <= 0 or n == 0:
        return 0.0
    width = max(samples(window, dt), 1)
    if width >= n:
        lo = INF
        for x in a:
            if x < lo:
                lo = x
        return lo
    q = []
    best = -INF
    for m, x in enumerate(a):
        while q and a[q[-1]] >= x:
            q.pop()
        q.append(m)
        if m >= q[0] + width:
            q.pop(0)
        if m + 1 >= width and a[q[0]] > best:
            best = a[q[0]]
    return best


@pytest.mark.parametrize("n", [1, 2, 3, 4, 10, 31, 100, 1000])
@pytest.mark.parametrize("window", [0.0, 0.001, 0.003, 0.0105, 0.05])
def test_clip_matches_brute_force(n, window, rng):
    dt = 0.001
    for _ in range(3):
        a = rng.standard_normal(n) * 10
        if n > 5:
            a[rng.integers(0, n, 3)] = a[0]  # ties
        assert t.clip(a, dt, window) == brute_clip(list(a), dt, window)


def test_clip_random_windows(rng):
    for _ in range(50):
        n = int(rng.integers(1, 300))
        dt = float(rng.uniform(1e-4, 1e-3))
        window = float(rng.uniform(0, 0.05))
        a = np.round(rng.standard_normal(n) * 5, 1)
        assert t.clip(a, dt, window) == brute_clip(list(a), dt, window)


def test_clip_edge_cases():
    a = arr(3.0, 1.0, 4.0, 1.5, 9.0, 2.0)
    assert t.clip(a, 0.001, 1.0) == 1.0  # shorter than the window: minimum
    assert t.clip(a, 0.001, 0.006) == 1.0  # exactly as long: minimum
    assert t.clip(a, 0.001, 0.001) == 9.0  # one sample: maximum
    assert t.clip(a, 0.001, 0.0) == 9.0
    assert t.clip(a, 0.001, -5.0) == 9.0
    assert t.clip(a, 0.001, 0.002) == 2.0
    assert t.clip(arr(), 0.001) == 0.0
    assert t.clip(a, 0.0) == 0.0
    assert t.clip(a, -1.0) == 0.0


def test_clip_default_window():
    a = np.concatenate([np.zeros(10), np.full(2, 50.0), np.zeros(10), np.full(3, 40.0), np.zeros(10)])
    assert t.clip(a, 0.001) == 40.0  # the 50 g plateau lasts only 2 samples
    assert t.clip(a, 0.001, None) == 40.0
    assert t.clip(a, 0.001, 0.002) == 50.0


@pytest.mark.parametrize(
    "a,window",
    [
        ([1.0, NAN, 3.0, 2.0, 5.0], 0.002),
        ([NAN, 4.0, 4.0, 1.0], 0.002),
        ([5.0, 6.0, NAN, 7.0, 8.0, 1.0], 0.003),
        ([NAN, NAN, NAN], 0.001),
        ([NAN, 2.0, 1.0], 1.0),
        ([NAN, NAN], 1.0),
    ],
)
def test_clip_nan_follows_queue(a, window):
    got = t.clip(np.array(a), 0.001, window)
    ref = deque_clip(a, 0.001, window)
    assert got == ref or (math.isnan(got) and math.isnan(ref))


def test_clip_nan_skipped_when_shorter_than_window():
    assert t.clip(arr(NAN, 2.0, 1.0), 0.001, 1.0) == 1.0
    assert t.clip(arr(NAN, NAN), 0.001, 1.0) == INF


# ---- severity index --------------------------------------------------------------


def test_severity_index_reference(rng):
    a = rng.standard_normal(500) * 30
    dt = 1e-4
    p = [x**2.5 if x > 0 else 0.0 for x in a]
    acc = 0.0
    for i in range(1, len(p)):
        acc = acc + ((p[i - 1] + p[i]) * dt) * 0.5
    assert t.severity_index(a, dt) == acc


@pytest.mark.parametrize(
    "a,dt,expected",
    [
        ([-1.0, 0.0, -1.0, 0.0], 0.001, 0.0),
        ([4.0], 0.001, 0.0),
        ([], 0.001, 0.0),
        ([4.0, 4.0], 0.0, 0.0),
        ([4.0, 4.0], -1.0, 0.0),
        ([4.0, 4.0], 0.5, 16.0),
        ([4.0, NAN, 4.0], 1.0, 32.0),
    ],
)
def test_severity_index_cases(a, dt, expected):
    assert t.severity_index(np.array(a, dtype=np.float64), dt) == expected


# ---- BRIC / uBRIC ----------------------------------------------------------------


def test_bric_values():
    wx, wy, wz = arr(1.0, -66.25, 3.0), arr(56.45, 2.0), arr(0.5, -42.87)
    assert t.bric(wx, wy, wz, 66.25, 56.45, 42.87) == pytest.approx(math.sqrt(3.0), rel=1e-15)
    assert t.bric(arr(), wy, wz, 66.25, 56.45, 42.87) == pytest.approx(math.sqrt(2.0), rel=1e-15)
    assert t.bric(arr(), arr(), arr(), 1.0, 1.0, 1.0) == 0.0
    assert t.bric(arr(NAN, -2.0, NAN), arr(), arr(), 1.0, 1.0, 1.0) == 2.0


def test_bric_zero_critical_gives_non_finite():
    assert math.isinf(t.bric(arr(1.0), arr(), arr(), 0.0, 1.0, 1.0))
    assert math.isnan(t.bric(arr(), arr(), arr(), 0.0, 1.0, 1.0))


def ref_ubric(w, acc, cw, ca):
    terms = []
    for wv, av, c1, c2 in zip(w, acc, cw, ca):
        ws = max([abs(x) for x in wv if not math.isnan(x)], default=0.0) / c1
        a_s = max([abs(x) for x in av if not math.isnan(x)], default=0.0) / c2
        terms.append(a_s if ws == 0 else math.exp(-a_s / ws) * (a_s - ws) + ws)
    return math.sqrt((terms[0] ** 2 + terms[1] ** 2) + terms[2] ** 2)


def test_ubric_reference(rng):
    w = [rng.standard_normal(int(rng.integers(1, 50))) * 40 for _ in range(3)]
    acc = [rng.standard_normal(int(rng.integers(1, 50))) * 4000 for _ in range(3)]
    cw, ca = (211.0, 171.0, 115.0), (20e3, 10.3e3, 7.76e3)
    assert t.ubric(*w, *acc, *cw, *ca) == pytest.approx(ref_ubric(w, acc, cw, ca), rel=1e-15)


def test_ubric_zero_velocity_axis_uses_acceleration():
    zero = np.zeros(5)
    got = t.ubric(zero, zero, zero, arr(2.0), arr(), arr(), 1.0, 1.0, 1.0, 4.0, 1.0, 1.0)
    assert got == 0.5
    got = t.ubric(arr(), arr(), arr(), arr(3.0), arr(4.0), arr(), 1.0, 1.0, 1.0, 1.0, 1.0, 1.0)
    assert got == 5.0


def test_ubric_keywords(rng):
    ch = [rng.standard_normal(10) for _ in range(6)]
    names = ["wx", "wy", "wz", "ax", "ay", "az", "crit_wx", "crit_wy", "crit_wz", "crit_ax", "crit_ay", "crit_az"]
    values = ch + [1.0, 2.0, 3.0, 4.0, 5.0, 6.0]
    assert t.ubric(**dict(zip(names, values))) == t.ubric(*values)


# ---- VC --------------------------------------------------------------------------


def ref_vc(y, dt, sf, dc):
    n = len(y)
    if dc == 0 or dt <= 0 or n < 5:
        return 0.0
    best = -INF
    for i in range(2, n - 2):
        v = (8.0 * (y[i + 1] - y[i - 1]) - (y[i + 2] - y[i - 2])) / (12.0 * dt)
        value = v * (sf * (y[i] / dc))
        if value > best:
            best = value
    return best


def test_vc_reference(rng):
    y = np.cumsum(rng.standard_normal(300)) * 1e-3
    assert t.vc(y, 1e-4, 1.3, 0.229) == ref_vc(list(y), 1e-4, 1.3, 0.229)


@pytest.mark.parametrize(
    "y,dt,dc",
    [([0.0, 0.01, 0.02, 0.03], 1e-3, 0.2), (list(np.linspace(0, 0.1, 20)), 1e-3, 0.0), ([0.1] * 8, 0.0, 0.2), ([0.1] * 8, -1.0, 0.2)],
)
def test_vc_zero_cases(y, dt, dc):
    assert t.vc(np.array(y), dt, 1.3, dc) == 0.0


def test_vc_can_be_negative():
    y = np.linspace(0.1, 0.0, 10)  # shrinking deflection: negative velocity
    got = t.vc(y, 1e-3, 1.0, 0.2)
    assert got < 0
    assert got == ref_vc(list(y), 1e-3, 1.0, 0.2)


def test_vc_all_nan_gives_minus_infinity():
    assert t.vc(np.full(6, NAN), 1e-3, 1.0, 0.2) == -INF


# ---- Nij -------------------------------------------------------------------------


def ref_nij(fx, fz, my, d, te, co, fl, ex):
    best = 0.0
    for x, z, m in zip(fx, fz, my):
        mm = m - x * d
        value = mm / (fl if mm > 0 else ex) + z / (co if z <= 0 else te)
        if value > best:
            best = value
    return best


def test_nij_reference(rng):
    fx, fz, my = rng.standard_normal(200) * 1e3, rng.standard_normal(210) * 3e3, rng.standard_normal(205) * 100
    crit = (0.01778, 6806.0, -6160.0, 310.0, -135.0)
    assert t.nij(fx, fz, my, *crit) == ref_nij(fx, fz, my, *crit)


def test_nij_modes():
    crit = dict(distance=0.0, fzc_te=1000.0, fzc_co=-800.0, myc_fl=100.0, myc_ex=-50.0)
    assert t.nij(arr(0.0), arr(500.0), arr(50.0), **crit) == 1.0  # tension-flexion
    assert t.nij(arr(0.0), arr(-400.0), arr(-25.0), **crit) == 1.0  # compression-extension
    assert t.nij(arr(0.0), arr(NAN), arr(NAN), **crit) == 0.0


def test_nij_zero_and_distance():
    z = np.zeros(10)
    assert t.nij(z, z, z, 0.02, 1.0, -1.0, 1.0, -1.0) == 0.0
    assert t.nij(arr(), arr(), arr(), 0.02, 1.0, -1.0, 1.0, -1.0) == 0.0
    fz, my = arr(100.0, -50.0, 30.0), arr(10.0, -20.0, 5.0)
    assert t.nij(z[:3], fz, my, 0.0, 1e3, -1e3, 50.0, -40.0) == t.nij(z[:3], fz, my, 123.0, 1e3, -1e3, 50.0, -40.0)


# ---- NIC -------------------------------------------------------------------------


def ref_nic(t1, head, dt):
    n = min(len(t1), len(head))
    if dt <= 0 or n == 0:
        return 0.0
    rel = [t1[i] - head[i] for i in range(n)]
    v = [0.0] * n
    for i in range(1, n):
        v[i] = v[i - 1] + ((rel[i - 1] + rel[i]) * dt) * 0.5
    best = -INF
    for i in range(n):
        value = v[i] * v[i] + rel[i] * 0.2
        if value > best:
            best = value
    return best


def test_nic_reference(rng):
    t1, head = rng.standard_normal(300) * 50, rng.standard_normal(320) * 50
    assert t.nic(t1, head, 1e-4) == ref_nic(list(t1), list(head), 1e-4)


def test_nic_cases(rng):
    a = rng.standard_normal(50)
    assert t.nic(a, a, 1e-3) == 0.0
    assert t.nic(arr(), a, 1e-3) == 0.0
    assert t.nic(a, -a, 0.0) == 0.0
    assert t.nic(a, -a, -1.0) == 0.0
    assert t.nic(arr(-10.0), arr(0.0), 1e-3) == -2.0  # not clamped at 0


# ---- tibia index -----------------------------------------------------------------


def test_tibia_index_reference(rng):
    mx, my, fz = rng.standard_normal(100) * 100, rng.standard_normal(90) * 100, rng.standard_normal(95) * 5e3
    n = 90
    ref = 0.0
    for i in range(n):
        v = abs(fz[i] / 35.9e3) + abs(math.sqrt(mx[i] * mx[i] + my[i] * my[i]) / 225.0)
        if v > ref:
            ref = v
    assert t.tibia_index(mx, my, fz, 225.0, 35.9e3) == ref


def test_tibia_index_cases():
    assert t.tibia_index(arr(), arr(), arr(), 225.0, 35.9e3) == 0.0
    assert t.tibia_index(arr(3.0), arr(4.0), arr(-10.0), 5.0, 10.0) == 2.0
    assert t.tibia_index(arr(NAN), arr(4.0), arr(-10.0), 5.0, 10.0) == 0.0


# ---- argument errors -------------------------------------------------------------


@pytest.mark.parametrize(
    "call,name",
    [
        (lambda: t.hic(np.ones(3), "x"), "dt"),
        (lambda: t.hic(np.ones(3), 0.1, "x"), "window"),
        (lambda: t.clip(np.ones(3), 0.1, [1]), "window"),
        (lambda: t.bric(np.ones(3), np.ones(3), np.ones(3), 1.0, None, 1.0), "crit_y"),
        (lambda: t.nij(np.ones(3), np.ones(3), np.ones(3), 0.1, 1.0, 1.0, 1.0, "x"), "myc_ex"),
        (lambda: t.tibia_index(np.ones(3), np.ones(3), np.ones(3), 1.0, 1j), "critical_compression_force"),
        (lambda: t.vc(np.ones(3), 0.1, 1.0, "0"), "deformation_constant"),
    ],
)
def test_float_argument_errors_name_the_argument(call, name):
    with pytest.raises(TypeError, match=f"argument '{name}' must be a real number"):
        call()


def test_array_checked_before_floats():
    with pytest.raises(TypeError, match="argument 'a'"):
        t.hic([1.0, 2.0], "x")


def test_clip_ties_and_signed_zeros_follow_queue(rng):
    # Equal samples: the result is the latest of them, as the queue keeps it.
    for _ in range(200):
        n = int(rng.integers(2, 40))
        a = rng.choice([0.0, -0.0, 1.0, -1.0, INF, -INF], n)
        window = float(rng.integers(0, n + 2)) * 0.001
        got = t.clip(a, 0.001, window)
        ref = deque_clip(list(a), 0.001, window)
        assert got == ref and math.copysign(1.0, got) == math.copysign(1.0, ref), (list(a), window)


@pytest.mark.parametrize("n", [50, 301, 1000])
def test_clip_block_boundaries(n, rng):
    a = np.cumsum(rng.standard_normal(n))
    for width in (1, 2, 3, 7, 16, n - 1):
        assert t.clip(a, 1.0, float(width)) == brute_clip(list(a), 1.0, float(width))
