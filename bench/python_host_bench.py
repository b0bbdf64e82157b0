#!/usr/bin/python3
"""The Python host against vxrun on the 100 MB full-scan file.

    PYTHONPATH=python /usr/bin/python3 bench/python_host_bench.py \
        [--build build/release] [--reps 7]

Rows, each a median over --reps rounds that interleave every case (so a
machine loaded by other work slows all cases alike), wall and CPU seconds:
  vxrun, 1 target, -j 1          whole vxrun process
  python, 1 target, batch        batch_rows(jobs=1) in a running interpreter
                                 (library loaded, modules imported)
  python process, 1 target       a fresh interpreter: start, imports, batch
  python, ingest+trace+fit       the notebook path: the spectra document is
                                 copied into a bytes object, then traced
  vxrun / python batch, 20 and 200 targets, -j 1 and -j 2 (--counts)
  python, 20 targets, whole run  batch() as it was before compact documents:
                                 every target traced on the whole document
The machine's load average is printed before and after. The file is
generated into bench/data/ when missing."""

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "python"))
import vx_steps  # noqa: E402

DATA = ROOT / "bench" / "data"
BIG = DATA / "fullscan_100mb.mzML"
TRUTH = DATA / "fullscan_100mb.truth.json"
GENERATOR = ROOT.parent / "shared" / "tools" / "gen_gcms_mzml.py"


def ensure_file() -> None:
    if BIG.exists() and TRUTH.exists():
        return
    DATA.mkdir(parents=True, exist_ok=True)
    print(f"generating {BIG} ...", file=sys.stderr)
    subprocess.run([str(GENERATOR), "--mode", "fullscan", "--target-mb", "100", "--seed",
                    "4242", "--truth", str(TRUTH), "-o", str(BIG)], check=True,
                   stdout=subprocess.DEVNULL)


def targets(n: int) -> list:
    """The base peak of the first n compounds, then their second most intense
    ion and so on, the window 4 sigma wide."""
    ranked = []
    for k, c in enumerate(json.loads(TRUTH.read_text())["compounds"]):
        ions = sorted(c["ions"], key=lambda i: -i["height"])
        mzs = [c["base_peak_mz"]] + [ion["mz"] for ion in ions[1:]]
        ranked += [(rank, k, mz, c) for rank, mz in enumerate(mzs)]
    ranked.sort(key=lambda r: (r[0], r[1]))
    if len(ranked) < n:
        sys.exit(f"the file offers only {len(ranked)} targets")
    return [vx_steps.Target(mz, c["center_min"], f"{c['id']}_{rank}" if rank else c["id"],
                            mz_tol=0.3, rt_tol=4 * c["sigma_s"] / 60)
            for rank, _, mz, c in ranked[:n]]


def write_targets(ts: list, path: Path) -> Path:
    lines = ["name\tmz\trt\tmz_tol\trt_tol"]
    lines += [f"{t.name}\t{t.mz!r}\t{t.rt!r}\t{t.mz_tol!r}\t{t.rt_tol!r}" for t in ts]
    path.write_text("\n".join(lines) + "\n")
    return path


def child(args: list, env=None) -> tuple:
    """Wall and CPU seconds of a child process."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, env=env)
    wall = time.perf_counter() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def inside(fn) -> tuple:
    t0, c0 = time.perf_counter(), time.process_time()
    fn()
    return time.perf_counter() - t0, time.process_time() - c0


def main() -> None:
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=str(ROOT / "build" / "release"))
    ap.add_argument("--reps", type=int, default=7)
    ap.add_argument("--counts", default="20,200", help="target counts beyond one")
    a = ap.parse_args()
    counts = [int(n) for n in a.counts.split(",") if n]
    ensure_file()
    plugin = os.path.join(a.build, "vx_velloran_steps.so")
    vxrun = os.path.join(a.build, "vxrun")
    lib = vx_steps.open(plugin)
    one = targets(1)
    t1 = write_targets(one, DATA / "python_bench_1.tsv")
    many = {n: targets(n) for n in counts}
    files = {n: write_targets(many[n], DATA / f"python_bench_{n}.tsv") for n in counts}
    env = dict(os.environ, VX_STEPS_LIBRARY=plugin,
               PYTHONPATH=str(ROOT / "python"), PYTHONDONTWRITEBYTECODE="1")
    script = (f"import vx_steps; vx_steps.batch_rows([{str(BIG)!r}], "
              f"[vx_steps.Target({one[0].mz!r}, {one[0].rt!r}, mz_tol=0.3, "
              f"rt_tol={one[0].rt_tol!r})], jobs=1)")

    def notebook():
        t = one[0]
        lib.ingest(BIG).trace(t.mz, tol=t.mz_tol).fit(t.rt, rt_tol=t.rt_tol, check=False)

    def vx(tfile, jobs):
        return lambda: child([vxrun, "batch", str(BIG), "--targets", str(tfile), "-j",
                              str(jobs), "-q", "--table", os.devnull])

    def py(ts, jobs):
        return lambda: inside(lambda: vx_steps.batch_rows([BIG], ts, jobs=jobs, library=lib))

    def whole_run(ts, jobs):
        """batch() with every target traced on the whole document."""
        def run():
            compact = vx_steps._batch.compact_library
            vx_steps._batch.compact_library = lambda path: None
            try:
                vx_steps.batch_rows([BIG], ts, jobs=jobs, library=lib)
            finally:
                vx_steps._batch.compact_library = compact
        return lambda: inside(run)

    cases = {
        "vxrun, 1 target, -j 1": vx(t1, 1),
        "python, 1 target, batch (in process)":
            lambda: inside(lambda: vx_steps.batch_rows([BIG], one, jobs=1, library=lib)),
        "python process, 1 target, batch": lambda: child([sys.executable, "-c", script], env),
        "python, ingest+trace+fit (in process)": lambda: inside(notebook),
        "python, 1 target, batch jobs=2": py(one, 2),
        "vxrun, 1 target, -j 2": vx(t1, 2),
    }
    for n in counts:
        cases[f"vxrun, {n} targets, -j 1"] = vx(files[n], 1)
        cases[f"vxrun, {n} targets, -j 2"] = vx(files[n], 2)
        cases[f"python, {n} targets, batch jobs=1"] = py(many[n], 1)
        cases[f"python, {n} targets, batch jobs=2"] = py(many[n], 2)
    if 20 in many:
        cases["python, 20 targets, whole run jobs=2"] = whole_run(many[20], 2)
    load_before = os.getloadavg()
    times = {k: [] for k in cases}
    for _ in range(a.reps):
        for name, run in cases.items():
            times[name].append(run())
    load_after = os.getloadavg()
    med = {k: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v))
           for k, v in times.items()}
    print(f"{'case':42s} {'wall s':>8s} {'cpu s':>8s}   (medians of {a.reps})")
    for k, (w, c) in med.items():
        print(f"{k:42s} {w:8.3f} {c:8.3f}")
    print(f"load average (1, 5, 15 min): before {load_before[0]:.2f} {load_before[1]:.2f} "
          f"{load_before[2]:.2f}, after {load_after[0]:.2f} {load_after[1]:.2f} "
          f"{load_after[2]:.2f}; {os.cpu_count()} cores")
    for n in [1] + counts:
        s = "" if n == 1 else "s"
        for j in (1, 2):
            if n == 1 and j == 1:
                p_case = "python, 1 target, batch (in process)"
            else:
                p_case = f"python, {n} target{s}, batch jobs={j}"
            v = med[f"vxrun, {n} target{s}, -j {j}"]
            p = med[p_case]
            print(f"{n} target{s}, jobs {j}: python / vxrun {p[0] / v[0]:.2f}x wall, "
                  f"{p[1] / v[1]:.2f}x CPU")
    base = med["vxrun, 1 target, -j 1"][0]
    for k in ("python, 1 target, batch (in process)", "python process, 1 target, batch",
              "python, ingest+trace+fit (in process)"):
        print(f"{k}: {100 * (med[k][0] / base - 1):+.1f} % wall over vxrun (goal <= +10 %)")
    if 20 not in many:
        return
    speedup = {
        "vxrun": med["vxrun, 20 targets, -j 1"][0] / med["vxrun, 20 targets, -j 2"][0],
        "python": (med["python, 20 targets, batch jobs=1"][0] /
                   med["python, 20 targets, batch jobs=2"][0]),
    }
    for who, ratio in speedup.items():
        print(f"{who}: 20 targets, jobs 2 vs 1: {ratio:.2f}x")
    summary(med, base, speedup)


def summary(med: dict, base: float, speedup: dict) -> None:
    """Rows for bench/run.sh's summary table, when it asks for them."""
    path = os.environ.get("VX_BENCH_SUMMARY")
    if not path:
        return
    own = med["python, 1 target, batch (in process)"][0]
    process = med["python process, 1 target, batch"][0]
    with open(path, "a") as out:
        out.write(f"chain through the Python package, 1 target (in process / whole "
                  f"process)\t{own:.3f} s / {process:.3f} s\tvxrun {base:.3f} s\t"
                  f"<= +10 % wall in process\t{'yes' if own <= 1.1 * base else 'no'}\n")
        out.write(f"Python batch(), 20 targets, jobs=1 / jobs=2\t{speedup['python']:.2f}x\t"
                  f"vxrun -j 1 / -j 2 {speedup['vxrun']:.2f}x\t\t\n")


if __name__ == "__main__":
    main()
