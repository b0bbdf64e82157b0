"""A notebook session in a script: ingest the example file, trace m/z 73,
fit its first peak and plot trace and curve.

    VX_STEPS_LIBRARY=build/release/vx_velloran_steps.so PYTHONPATH=python \
        python3 examples/notebook.py [out.png]

Each block below is one notebook cell."""

import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # no display needed; a notebook shows the figure inline
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import vx_steps  # noqa: E402

# Cell 1: the library and the run.
lib = vx_steps.open()
run = lib.ingest(Path(__file__).with_name("sim_basic.mzML"))
print(f"{run.summary['source_file_name']}: {len(run)} spectra, "
      f"{run.spectra()[0]['scan_start_time']:.3f}-{run.spectra()[-1]['scan_start_time']:.3f} min")

# Cell 2: the selected-ion trace of m/z 73 and a fit of its peak near 1.178 min.
trace = run.trace(73, tol=0.3)
fit = trace.fit(1.178, rt_tol=0.1)
print(f"fit {fit.status} after {fit.iterations} iterations: centre {fit.center:.4f} min, "
      f"height {fit.height:.0f}, sigma {fit.width * 60:.2f} s, area {fit.area:.1f}, "
      f"r\u00b2 {fit.r_squared:.5f}")

# Cell 3: the trace, the fit window and the fitted curve.
lo, hi = fit.window
times = np.linspace(lo, hi, 400)
fig, ax = plt.subplots(figsize=(8, 4.5))
ax.plot(trace.retention_time, trace.intensity, ".", color="0.55", label="trace, m/z 73 \u00b1 0.3")
ax.axvspan(lo, hi, color="tab:blue", alpha=0.08, label="fit window")
ax.plot(times, fit.curve(times), color="tab:red", label="Gaussian fit")
ax.axhline(fit.baseline, color="tab:red", ls=":", lw=1, label="baseline")
ax.set_xlabel("retention time (min)")
ax.set_ylabel("intensity")
ax.set_title(f"sim_basic.mzML \u00b7 m/z 73 \u00b7 peak at {fit.center:.3f} min")
ax.legend(loc="upper right")
fig.tight_layout()
out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path("out/notebook.png")
out.parent.mkdir(parents=True, exist_ok=True)
fig.savefig(out, dpi=110)
print(f"wrote {out}")
