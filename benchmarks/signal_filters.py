"""Signal filters and injury criteria against SciPy and NumPy.

Run by hand:  python benchmarks/signal_filters.py [--quick]

Filters: 1,000,000-sample channel, tarvex vs scipy.signal.filtfilt with the
same coefficients (CFC 60/180/600/1000 and Butterworth orders 2, 4, 8).
HIC36: a 10 kHz channel of 100,000 samples vs a vectorised NumPy HIC.
Clip: 3 ms clip of a 1,000,000-sample channel vs sliding_window_view min/max.
Ratios above 1 mean tarvex is faster.
"""

import argparse
import math
import time

import numpy as np
import scipy.signal as ss
from numpy.lib.stride_tricks import sliding_window_view

import _tarvex as t


def best_of(fn, repeat):
    best = math.inf
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def cfc_coefficients(cfc, dt):
    wd = cfc * 6.283185307179586 * 2.0775
    wa = math.tan(wd * dt * 0.5)
    wa2 = wa * wa
    d = (1.0 + math.sqrt(2.0) * wa) + wa2
    b0 = wa2 / d
    return [b0, 2 * b0, b0], [1.0, 2 * (wa2 - 1.0) / d, (1 - math.sqrt(2.0) * wa + wa2) / d]


def numpy_hic(a, dt, window):
    v = np.concatenate([[0.0], np.cumsum((a[:-1] + a[1:]) * (dt * 0.5))])
    w = max(1, min(int(round(window / dt)), len(a) - 1))
    best = 0.0
    for k in range(1, w + 1):
        dv = v[k:] - v[:-k]
        np.maximum(dv, 0.0, out=dv)
        q = dv**2.5 / (k * dt) ** 1.5
        best = max(best, float(q.max()))
    return best


def numpy_clip(a, dt, window):
    n = max(int(round(window / dt)), 1)
    return float(sliding_window_view(a, n).min(axis=1).max())


def report(name, ours, peer):
    print(f"{name:<28} tarvex {ours * 1e3:9.2f} ms   peer {peer * 1e3:9.2f} ms   ratio {peer / ours:6.2f}x")
    return peer / ours


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="fewer repetitions")
    args = ap.parse_args()
    repeat = 2 if args.quick else 5

    rng = np.random.default_rng(0)
    n = 1_000_000
    dt = 1e-5
    x = np.cumsum(rng.standard_normal(n))

    print(f"filters, {n:,} samples")
    for cfc in (60, 180, 600, 1000):
        b, a = cfc_coefficients(cfc, dt)
        assert np.allclose(t.cfc(x, cfc, dt), ss.filtfilt(b, a, x, padtype="odd", padlen=9), rtol=1e-9, atol=1e-9)
        report(f"cfc {cfc}", best_of(lambda: t.cfc(x, cfc, dt), repeat),
               best_of(lambda: ss.filtfilt(b, a, x, padtype="odd", padlen=9), repeat))
    fs = 1.0 / dt
    for order in (2, 4, 8):
        b, a = ss.butter(order, 2 * 2000.0 / fs)
        pad = 3 * (order + 1)
        report(f"butterworth order {order}", best_of(lambda: t.butterworth(x, order, 2000.0, fs), repeat),
               best_of(lambda: ss.filtfilt(b, a, x, padtype="odd", padlen=pad), repeat))
    for order in (2, 4, 8):
        b, a = ss.butter(order, 2 * 2000.0 / fs)
        pad = 3 * (order + 1)
        report(f"filtfilt (butter {order})", best_of(lambda: t.filtfilt(b, a, x), repeat),
               best_of(lambda: ss.filtfilt(b, a, x, padtype="odd", padlen=pad), repeat))

    print()
    head = np.abs(np.sin(np.linspace(0, 40, 100_000))) * 60 + rng.standard_normal(100_000)
    ours = t.hic36(head, 1e-4)
    ref = numpy_hic(head, 1e-4, 0.036)
    assert abs(ours - ref) <= 1e-9 * ours, (ours, ref)
    r_hic = report("hic36 (100k @ 10 kHz)", best_of(lambda: t.hic36(head, 1e-4), repeat),
                   best_of(lambda: numpy_hic(head, 1e-4, 0.036), max(1, repeat // 2)))

    chest = np.abs(np.cumsum(rng.standard_normal(n))) + 0.0
    assert t.clip(chest, dt, 0.003) == numpy_clip(chest, dt, 0.003)
    r_clip = report("clip 3 ms (1M @ 100 kHz)", best_of(lambda: t.clip(chest, dt, 0.003), repeat),
                    best_of(lambda: numpy_clip(chest, dt, 0.003), max(1, repeat // 2)))
    print(f"\ngoals: filters >= 1x, hic36 >= 5x ({r_hic:.1f}x), clip >= 10x ({r_clip:.1f}x)")


if __name__ == "__main__":
    main()
