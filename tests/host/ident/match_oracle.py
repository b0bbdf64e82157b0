#!/usr/bin/python3
"""Holds the library match scores against numpy's evaluation of the same
published formula (Stein and Scott 1994, as NIST MS Search reports it).

Random spectra: ion masses with decimals (several ions may share a nominal
mass, a few ions below 0.5 or above 5000 are dropped), intensities over six
decades, library spectra that share part of their ions with the unknown.
numpy bins to floor(mz + 0.5), sums each bin, weights w = M**3 * I**0.6 and
computes F = (sum wU wL)**2 / (sum wU**2 * sum wL**2), forward over every
mass and reverse over the library's masses, score = round(999 F). Every
score must agree to the integer (a case whose 999 F lies within 1e-6 of a
half is allowed either way), and F to 1e-12.
Usage: match_oracle.py PATH_TO_match_oracle
"""
import subprocess
import sys

import numpy as np

MAX_MASS = 5000


def binned(mz, intensity):
    keep = (mz >= 0.5) & (intensity >= 0)
    nominal = np.floor(mz[keep] + 0.5).astype(int)
    keep2 = nominal <= MAX_MASS
    out = np.zeros(MAX_MASS + 1)
    np.add.at(out, nominal[keep2], intensity[keep][keep2])
    return out


def fraction(u, lib, reverse):
    m = np.arange(MAX_MASS + 1, dtype=float)
    sel = (lib > 0) if reverse else ((u > 0) | (lib > 0))
    sel[0] = False
    wu = m[sel] ** 3 * u[sel] ** 0.6
    wl = m[sel] ** 3 * lib[sel] ** 0.6
    uu, ll = np.sum(wu * wu), np.sum(wl * wl)
    if uu <= 0 or ll <= 0:
        return 0.0
    return np.sum(wu * wl) ** 2 / (uu * ll)


def score(f):
    # Round half away from zero, as std::lround does.
    return int(np.floor(999 * f + 0.5))


def main():
    rng = np.random.default_rng(20240611)
    cases, lines = [], []
    for i in range(1000):
        n = int(rng.integers(1, 60))
        mz = rng.uniform(30, 600, n)
        if i % 10 == 0:
            mz[0] = rng.choice([0.2, 5200.0])
        inten = 10 ** rng.uniform(0, 6, n)
        shared = rng.random(n) < rng.uniform(0.2, 1.0)
        k = int(rng.integers(0, 30))
        lmz = np.concatenate([np.round(mz[shared]), rng.uniform(30, 600, k)])
        lin = np.concatenate([inten[shared] * rng.uniform(0.5, 1.5, shared.sum()),
                              10 ** rng.uniform(0, 3, k)])
        if lmz.size == 0:
            lmz, lin = np.array([41.0]), np.array([1.0])
        cases.append((binned(mz, inten), binned(lmz, lin)))
        lines.append("U " + " ".join(f"{a!r} {b!r}" for a, b in zip(mz, inten)))
        lines.append("L " + " ".join(f"{a!r} {b!r}" for a, b in zip(lmz, lin)))
    out = subprocess.run([sys.argv[1]], input="\n".join(lines) + "\n", capture_output=True,
                         text=True, check=True).stdout.split("\n")
    bad = 0
    for i, (u, lib) in enumerate(cases):
        got = out[i].split()
        if u.sum() <= 0 or lib.sum() <= 0:
            if got != ["none"]:
                print(f"case {i}: expected no score, got {out[i]}")
                bad += 1
            continue
        for j, reverse in enumerate((False, True)):
            f = fraction(u, lib, reverse)
            near_half = abs(999 * f - np.floor(999 * f) - 0.5) < 1e-6
            if abs(float(got[2 + j]) - f) > 1e-12 or (int(got[j]) != score(f) and not near_half):
                print(f"case {i} {'reverse' if reverse else 'forward'}: numpy {score(f)} ({f!r}),"
                      f" program {got[j]} ({got[2 + j]})")
                bad += 1
    print(f"{len(cases)} cases, {bad} disagreements")
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
