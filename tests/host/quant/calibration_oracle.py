#!/usr/bin/python3
"""Holds vxrun's calibration fit against numpy's weighted least squares.

Random curves (linear and quadratic, with and without intercept, weights
none, 1/x and 1/x^2) over random amounts with multiplicative noise; numpy
solves sqrt(w)*X b = sqrt(w)*y with lstsq. Every coefficient must agree to
1e-9 relative (relative to the largest coefficient of the same curve for a
coefficient near zero).
Usage: calibration_oracle.py PATH_TO_calibration_oracle
"""
import subprocess
import sys

import numpy as np

WEIGHTS = {"none": lambda x: np.ones_like(x), "1/x": lambda x: 1 / x, "1/x2": lambda x: 1 / x**2}


def design(x, model, origin):
    cols = [] if origin else [np.ones_like(x)]
    cols.append(x)
    if model == "quadratic":
        cols.append(x * x)
    return np.column_stack(cols)


def main():
    rng = np.random.default_rng(20261208)
    cases, expected = [], []
    for i in range(600):
        model = ("linear", "quadratic")[i % 2]
        weighting = ("none", "1/x", "1/x2")[(i // 2) % 3]
        origin = (i // 6) % 2 == 1
        n = int(rng.integers(4, 16))
        x = np.exp(rng.uniform(np.log(0.2), np.log(500), n))
        c = [rng.normal(0, 50), rng.uniform(0.1, 1000) * rng.choice([-1, 1]),
             rng.normal(0, 0.5) if model == "quadratic" else 0.0]
        y = (c[0] + c[1] * x + c[2] * x * x) * rng.normal(1, 0.05, n)
        a = design(x, model, origin)
        sw = np.sqrt(WEIGHTS[weighting](x))
        b = np.linalg.lstsq(a * sw[:, None], y * sw, rcond=None)[0]
        full = list(b)
        if origin:
            full.insert(0, 0.0)
        if model == "linear":
            full.append(0.0)
        expected.append(full)
        pairs = " ".join(f"{xi!r} {yi!r}" for xi, yi in zip(x, y))
        cases.append(f"{model} {weighting} {int(origin)} {n} {pairs}")
    out = subprocess.run([sys.argv[1]], input="\n".join(cases) + "\n", text=True,
                         capture_output=True, check=True).stdout.split("\n")
    worst, failures = 0.0, 0
    for case, want, line in zip(cases, expected, out):
        status, *got = line.split()
        got = [float(g) for g in got]
        scale = max(abs(w) for w in want)
        for g, w in zip(got, want):
            err = abs(g - w) / max(abs(w), 1e-6 * scale)
            worst = max(worst, err)
            if status != "ok" or err > 1e-9:
                failures += 1
                print(f"mismatch: {case[:60]}... got {got} want {want} ({status})")
                break
    print(f"{len(cases)} random curves, worst relative difference {worst:.3g}")
    return 1 if failures or len(out) < len(cases) else 0


if __name__ == "__main__":
    sys.exit(main())
