#!/usr/bin/python3
"""Many targets on one large file: whole `vxrun batch -j 2` processes against
OpenMS `EICExtractor -threads 2` (Debian `topp`) on the same file and
positions, interleaved round by round so both see the same machine load.

The file is the shared generator's 98 MiB full-scan run (seed 4242), made in
bench/data/ when missing. Targets are its compounds' two most intense ions
(then the third, fourth, ... when more are asked for than that gives), at
the compound's retention time; vxrun gets a 0.3 Da window and +-0.3 min,
EICExtractor the same m/z window in ppm at the median target m/z and +-18 s.

Prints, per target count, the medians of wall time, CPU time (user +
system) and peak resident memory of each program, and vxrun's CPU per
target added from one row to the next (the marginal cost of a target).

With --files N (4 by default; 0 skips it), N copies of the file (hard
links under bench/data/files/) are run once more with 200 targets, as one
`vxrun batch` and one EICExtractor call each, to compare CPU on a batch.

Usage: bench/targets_bench.py [--runs N] [--counts 1,10,50,200,500]
       [--files 4] [--vxrun build/release/vxrun]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "bench", "data")
GENERATOR = os.path.join(os.path.dirname(ROOT), "shared", "tools", "gen_gcms_mzml.py")
MZML = os.path.join(DATA, "fullscan_100mb_seed4242.mzML")
TRUTH = os.path.join(DATA, "fullscan_100mb_seed4242.truth.json")
MZ_TOL = 0.3
RT_TOL_MIN = 0.3


def ensure_file():
    if os.path.exists(MZML) and os.path.exists(TRUTH):
        return
    os.makedirs(DATA, exist_ok=True)
    subprocess.run([GENERATOR, "-o", MZML, "--truth", TRUTH, "--mode", "fullscan",
                    "--target-mb", "100", "--seed", "4242"], check=True,
                   stdout=subprocess.DEVNULL)


def all_targets():
    """(name, mz, rt_min) by rank of the ion within its compound, then compound."""
    with open(TRUTH) as f:
        truth = json.load(f)
    ranked = []
    for c in truth["compounds"]:
        ions = sorted(c["ions"], key=lambda i: -i["height"])
        for rank, ion in enumerate(ions):
            ranked.append((rank, c["id"], ion["mz"], c["center_min"]))
    ranked.sort(key=lambda r: (r[0], r[1]))
    # The two most intense ions of every compound come first, compound by
    # compound, so 200 targets are the first 100 compounds' top two.
    top2 = sorted([r for r in ranked if r[0] < 2], key=lambda r: (r[1], r[0]))
    rest = [r for r in ranked if r[0] >= 2]
    return [(f"{cid}_{rank}", mz, rt) for rank, cid, mz, rt in top2 + rest]


def write_inputs(targets, n):
    tsv = os.path.join(DATA, f"targets_{n}.tsv")
    edta = os.path.join(DATA, f"targets_{n}.edta")
    with open(tsv, "w") as f:
        f.write("name\tmz\trt\tmz_tol\trt_tol\n")
        for name, mz, rt in targets[:n]:
            f.write(f"{name}\t{mz!r}\t{rt!r}\t{MZ_TOL}\t{RT_TOL_MIN}\n")
    with open(edta, "w") as f:
        f.write("RT\tm/z\tint\tcharge\n")
        for _, mz, rt in targets[:n]:
            f.write(f"{rt * 60!r}\t{mz!r}\t0\t0\n")
    return tsv, edta


def timed(cmd):
    """Wall s, CPU s, peak RSS MiB of one whole process."""
    out = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M"] + cmd,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if out.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{out.stderr[-2000:]}")
    wall, user, system, rss = out.stderr.strip().splitlines()[-1].split()
    return float(wall), float(user) + float(system), int(rss) / 1024.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--counts", default="1,10,50,200,500")
    ap.add_argument("--files", type=int, default=4)
    ap.add_argument("--vxrun", default=os.path.join(ROOT, "build", "release", "vxrun"))
    a = ap.parse_args()
    counts = [int(c) for c in a.counts.split(",")]
    ensure_file()
    targets = all_targets()
    if len(targets) < max(counts):
        sys.exit(f"the file offers only {len(targets)} targets")
    median_mz = statistics.median(mz for _, mz, _ in targets[:max(counts)])
    ppm = MZ_TOL / median_mz * 1e6
    inputs = {n: write_inputs(targets, n) for n in counts}
    table = os.path.join(DATA, "targets_bench.table.tsv")
    csv = os.path.join(DATA, "targets_bench.eic.csv")
    runs = {(p, n): [] for p in ("vxrun", "eic") for n in counts}
    many = []
    if a.files > 0:
        folder = os.path.join(DATA, "files")
        os.makedirs(folder, exist_ok=True)
        for i in range(a.files):
            link = os.path.join(folder, f"run{i}.mzML")
            if not os.path.exists(link):
                os.link(MZML, link)
            many.append(link)
        many_tsv, many_edta = write_inputs(targets, 200)
        runs["vxrun", "files"] = []
        runs["eic", "files"] = []
    for r in range(a.runs):
        for n in counts:
            tsv, edta = inputs[n]
            runs["vxrun", n].append(timed([a.vxrun, "batch", MZML, "--targets", tsv, "-j", "2",
                                           "-q", "--table", table]))
            runs["eic", n].append(timed(["EICExtractor", "-in", MZML, "-pos", edta, "-out", csv,
                                         "-threads", "2", "-mz_tol", f"{ppm:.1f}",
                                         "-rt_tol", f"{RT_TOL_MIN * 60}"]))
        if many:
            runs["vxrun", "files"].append(timed([a.vxrun, "batch", *many, "--targets", many_tsv,
                                                 "-j", "2", "-q", "--table", table]))
            runs["eic", "files"].append(timed(["EICExtractor", "-in", *many, "-pos", many_edta,
                                               "-out", csv, "-threads", "2", "-mz_tol",
                                               f"{ppm:.1f}", "-rt_tol", f"{RT_TOL_MIN * 60}"]))
        print(f"round {r + 1}/{a.runs} done, load average {os.getloadavg()[0]:.2f}",
              file=sys.stderr)

    def med(p, n, k):
        return statistics.median(x[k] for x in runs[p, n])

    print(f"file {os.path.getsize(MZML) / 2**20:.1f} MiB; medians of {a.runs} interleaved runs; "
          f"EICExtractor -mz_tol {ppm:.1f} ppm (= {MZ_TOL} Da at m/z {median_mz:.1f})")
    print("| targets | vxrun wall s | vxrun CPU s | vxrun peak MiB | EICExtractor wall s "
          "| EICExtractor CPU s | EICExtractor peak MiB | vxrun wall / EIC wall "
          "| vxrun CPU per target added since the row above, ms |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for i, n in enumerate(counts):
        prev = counts[i - 1] if i else None
        marginal = ("" if prev is None else
                    f"{(med('vxrun', n, 1) - med('vxrun', prev, 1)) / (n - prev) * 1000:.1f}")
        print(f"| {n} | {med('vxrun', n, 0):.2f} | {med('vxrun', n, 1):.2f} | "
              f"{med('vxrun', n, 2):.0f} | {med('eic', n, 0):.2f} | {med('eic', n, 1):.2f} | "
              f"{med('eic', n, 2):.0f} | {med('vxrun', n, 0) / med('eic', n, 0):.2f} | "
              f"{marginal} |")
    if many:
        n = "files"
        print(f"\n{len(many)} files x 200 targets: vxrun wall {med('vxrun', n, 0):.2f} s, "
              f"CPU {med('vxrun', n, 1):.2f} s, peak {med('vxrun', n, 2):.0f} MiB; "
              f"EICExtractor wall {med('eic', n, 0):.2f} s, CPU {med('eic', n, 1):.2f} s, "
              f"peak {med('eic', n, 2):.0f} MiB; vxrun CPU / EIC CPU "
              f"{med('vxrun', n, 1) / med('eic', n, 1):.2f}")
    print(f"load average at the end: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")


if __name__ == "__main__":
    main()
