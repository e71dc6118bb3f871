"""Time-series utilities (integrate, differentiate, decimate, resample_linear,
resultant) and the array and argument rules shared by every signal and injury
function."""

import math
import sys

import numpy as np
import pytest

import _tarvex as t

NAN = float("nan")


@pytest.fixture
def rng():
    return np.random.default_rng(7)


def arr(*v):
    return np.array(v, dtype=np.float64)


# ---- integrate -------------------------------------------------------------------


def ref_integrate(v, dt):
    out = [0.0] * len(v)
    for i in range(1, len(v)):
        out[i] = out[i - 1] + ((v[i - 1] + v[i]) * dt) * 0.5
    return np.array(out)


@pytest.mark.parametrize(
    "values,dt,expected",
    [
        ([1.0, 1.0, 1.0], 0.5, [0.0, 0.5, 1.0]),
        ([], 0.1, []),
        ([7.0], 0.1, [0.0]),
        ([1.0, 2.0, 3.0], 0.0, [0.0, 0.0, 0.0]),
        ([0.0, 2.0, 4.0], -1.0, [0.0, -1.0, -4.0]),
    ],
)
def test_integrate_cases(values, dt, expected):
    out = t.integrate(np.array(values, dtype=np.float64), dt)
    assert out.dtype == np.float64
    np.testing.assert_array_equal(out, np.array(expected))


def test_integrate_matches_reference(rng):
    v = rng.standard_normal(1000)
    np.testing.assert_array_equal(t.integrate(v, 1e-3), ref_integrate(list(v), 1e-3))


# ---- differentiate ---------------------------------------------------------------


@pytest.mark.parametrize(
    "values,dt,expected",
    [
        ([], 1.0, []),
        ([5.0], 1.0, [0.0]),
        ([0.0, 1.0], 1.0, [1.0, 1.0]),
        ([0.0, 1.0, 4.0], 1.0, [1.0, 2.0, 3.0]),
        ([0.0, 1.0, 4.0, 9.0], 0.5, [2.0, 4.0, 8.0, 10.0]),
    ],
)
def test_differentiate_cases(values, dt, expected):
    np.testing.assert_array_equal(t.differentiate(np.array(values, dtype=np.float64), dt), np.array(expected))


def test_differentiate_zero_dt_gives_non_finite():
    out = t.differentiate(arr(0.0, 1.0, 1.0), 0.0)
    assert math.isinf(out[0]) and math.isinf(out[1]) and math.isnan(out[2])


def test_differentiate_matches_reference(rng):
    v = rng.standard_normal(100)
    dt = 0.003
    ref = np.empty(100)
    ref[0] = (v[1] - v[0]) / dt
    ref[-1] = (v[-1] - v[-2]) / dt
    ref[1:-1] = (v[2:] - v[:-2]) / (dt * 2)
    np.testing.assert_array_equal(t.differentiate(v, dt), ref)


# ---- decimate --------------------------------------------------------------------


@pytest.mark.parametrize(
    "n,factor,kept",
    [
        (10, 3, [0, 3, 6, 9]),
        (10, 1, list(range(10))),
        (10, 0, list(range(10))),
        (10, 20, [0]),
        (10, 10, [0]),
        (10, 9, [0, 9]),
        (0, 3, []),
        (0, 0, []),
        (1, 5, [0]),
        (7, 2**64 - 1, [0]),
    ],
)
def test_decimate_cases(n, factor, kept):
    v = np.arange(n, dtype=np.float64) * 1.5
    np.testing.assert_array_equal(t.decimate(v, factor), v[kept] if kept else np.empty(0))


def test_decimate_factor_errors():
    with pytest.raises(OverflowError, match="factor"):
        t.decimate(np.ones(3), -1)
    with pytest.raises(OverflowError):
        t.decimate(np.ones(3), 2**64)
    with pytest.raises(TypeError, match="'factor'"):
        t.decimate(np.ones(3), 2.0)
    with pytest.raises(TypeError, match="'factor'"):
        t.decimate(np.ones(3), None)
    with pytest.raises(TypeError, match="'factor'"):
        t.decimate(np.ones(3), np.float64(2.0))
    with pytest.raises(OverflowError, match="factor"):
        t.decimate(np.ones(3), np.int64(-1))


@pytest.mark.parametrize("factor", [np.int64(3), np.uint8(3), np.int32(3), True])
def test_decimate_accepts_integer_types(factor):
    v = np.arange(10.0)
    np.testing.assert_array_equal(t.decimate(v, factor), t.decimate(v, int(factor)))


# ---- resample_linear -------------------------------------------------------------


@pytest.mark.parametrize(
    "values,dt_in,dt_out,expected",
    [
        ([0.0, 10.0], 1.0, 0.25, [0.0, 2.5, 5.0, 7.5, 10.0]),
        ([0.0, 1.0, 2.0, 3.0, 4.0], 1.0, 2.0, [0.0, 2.0, 4.0]),
        ([0.0, 1.0, 2.0], 1.0, 0.8, [0.0, 0.8, 1.6]),
        ([0.0, 10.0], 1.0, 0.0, []),
        ([0.0, 10.0], 1.0, -1.0, []),
        ([0.0, 10.0], 0.0, 1.0, []),
        ([0.0, 10.0], NAN, 1.0, []),
        ([0.0, 10.0], 1.0, NAN, []),
        ([], 1.0, 1.0, []),
        ([3.5], 1.0, 0.1, [3.5]),
        ([0.0, 10.0], 1.0, 5.0, [0.0]),
    ],
)
def test_resample_linear_cases(values, dt_in, dt_out, expected):
    out = t.resample_linear(np.array(values, dtype=np.float64), dt_in, dt_out)
    np.testing.assert_allclose(out, np.array(expected), rtol=0, atol=1e-12)
    assert out.shape == (len(expected),)


def test_resample_linear_equal_intervals_is_identity(rng):
    v = rng.standard_normal(257)
    np.testing.assert_array_equal(t.resample_linear(v, 0.001, 0.001), v)


def test_resample_linear_matches_reference(rng):
    v = rng.standard_normal(50)
    dt_in, dt_out = 0.01, 0.0037
    n = len(v)
    m = math.floor((n - 1) * dt_in / dt_out)
    ref = []
    for l in range(m + 1):
        p = (l * dt_out) / dt_in
        j = math.floor(p)
        ref.append((p - j) * v[j + 1] + (1 - (p - j)) * v[j] if j < n - 1 else v[n - 1])
    np.testing.assert_array_equal(t.resample_linear(v, dt_in, dt_out), np.array(ref))


def test_resample_linear_refuses_huge_outputs():
    with pytest.raises(ValueError, match="more than 4294967296 samples"):
        t.resample_linear(np.ones(2), 1.0, 1e-300)


# ---- resultant -------------------------------------------------------------------


def test_resultant_cuts_to_shortest(rng):
    x, y, z = rng.standard_normal(5), rng.standard_normal(4), rng.standard_normal(6)
    out = t.resultant(x, y, z)
    assert out.shape == (4,)
    np.testing.assert_array_equal(out, np.sqrt((x[:4] ** 2 + y ** 2) + z[:4] ** 2))


def test_resultant_values():
    np.testing.assert_array_equal(t.resultant(arr(3.0), arr(4.0), arr(0.0)), arr(5.0))
    assert t.resultant(arr(), arr(1.0), arr(2.0)).shape == (0,)


# ---- the array rule, for every function --------------------------------------------

GOOD = np.linspace(0.0, 1.0, 12)

# (function, positional arguments, names of the array parameters)
FUNCTIONS = [
    (t.cfc, (GOOD, 60.0, 1e-4), {"values": 0}),
    (t.butterworth, (GOOD, 2, 10.0, 1000.0), {"values": 0}),
    (t.filtfilt, ([0.5, 0.5], [1.0], GOOD), {"values": 2}),
    (t.integrate, (GOOD, 0.1), {"values": 0}),
    (t.differentiate, (GOOD, 0.1), {"values": 0}),
    (t.decimate, (GOOD, 2), {"values": 0}),
    (t.resample_linear, (GOOD, 0.1, 0.05), {"values": 0}),
    (t.resultant, (GOOD, GOOD, GOOD), {"x": 0, "y": 1, "z": 2}),
    (t.hic, (GOOD, 1e-3), {"a": 0}),
    (t.hic15, (GOOD, 1e-3), {"a": 0}),
    (t.hic36, (GOOD, 1e-3), {"a": 0}),
    (t.clip, (GOOD, 1e-3), {"a": 0}),
    (t.severity_index, (GOOD, 1e-3), {"a": 0}),
    (t.bric, (GOOD, GOOD, GOOD, 1.0, 1.0, 1.0), {"wx": 0, "wy": 1, "wz": 2}),
    (
        t.ubric,
        (GOOD, GOOD, GOOD, GOOD, GOOD, GOOD, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0),
        {"wx": 0, "wy": 1, "wz": 2, "ax": 3, "ay": 4, "az": 5},
    ),
    (t.vc, (GOOD, 1e-3, 1.3, 0.23), {"y": 0}),
    (t.nij, (GOOD, GOOD, GOOD, 0.02, 1.0, -1.0, 1.0, -1.0), {"fx": 0, "fz": 1, "my": 2}),
    (t.nic, (GOOD, GOOD, 1e-3), {"a_t1": 0, "a_head": 1}),
    (t.tibia_index, (GOOD, GOOD, GOOD, 1.0, 1.0), {"mx": 0, "my": 1, "fz": 2}),
]

CASES = [(f, args, name, pos) for f, args, names in FUNCTIONS for name, pos in names.items()]
IDS = [f"{f.__name__}-{name}" for f, _, name, _ in CASES]

BAD_ARRAYS = {
    "list": [0.0, 1.0, 2.0],
    "tuple": (0.0, 1.0),
    "int64": np.arange(12, dtype=np.int64),
    "float32": np.linspace(0.0, 1.0, 12, dtype=np.float32),
    "complex": np.ones(12, dtype=np.complex128),
    "big-endian": np.ones(12, dtype=">f8"),
    "2d": np.ones((3, 4)),
    "0d": np.array(1.0),
    "scalar": 1.0,
    "none": None,
    "bytes": b"\x00" * 16,
    "memoryview": memoryview(np.ones(4)),
}


@pytest.mark.parametrize("func,args,name,pos", CASES, ids=IDS)
@pytest.mark.parametrize("bad", list(BAD_ARRAYS), ids=list(BAD_ARRAYS))
def test_array_arguments_refuse_other_kinds(func, args, name, pos, bad):
    args = list(args)
    args[pos] = BAD_ARRAYS[bad]
    with pytest.raises(TypeError) as e:
        func(*args)
    assert str(e.value) == f"argument '{name}' must be a 1-D numpy.ndarray of dtype float64"


def variants(x):
    """The same values as strided, reversed, unaligned and read-only arrays,
    and as an ndarray subclass."""
    strided = np.empty(2 * len(x))
    strided[::2] = x
    strided[1::2] = np.nan
    reversed_ = x[::-1].copy()[::-1]
    raw = np.zeros(len(x) * 8 + 1, dtype=np.uint8)
    unaligned = raw[1:].view(np.float64)
    unaligned[:] = x
    readonly = x.copy()
    readonly.flags.writeable = False

    class Sub(np.ndarray):
        pass

    return {
        "strided": strided[::2],
        "reversed": reversed_,
        "unaligned": unaligned,
        "readonly": readonly,
        "subclass": x.copy().view(Sub),
    }


@pytest.mark.parametrize("func,args,name,pos", CASES, ids=IDS)
def test_array_arguments_any_strides(func, args, name, pos, rng):
    base = rng.standard_normal(len(GOOD))
    args = list(args)
    args[pos] = base.copy()
    expected = func(*args)
    for kind, v in variants(base).items():
        before = np.array(v, copy=True)
        args[pos] = v
        got = func(*args)
        np.testing.assert_array_equal(got, expected, err_msg=kind)
        np.testing.assert_array_equal(v, before, err_msg=kind)  # never written


@pytest.mark.parametrize("func,args,name,pos", CASES, ids=IDS)
def test_inputs_are_not_modified(func, args, name, pos, rng):
    args = list(args)
    v = rng.standard_normal(40)
    keep = v.copy()
    args[pos] = v
    func(*args)
    np.testing.assert_array_equal(v, keep)


def test_results_are_new_owned_arrays(rng):
    x = rng.standard_normal(20)
    for out in (
        t.cfc(x, 60, 1e-4),
        t.butterworth(x, 0, 1.0, 10.0),
        t.filtfilt([1.0], [1.0], x),
        t.integrate(x, 0.1),
        t.differentiate(x, 0.1),
        t.decimate(x, 1),
        t.resample_linear(x, 0.1, 0.1),
        t.resultant(x, x, x),
    ):
        assert type(out) is np.ndarray and out.dtype == np.float64 and out.ndim == 1
        assert out.flags.c_contiguous and out.flags.writeable
        assert not np.shares_memory(out, x)
        out[0] = 123.0  # writable without touching the input
    assert x[0] != 123.0


def test_float_arguments_accept_any_real_number(rng):
    x = rng.standard_normal(30)
    ref = t.integrate(x, 0.5)
    for dt in (np.float64(0.5), np.float32(0.5), 0.5, np.array(0.5)):
        np.testing.assert_array_equal(t.integrate(x, dt), ref)
    np.testing.assert_array_equal(t.integrate(x, 2), t.integrate(x, 2.0))
    np.testing.assert_array_equal(t.integrate(x, True), t.integrate(x, 1.0))


@pytest.mark.parametrize("bad", ["0.5", None, 1j, [0.5]])
def test_float_arguments_refuse_non_numbers(bad):
    with pytest.raises(TypeError, match="argument 'dt' must be a real number"):
        t.integrate(np.ones(3), bad)
    with pytest.raises(TypeError, match="argument 'dt_out' must be a real number"):
        t.resample_linear(np.ones(3), 1.0, bad)


@pytest.mark.parametrize(
    "call,name",
    [
        (lambda big: t.integrate(np.ones(3), big), "dt"),
        (lambda big: t.cfc(np.ones(3), big, 1e-4), "cfc"),
        (lambda big: t.resample_linear(np.ones(3), 1.0, big), "dt_out"),
        (lambda big: t.hic(np.ones(3), 1e-3, big), "window"),
    ],
)
def test_float_argument_too_large_int(call, name):
    with pytest.raises(OverflowError) as e:
        call(10**400)
    assert str(e.value) == f"int too large to convert to float (argument '{name}')"


def test_conversion_runs_in_signature_order():
    with pytest.raises(TypeError, match="'values'"):
        t.resample_linear([1.0], "x", "y")
    with pytest.raises(TypeError, match="'dt_in'"):
        t.resample_linear(np.ones(2), "x", "y")


def test_keyword_arguments(rng):
    x = rng.standard_normal(10)
    np.testing.assert_array_equal(t.integrate(values=x, dt=0.1), t.integrate(x, 0.1))
    np.testing.assert_array_equal(t.differentiate(dt=0.1, values=x), t.differentiate(x, 0.1))
    np.testing.assert_array_equal(t.decimate(values=x, factor=3), t.decimate(x, 3))
    np.testing.assert_array_equal(t.resample_linear(values=x, dt_in=1.0, dt_out=0.5), t.resample_linear(x, 1.0, 0.5))
    np.testing.assert_array_equal(t.resultant(z=x, y=x, x=x), t.resultant(x, x, x))
    with pytest.raises(TypeError):
        t.integrate(x)
    with pytest.raises(TypeError):
        t.integrate(x, 0.1, values=x)


def test_registration_order():
    names = [
        "resultant", "hic", "hic15", "hic36", "clip", "severity_index", "bric", "ubric", "vc", "nij", "nic",
        "tibia_index", "cfc", "filtfilt", "butterworth", "integrate", "differentiate", "decimate", "resample_linear",
    ]
    registered = [n for n in vars(t) if n in names]
    assert registered == names
    for n in names:
        assert getattr(t, n).__doc__


def test_refcounts_stable(rng):
    x = rng.standard_normal(50)
    before = sys.getrefcount(x)
    for _ in range(100):
        t.cfc(x, 60, 1e-4)
        t.hic(x, 1e-3)
        try:
            t.butterworth(x, 2, -1.0, 1000.0)
        except ValueError:
            pass
    assert sys.getrefcount(x) == before
