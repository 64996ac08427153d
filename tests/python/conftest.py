"""Shared helpers: where things are, the arms, velmoth-sim, its CSV as arrays, bitwise
comparison."""
import os
import pathlib
import shlex
import subprocess

import numpy as np
import pytest

import velmoth

ROOT = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "tools" / "golden"
SAMPLES = ROOT / "examples"


def robot(name, **options):
    """The built-in arm of NAME links (an int), or the arm of examples/NAME.urdf."""
    if isinstance(name, int):
        return velmoth.Robot.builtin(links=name)
    return velmoth.Robot.from_urdf(SAMPLES / f"{name}.urdf", **options)


def sim_args(text):
    """velmoth-sim's arguments written as one line; a word @NAME is the sample file NAME."""
    return [str(SAMPLES / w[1:]) if w.startswith("@") else w for w in shlex.split(text)]


@pytest.fixture(scope="session")
def velmoth_sim():
    """velmoth-sim's standard output for a list of arguments or a line of them (see sim_args)."""
    path = os.environ.get("VELMOTH_SIM") or str(ROOT / "build/release/bin/velmoth-sim")
    if not os.access(path, os.X_OK):
        pytest.skip("velmoth-sim is not built (set VELMOTH_SIM)")

    def run(args):
        args = sim_args(args) if isinstance(args, str) else args
        done = subprocess.run([path, *args], capture_output=True, text=True, check=False)
        assert done.returncode == 0, done.stderr
        return done.stdout

    return run


def parse_run_csv(text):
    """velmoth-sim run's text as a dict of arrays; q, qd, qdd, tau are (rows, n) tables."""
    lines = text.splitlines()
    n = (len(lines[0].split(",")) - 5) // 4
    rows = np.array([[float(x) for x in line.split(",")] for line in lines[1:]]).reshape(
        len(lines) - 1, 4 * n + 5)
    table = {"tick": rows[:, 0].astype(np.int64), "time": rows[:, 1]}
    for k, name in enumerate(("q", "qd", "qdd", "tau")):
        table[name] = rows[:, 2 + k * n: 2 + (k + 1) * n]
    for k, name in enumerate(("kinetic", "potential", "total")):
        table[name] = rows[:, 2 + 4 * n + k]
    return table


def assert_bits_equal(actual, expected, what=""):
    """The same float64 values bit for bit (-0.0 differs from 0.0, as in the printed text)."""
    a, e = (np.ascontiguousarray(x, dtype=np.float64) for x in (actual, expected))
    assert a.shape == e.shape, f"{what}: shape {a.shape} != {e.shape}"
    differ = np.argwhere(a.view(np.int64) != e.view(np.int64))
    assert not len(differ), f"{what}: differs first at {tuple(differ[0])}"


def assert_run_equals(trajectory, text, what=""):
    """A Trajectory holds exactly the rows of velmoth-sim's text, and prints that text."""
    table = parse_run_csv(text)
    assert np.array_equal(trajectory.tick, table["tick"]), what
    for name in ("time", "q", "qd", "qdd", "tau", "kinetic", "potential", "total"):
        assert_bits_equal(getattr(trajectory, name), table[name], f"{what} {name}")
    assert trajectory.csv() == text, what
