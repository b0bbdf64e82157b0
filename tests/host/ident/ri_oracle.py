#!/usr/bin/python3
"""Holds the retention indices against numpy's evaluation of van den Dool and
Kratz's formula. Random ladders (even-only and gapped carbon numbers, drifting
spacing) and random times inside, at and outside them: numpy finds the
bracketing pair with searchsorted (the first or last pair outside the
ladder) and computes RI = 100 (n + (N - n)(t - t_n)/(t_N - t_n)). Every index
must agree to 1e-9 units, the extrapolated flag exactly, and the inverse must
give the time back to 1e-10 min.
Usage: ri_oracle.py PATH_TO_ri_oracle
"""
import subprocess
import sys

import numpy as np


def oracle_ri(carbons, times, t):
    i = int(np.searchsorted(times, t, side="right")) - 1
    i = min(max(i, 0), len(times) - 2)
    n, big_n = carbons[i], carbons[i + 1]
    tn, tbig = times[i], times[i + 1]
    ri = 100.0 * (n + (big_n - n) * (t - tn) / (tbig - tn))
    return ri, bool(t < times[0] or t > times[-1])


def main():
    rng = np.random.default_rng(20261209)
    lines, expected = [], []
    for case in range(300):
        k = int(rng.integers(2, 25))
        first = int(rng.integers(5, 20))
        steps = rng.choice([1, 1, 1, 2], size=k - 1) if case % 3 else np.full(k - 1, 2)
        carbons = np.concatenate([[first], first + np.cumsum(steps)]).astype(int)
        gaps = rng.uniform(0.5, 2.0, size=k - 1) * np.linspace(1.0, rng.uniform(0.6, 1.4), k - 1)
        times = np.array([rng.uniform(1.0, 5.0)])
        times = np.concatenate([times, times[0] + np.cumsum(gaps)])
        probe = list(rng.uniform(times[0] - 2.0, times[-1] + 2.0, size=20)) + list(times)
        lines.append("L " + " ".join(f"{c} {t!r}" for c, t in zip(carbons, times)))
        lines.append("T " + " ".join(repr(float(t)) for t in probe))
        for t in probe:
            expected.append((t, oracle_ri(carbons, times, t)))
    out = subprocess.run([sys.argv[1]], input="\n".join(lines) + "\n", capture_output=True,
                         text=True, check=True).stdout.split("\n")
    worst_ri = worst_t = 0.0
    failures = 0
    for (t, (ri, extrapolated)), line in zip(expected, out):
        got = line.split()
        if len(got) != 3:
            failures += 1
            continue
        d_ri = abs(float(got[0]) - ri)
        d_t = abs(float(got[2]) - t)
        worst_ri, worst_t = max(worst_ri, d_ri), max(worst_t, d_t)
        if d_ri > 1e-9 or d_t > 1e-10 or (got[1] == "1") != extrapolated:
            failures += 1
            if failures < 5:
                print(f"t={t!r}: numpy {ri!r} {extrapolated}, host {line}")
    print(f"{len(expected)} indices, worst |dRI| {worst_ri:.3g}, worst |dt| {worst_t:.3g} min")
    return 1 if failures or len(out) < len(expected) else 0


if __name__ == "__main__":
    sys.exit(main())
