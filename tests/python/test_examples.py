"""The examples in examples/python run at a small size and draw their pictures (into the build
tree under CTest, VELMOTH_EXAMPLE_OUTPUT)."""
import os
import pathlib
import subprocess
import sys

import pytest

from conftest import ROOT

EXAMPLES = ROOT / "examples" / "python"


@pytest.fixture(scope="module")
def output(tmp_path_factory):
    folder = os.environ.get("VELMOTH_EXAMPLE_OUTPUT")
    return pathlib.Path(folder) if folder else tmp_path_factory.mktemp("examples")


@pytest.mark.parametrize("script,picture,printed", [
    ("control.py", "python_control.png", "PD + gravity compensation: error at the end"),
    ("energy_drift.py", "python_energy_drift.png", "rk4 x 4        drift at 0.5 s:"),
    ("sweep_dask.py", "python_sweep_dask.png", "12 runs of 50 ticks on 2 worker threads"),
])
def test_example_runs_small_and_draws(output, script, picture, printed):
    target = output / picture
    if target.exists():
        target.unlink()
    done = subprocess.run([sys.executable, str(EXAMPLES / script), "--small", "--out", str(output)],
                          capture_output=True, text=True, timeout=240, check=False)
    assert done.returncode == 0, done.stderr
    assert printed in done.stdout
    assert target.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert target.stat().st_size > 10000
