"""Zero-phase filtering: filtfilt, cfc and butterworth.

The reference below is a direct NumPy/Python transcription of the documented
algorithm (transposed direct form II, shrinking odd extension, steady-state
initial state); the native filters must match it to the last bit.  SciPy is
used where its definitions agree with ours.
"""

import math

import numpy as np
import pytest

import _tarvex as t

signal = pytest.importorskip("scipy.signal")


# ---- reference -------------------------------------------------------------


def ref_lfilter(b, a, x, zi):
    nb = len(b)
    z = list(zi[: nb - 1]) + [0.0] * max(0, nb - 1 - len(zi))
    out = []
    for xv in x:
        y = b[0] * xv + z[0]
        for j in range(nb - 2):
            z[j] = (b[j + 1] * xv + z[j + 1]) - a[j + 1] * y
        z[nb - 2] = b[nb - 1] * xv - a[nb - 1] * y
        out.append(y)
    return out


def ref_zi(b, a):
    ntaps = len(b)
    zi = [0.0] * (ntaps - 1)
    bsum = 0.0
    for v in b:
        bsum += v
    asum_all = 0.0
    for v in a:
        asum_all += v
    zi[0] = (bsum - b[0] * asum_all) / asum_all
    asum, csum = 1.0, 0.0
    for k in range(1, ntaps - 1):
        asum += a[k]
        csum += b[k] - a[k] * b[0]
        zi[k] = asum * zi[0] - csum
    return zi


def ref_filtfilt(b, a, x, edge=None):
    x = [float(v) for v in x]
    n = len(x)
    ntaps = max(len(b), len(a))
    if n <= 1 or ntaps <= 1:
        return np.array(x)
    a0 = a[0]
    b = [v / a0 for v in b] + [0.0] * (ntaps - len(b))
    a = [v / a0 for v in a] + [0.0] * (ntaps - len(a))
    zi = ref_zi(b, a)
    if edge is None:
        edge = min(n - 1, 3 * ntaps)
    ext = [2.0 * x[0] - x[k] for k in range(edge, 0, -1)] + x + [2.0 * x[n - 1] - x[n - 1 - k] for k in range(1, edge + 1)]
    y = ref_lfilter(b, a, ext, [z * ext[0] for z in zi])
    y.reverse()
    y = ref_lfilter(b, a, y, [z * y[0] for z in zi])
    y.reverse()
    return np.array(y[edge : edge + n])


def ref_cfc_coefficients(cfc, dt):
    wd = cfc * 6.283185307179586 * 2.0775
    wa = math.tan(wd * dt * 0.5)
    wa2 = wa * wa
    d = (1.0 + 1.4142135623730951 * wa) + wa2
    b0 = wa2 / d
    return [b0, b0 + b0, b0], [1.0, ((wa2 - 1.0) + (wa2 - 1.0)) / d, -((1.4142135623730951 * wa - 1.0) - wa2) / d]


def scipy_explicit_zi(b, a, x):
    """SciPy's filtfilt steps with our steady-state state: the definitions agree."""
    b = np.asarray(b, float) / a[0]
    a = np.asarray(a, float) / a[0]
    n = len(x)
    edge = min(n - 1, 3 * len(a))
    zi = np.array(ref_zi(list(b), list(a)))
    ext = np.concatenate([2 * x[0] - x[edge:0:-1], x, 2 * x[-1] - x[-2 : -edge - 2 : -1]])
    y, _ = signal.lfilter(b, a, ext, zi=zi * ext[0])
    y, _ = signal.lfilter(b, a, y[::-1], zi=zi * y[-1])
    return y[::-1][edge : edge + n]


def rel_err(got, ref):
    scale = max(np.max(np.abs(ref)), 1e-300)
    return np.max(np.abs(got - ref)) / scale


@pytest.fixture
def rng():
    return np.random.default_rng(20261211)


# ---- filtfilt ------------------------------------------------------------------


@pytest.mark.parametrize(
    "b,a",
    [
        ([0.5, 0.5], [1.0]),
        ([1.0, 1.0], [1.0, 0.0]),
        ([0.2, 0.3, 0.1], [1.0, -0.4, 0.1]),
        ([0.1, 0.2, 0.3, 0.2], [1.0, -0.5]),
        ([0.3], [1.0, -0.7]),
        ([], [1.0, 0.5]),
        ([0.1, 0.2, 0.1], [2.0, -0.8, 0.3]),
    ],
)
@pytest.mark.parametrize("n", [2, 3, 4, 5, 7, 9, 10, 13, 30])
def test_filtfilt_matches_reference_on_short_inputs(b, a, n, rng):
    x = rng.standard_normal(n)
    got = t.filtfilt(b, a, x)
    np.testing.assert_array_equal(got, ref_filtfilt(b, a, x))


@pytest.mark.parametrize("b,a", [([1.0], [1.0]), ([2.0], [1.0]), ([], []), ([5.0], []), ([], [4.0])])
def test_filtfilt_single_tap_returns_input_unchanged(b, a, rng):
    x = rng.standard_normal(17)
    got = t.filtfilt(b, a, x)
    np.testing.assert_array_equal(got, x)


def test_filtfilt_b_longer_than_a_pads_a(rng):
    x = rng.standard_normal(40)
    got = t.filtfilt([0.5, 0.5], [1.0], x)
    np.testing.assert_array_equal(got, t.filtfilt([0.5, 0.5], [1.0, 0.0], x))
    np.testing.assert_array_equal(got, ref_filtfilt([0.5, 0.5], [1.0], x))
    assert not np.array_equal(got, x)


def test_filtfilt_normalises_by_a0(rng):
    x = rng.standard_normal(50)
    np.testing.assert_array_equal(t.filtfilt([2.0, 2.0], [2.0, 0.0], x), t.filtfilt([1.0, 1.0], [1.0, 0.0], x))


def test_filtfilt_constant_input_has_no_transient():
    b, a = signal.butter(4, 0.1)
    x = np.full(200, 3.25)
    np.testing.assert_allclose(t.filtfilt(b, a, x), x, rtol=1e-12)


@pytest.mark.parametrize("n", [0, 1])
def test_filtfilt_empty_and_single_sample(n):
    x = np.arange(n, dtype=np.float64) + 4.0
    for out in (t.filtfilt([0.2, 0.3], [1.0, -0.5], x), t.cfc(x, 60, 1e-4), t.butterworth(x, 4, 10.0, 1000.0)):
        assert out.dtype == np.float64 and out.shape == (n,)
        np.testing.assert_array_equal(out, x)


def test_filtfilt_two_samples_uses_edge_of_one():
    x = np.array([1.0, 3.0])
    b, a = [0.2, 0.3, 0.1], [1.0, -0.4, 0.1]
    np.testing.assert_array_equal(t.filtfilt(b, a, x), ref_filtfilt(b, a, x))


def test_filtfilt_empty_a_is_rejected():
    with pytest.raises(ValueError, match="a must not be empty"):
        t.filtfilt([0.5, 0.5], [], np.ones(5))


@pytest.mark.parametrize("seq", [list, tuple, np.array])
def test_filtfilt_accepts_any_sequence(seq, rng):
    x = rng.standard_normal(30)
    b, a = [0.2, 0.3, 0.1], [1.0, -0.4, 0.1]
    np.testing.assert_array_equal(t.filtfilt(seq(b), seq(a), x), t.filtfilt(b, a, x))


def test_filtfilt_accepts_integer_coefficients(rng):
    x = rng.standard_normal(30)
    np.testing.assert_array_equal(t.filtfilt([1, 1], [2, 0], x), t.filtfilt([0.5, 0.5], [1.0, 0.0], x))


@pytest.mark.parametrize(
    "kw,bad,msg",
    [
        ("b", "12", "argument 'b' must be a sequence of real numbers"),
        ("a", b"\x01\x02", "argument 'a' must be a sequence of real numbers"),
        ("b", 3.0, "argument 'b' must be a sequence of real numbers"),
        ("a", [1.0, "x"], "argument 'a' must be a sequence of real numbers; item 1 is str"),
        ("b", {1.0, 2.0}, "argument 'b' must be a sequence of real numbers"),
    ],
)
def test_filtfilt_bad_coefficients(kw, bad, msg):
    args = {"b": [0.5, 0.5], "a": [1.0, 0.0], "values": np.ones(4)}
    args[kw] = bad
    with pytest.raises(TypeError, match=msg.replace("(", r"\(")):
        t.filtfilt(**args)


@pytest.mark.parametrize("kw", ["b", "a"])
def test_filtfilt_coefficient_too_large_int_overflows(kw):
    args = {"b": [0.5, 0.5], "a": [1.0, 0.0], "values": np.ones(4)}
    args[kw] = [1.0, 10**400]
    with pytest.raises(OverflowError) as e:
        t.filtfilt(**args)
    assert str(e.value) == f"int too large to convert to float (argument '{kw}', item 1)"


def test_filtfilt_zero_a0_gives_non_finite_not_error():
    out = t.filtfilt([1.0, 1.0], [0.0, 1.0], np.ones(8))
    assert not np.all(np.isfinite(out))


def test_filtfilt_large_order_dynamic_path(rng):
    b, a = signal.butter(14, 0.45)
    x = rng.standard_normal(120)
    np.testing.assert_array_equal(t.filtfilt(list(b), list(a), x), ref_filtfilt(list(b), list(a), x))


@pytest.mark.parametrize("order", range(1, 9))
@pytest.mark.parametrize("btype", ["low", "high"])
def test_filtfilt_agrees_with_scipy_lfilter_steps(order, btype, rng):
    # Same coefficients, same extension, same state: identical arithmetic.
    for wn in (0.02, 0.1, 0.3, 0.6, 0.9):
        b, a = signal.butter(order, wn, btype)
        for n in (3 * (order + 1) + 1, 64, 1001):
            x = rng.standard_normal(n)
            got = t.filtfilt(b, a, x)
            assert rel_err(got, scipy_explicit_zi(b, a, x)) <= 1e-12


# ---- butterworth ---------------------------------------------------------------


@pytest.mark.parametrize("order", range(1, 9))
@pytest.mark.parametrize("btype", ["low", "high"])
def test_butterworth_matches_scipy(order, btype, rng):
    fs = 1000.0
    # Away from the ends of the band the transfer function is well conditioned
    # and SciPy's linear-solve initial state equals ours to rounding.
    for wn in np.linspace(0.2, 0.7, 11):
        cutoff = wn * fs / 2
        b, a = signal.butter(order, (cutoff + cutoff) / fs, btype)
        for n in (3 * (order + 1) + 1, 3 * (order + 1) + 7, 100, 257, 2000):
            x = rng.standard_normal(n) + 0.5
            got = t.butterworth(x, order, cutoff, fs, btype)
            ref = signal.filtfilt(b, a, x, padtype="odd", padlen=3 * (order + 1))
            assert rel_err(got, ref) <= 1e-12, (wn, n)


@pytest.mark.parametrize("order", [1, 2, 5, 8])
@pytest.mark.parametrize("btype", ["low", "high"])
@pytest.mark.parametrize("n", [2, 3, 5, 9, 3 * 9])
def test_butterworth_short_inputs_match_reference(order, btype, n, rng):
    b, a = signal.butter(order, 0.4, btype)
    x = rng.standard_normal(n)
    got = t.butterworth(x, order, 200.0, 1000.0, btype)
    assert rel_err(got, ref_filtfilt(list(b), list(a), x)) <= 1e-12


@pytest.mark.parametrize("low,high", [("low", "lowpass"), ("high", "highpass")])
def test_butterworth_btype_synonyms(low, high, rng):
    x = rng.standard_normal(100)
    np.testing.assert_array_equal(t.butterworth(x, 3, 50.0, 1000.0, low), t.butterworth(x, 3, 50.0, 1000.0, high))


def test_butterworth_default_is_lowpass(rng):
    x = rng.standard_normal(100)
    np.testing.assert_array_equal(t.butterworth(x, 3, 50.0, 1000.0), t.butterworth(x, 3, 50.0, 1000.0, "low"))
    np.testing.assert_array_equal(t.butterworth(x, 3, 50.0, 1000.0, None), t.butterworth(x, 3, 50.0, 1000.0, "low"))
    np.testing.assert_array_equal(
        t.butterworth(values=x, order=3, cutoff=50.0, fs=1000.0, btype="high"), t.butterworth(x, 3, 50.0, 1000.0, "high")
    )


def test_butterworth_order_zero_is_copy(rng):
    x = rng.standard_normal(33)
    out = t.butterworth(x, 0, 50.0, 1000.0)
    np.testing.assert_array_equal(out, x)
    assert out is not x and not np.shares_memory(out, x)


@pytest.mark.parametrize(
    "word,shown",
    [
        ("Low", '"Low"'),
        ("band", '"band"'),
        ("", '""'),
        ('lo"w', '"lo\\"w"'),
        ("a\\b", '"a\\\\b"'),
        ("x\ny\tz\r", '"x\\ny\\tz\\r"'),
        ("\x01", '"\\u{1}"'),
        ("hé", '"hé"'),
    ],
)
def test_butterworth_bad_btype_message(word, shown):
    with pytest.raises(ValueError) as e:
        t.butterworth(np.ones(10), 2, 10.0, 1000.0, word)
    assert str(e.value) == "btype must be 'low' or 'high', got " + shown


@pytest.mark.parametrize("cutoff", [0.0, -5.0, -0.0])
def test_butterworth_zero_frequency(cutoff):
    with pytest.raises(ValueError) as e:
        t.butterworth(np.ones(10), 2, cutoff, 1000.0)
    assert str(e.value) == "Illegal Argument: Frequencies Wn must not be zero."


@pytest.mark.parametrize(
    "cutoff,fs,tail",
    [
        (500.0, 1000.0, "(fs=1000 -> fs/2=500)"),
        (600.0, 1000.0, "(fs=1000 -> fs/2=500)"),
        (10.0, -1000.0, "(fs=-1000 -> fs/2=-500)"),
        (1.0, 0.3, "(fs=0.3 -> fs/2=0.15)"),
        (1.0, 1e-7, "(fs=0.0000001 -> fs/2=0.00000005)"),
        (1e30, 1e22, "(fs=10000000000000000000000 -> fs/2=5000000000000000000000)"),
        (1.0, float("inf"), "(fs=inf -> fs/2=inf)"),
        (float("inf"), 1000.0, "(fs=1000 -> fs/2=500)"),
    ],
)
def test_butterworth_critical_frequency(cutoff, fs, tail):
    with pytest.raises(ValueError) as e:
        t.butterworth(np.ones(10), 2, cutoff, fs)
    assert str(e.value) == "Illegal Argument: Digital filter critical frequencies must be 0 < Wn < fs/2 " + tail


def test_butterworth_check_order():
    # The btype word is checked before the frequencies, cutoff before Wn.
    with pytest.raises(ValueError, match="btype"):
        t.butterworth(np.ones(10), 2, -1.0, 1000.0, "band")
    with pytest.raises(ValueError, match="must not be zero"):
        t.butterworth(np.ones(10), 2, -1.0, -1000.0)
    # Argument conversion comes first, in signature order.
    with pytest.raises(TypeError, match="'values'"):
        t.butterworth([1.0], -1, "x", 1000.0, 3)
    with pytest.raises(OverflowError):
        t.butterworth(np.ones(3), -1, "x", 1000.0, 3)
    with pytest.raises(TypeError, match="'cutoff'"):
        t.butterworth(np.ones(3), 2, "x", 1000.0, 3)
    with pytest.raises(TypeError, match="'btype'"):
        t.butterworth(np.ones(3), 2, 10.0, 1000.0, 3)


def test_butterworth_nan_frequency_gives_nan():
    out = t.butterworth(np.ones(20), 2, float("nan"), 1000.0)
    assert np.all(np.isnan(out))
    out = t.butterworth(np.ones(20), 2, 10.0, float("nan"))
    assert np.all(np.isnan(out))


@pytest.mark.parametrize("order", [-1, 4294967296, 2**63 - 1])
def test_butterworth_order_out_of_range(order):
    with pytest.raises(OverflowError) as e:
        t.butterworth(np.ones(10), order, 10.0, 1000.0)
    assert str(e.value) == "out of range integral type conversion attempted"


def test_butterworth_order_beyond_int64_uses_interpreter_error():
    with pytest.raises(OverflowError) as e:
        t.butterworth(np.ones(10), 2**64, 10.0, 1000.0)
    assert str(e.value) != "out of range integral type conversion attempted"


@pytest.mark.parametrize("order", [2.0, "2", None, np.float64(2.0)])
def test_butterworth_order_must_be_int(order):
    with pytest.raises(TypeError, match="'order'"):
        t.butterworth(np.ones(10), order, 10.0, 1000.0)


@pytest.mark.parametrize("order", [np.int64(3), np.uint16(3), np.int8(3)])
def test_butterworth_order_accepts_integer_types(order, rng):
    x = rng.standard_normal(40)
    np.testing.assert_array_equal(t.butterworth(x, order, 50.0, 1000.0), t.butterworth(x, 3, 50.0, 1000.0))


@pytest.mark.parametrize("order", [np.int64(-1), np.uint64(2**32)])
def test_butterworth_integer_type_order_out_of_range(order):
    with pytest.raises(OverflowError) as e:
        t.butterworth(np.ones(10), order, 10.0, 1000.0)
    assert str(e.value) == "out of range integral type conversion attempted"


def test_butterworth_order_bound():
    with pytest.raises(ValueError) as e:
        t.butterworth(np.ones(10), 4294967295, 10.0, 1000.0)
    assert str(e.value) == "butterworth: order must be at most 10000, got 4294967295"
    # The bound is checked after the frequencies.
    with pytest.raises(ValueError, match="must not be zero"):
        t.butterworth(np.ones(10), 4294967295, 0.0, 1000.0)


def test_butterworth_numpy_scalars_accepted(rng):
    x = rng.standard_normal(50)
    np.testing.assert_array_equal(
        t.butterworth(x, 3, np.float64(50.0), np.float32(1000.0)), t.butterworth(x, 3, 50, 1000)
    )


# ---- cfc -----------------------------------------------------------------------


@pytest.mark.parametrize("cfc", [60, 180, 600, 1000, 37.5])
@pytest.mark.parametrize("n", [2, 5, 9, 10, 11, 40, 5000])
def test_cfc_matches_reference(cfc, n, rng):
    dt = 1e-4
    x = rng.standard_normal(n)
    b, a = ref_cfc_coefficients(cfc, dt)
    got = t.cfc(x, cfc, dt)
    np.testing.assert_array_equal(got, ref_filtfilt(b, a, x) if n <= 40 else scipy_explicit_zi(b, a, x))
    np.testing.assert_array_equal(got, t.filtfilt(b, a, x))


@pytest.mark.parametrize("cfc", [60, 180, 600, 1000])
def test_cfc_agrees_with_scipy_filtfilt(cfc, rng):
    dt = 1e-4
    b, a = ref_cfc_coefficients(cfc, dt)
    for n in (10, 11, 100, 10_000):
        x = np.cumsum(rng.standard_normal(n))
        ref = signal.filtfilt(b, a, x, padtype="odd", padlen=9)
        assert rel_err(t.cfc(x, cfc, dt), ref) <= 1e-12


@pytest.mark.parametrize("n,edge", [(40, 9), (10, 9), (9, 8), (4, 3)])
def test_cfc_extension_length(n, edge, rng):
    dt = 1e-4
    x = np.cumsum(rng.standard_normal(n))
    b, a = ref_cfc_coefficients(1000, dt)
    got = t.cfc(x, 1000, dt)
    np.testing.assert_array_equal(got, ref_filtfilt(b, a, x, edge))
    assert not np.array_equal(got, ref_filtfilt(b, a, x, edge - 1))
    if edge + 1 <= n - 1:
        assert not np.array_equal(got, ref_filtfilt(b, a, x, edge + 1))


def test_cfc_zero_class_or_interval_gives_non_finite():
    x = np.linspace(0.0, 1.0, 20)
    out = t.cfc(x, 0.0, 1e-4)
    assert not np.all(np.isfinite(out))
    out = t.cfc(x, 60.0, 0.0)
    assert not np.all(np.isfinite(out))


def test_cfc_unit_dc_gain():
    x = np.full(100, -2.5)
    np.testing.assert_allclose(t.cfc(x, 60, 1e-4), x, rtol=1e-12)


def test_cfc_keywords(rng):
    x = rng.standard_normal(30)
    np.testing.assert_array_equal(t.cfc(values=x, cfc=180, dt=1e-4), t.cfc(x, 180, 1e-4))
