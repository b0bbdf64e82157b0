"""The notebook example runs end to end and draws its figure."""

import os
import subprocess
import sys


def test_notebook_example_writes_its_png(source_dir, tmp_path):
    png = tmp_path / "fit.png"
    done = subprocess.run([sys.executable, source_dir / "examples/notebook.py", png],
                          env=dict(os.environ, MPLCONFIGDIR=str(tmp_path)),
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert "fit success" in done.stdout
    assert png.read_bytes().startswith(b"\x89PNG") and png.stat().st_size > 20000
