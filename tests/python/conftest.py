"""Shared helpers of the Python module's tests: where things are, velmoth-sim, CSV parsing."""
import os
import pathlib
import shlex
import subprocess

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "tools" / "golden"
SAMPLES = ROOT / "examples"
URDF_TESTS = ROOT / "tests" / "urdf"


def velmoth_sim_path():
    path = os.environ.get("VELMOTH_SIM") or str(ROOT / "build" / "release" / "bin" / "velmoth-sim")
    return path if os.access(path, os.X_OK) else None


@pytest.fixture(scope="session")
def velmoth_sim():
    """Runs velmoth-sim with a list of arguments and returns its standard output."""
    path = velmoth_sim_path()
    if path is None:
        pytest.skip("velmoth-sim is not built (set VELMOTH_SIM)")

    def run(args):
        done = subprocess.run([path, *args], capture_output=True, text=True, check=False)
        assert done.returncode == 0, done.stderr
        return done.stdout

    return run


def parse_run_csv(text):
    """velmoth-sim run's text as a dict of arrays, with q, qd, qdd, tau as (rows, n) tables."""
    lines = text.splitlines()
    header = lines[0].split(",")
    rows = np.array([[float(x) for x in line.split(",")] for line in lines[1:]], dtype=np.float64)
    rows = rows.reshape(len(lines) - 1, len(header))
    n = (len(header) - 5) // 4
    table = {"tick": rows[:, 0].astype(np.int64), "time": rows[:, 1]}
    for k, name in enumerate(("q", "qd", "qdd", "tau")):
        table[name] = rows[:, 2 + k * n: 2 + (k + 1) * n]
    for k, name in enumerate(("kinetic", "potential", "total")):
        table[name] = rows[:, 2 + 4 * n + k]
    return table


def assert_bits_equal(actual, expected, what=""):
    """The same float64 values bit for bit (so -0.0 differs from 0.0, as in the printed text)."""
    a = np.ascontiguousarray(actual, dtype=np.float64)
    e = np.ascontiguousarray(expected, dtype=np.float64)
    assert a.shape == e.shape, f"{what}: shape {a.shape} != {e.shape}"
    differ = a.view(np.int64) != e.view(np.int64)
    if differ.any():
        first = np.argwhere(differ)[0]
        at = tuple(int(i) for i in first)
        raise AssertionError(f"{what}: differs at {at}: {float(a[at]).hex()} != {float(e[at]).hex()}")


def assert_run_equals(trajectory, table, what=""):
    """A Trajectory holds exactly the rows of velmoth-sim's text."""
    assert np.array_equal(trajectory.tick, table["tick"]), what
    for name in ("time", "q", "qd", "qdd", "tau", "kinetic", "potential", "total"):
        assert_bits_equal(getattr(trajectory, name), table[name], f"{what} {name}")


def vector_text(text, n):
    """The panel's vector text as the golden cases use it: numbers and ', ', the rest zeros."""
    values = [float(x) for x in text.split(",") if x.strip()] if text else []
    return (values + [0.0] * n)[:n]


def golden_cases():
    """(file, arguments) of each line of CASES.txt."""
    cases = []
    for line in (GOLDEN / "CASES.txt").read_text().splitlines():
        name, command = line.split(": velmoth-sim ", 1)
        cases.append((name, shlex.split(command)))
    return cases
