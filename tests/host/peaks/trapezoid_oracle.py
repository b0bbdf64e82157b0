"""integrated_area against scipy.integrate.trapezoid on the same points and
bounds: the C++ side prints each case (trace, walked bounds, baseline, its
area); here the points inside the bounds are integrated again with scipy."""
import json
import subprocess
import sys

import numpy as np
from scipy.integrate import trapezoid


def main() -> int:
    out = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
    cases = [json.loads(line) for line in out.splitlines() if line.strip()]
    if len(cases) < 15:
        print(f"expected at least 15 cases, got {len(cases)}")
        return 1
    worst = 0.0
    for c in cases:
        t = np.array(c["t"])
        y = np.array(c["y"]) - c["baseline"]
        keep = (t >= c["start"]) & (t <= c["end"])
        want = trapezoid(y[keep], t[keep])
        rel = abs(c["area"] - want) / abs(want)
        worst = max(worst, rel)
        if rel > 1e-12:
            print(f"case {c['id']}: area {c['area']!r}, scipy {want!r}")
            return 1
    print(f"{len(cases)} cases, worst relative difference {worst:.3g}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
