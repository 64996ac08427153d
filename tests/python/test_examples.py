"""The examples run at a small size and draw their pictures (under CTest into the build tree)."""
import os
import pathlib
import subprocess
import sys

import pytest

from conftest import ROOT


@pytest.mark.parametrize("script,picture,printed", [
    ("control.py", "python_control.png", "PD + gravity compensation: error at the end"),
    ("energy_drift.py", "python_energy_drift.png", "rk4 x 4        drift at 0.5 s:"),
    ("sweep_dask.py", "python_sweep_dask.png", "12 runs of 50 ticks on 2 worker threads"),
])
def test_example_runs_small_and_draws(tmp_path, script, picture, printed):
    output = os.environ.get("VELMOTH_EXAMPLE_OUTPUT") or str(tmp_path)
    target = pathlib.Path(output, picture)
    target.unlink(missing_ok=True)
    done = subprocess.run([sys.executable, str(ROOT / "examples/python" / script), "--small",
                           "--out", output], capture_output=True, text=True, timeout=240)
    assert done.returncode == 0 and printed in done.stdout, done.stderr
    assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and target.stat().st_size > 10000
