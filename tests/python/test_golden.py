"""The golden runs of velmoth-sim (tests/tools/golden), computed outside the project, reproduced
bit for bit by Simulation.run: the same tick with the same defaults."""
import numpy as np
import pytest

import velmoth
from conftest import (GOLDEN, assert_bits_equal, assert_run_equals, golden_cases, parse_run_csv,
                      vector_text)


def options_of(args):
    """The options of a velmoth-sim run command line, as {option: text}."""
    assert args[0] == "run"
    it = iter(args[1:])
    return {name.lstrip("-"): value for name, value in zip(it, it)}


def simulate(args):
    """Simulation.run with what the command line asks of velmoth-sim."""
    o = options_of(args)
    robot = velmoth.Robot(links=int(o.get("links", 6)))
    n = robot.dof
    settings = {}
    for name in ("viscous", "coulomb"):
        if name in o:
            settings[name] = float(o[name])
    if "gravity" in o:
        settings["gravity"] = vector_text(o["gravity"], 3)
    sim = velmoth.Simulation(robot, **settings)
    mode = o.get("mode", "forward")
    vector = vector_text(o.get("torque" if mode == "forward" else "accel", ""), n)
    ticks, every = int(o.get("ticks", 100)), int(o.get("every", 1))
    if mode == "forward":
        return sim.run(ticks, vector, every=every)
    return sim.run(ticks, mode="inverse", accel=vector, every=every)


CASES = golden_cases()


def test_every_golden_case_is_here():
    assert len(CASES) == 5


@pytest.mark.parametrize("name,args", CASES, ids=[c[0] for c in CASES])
def test_golden_run_bit_for_bit(name, args):
    text = (GOLDEN / name).read_text()
    trajectory = simulate(args)
    # The numbers themselves: %.17g reads back exactly.
    assert_run_equals(trajectory, parse_run_csv(text), name)
    # And the text of the project's own row code.
    assert trajectory.csv() == text


def test_golden_run_stepped_from_python_bit_for_bit():
    # step() runs the same tick: 100 ticks from a Python loop give the one-link golden run.
    table = parse_run_csv((GOLDEN / "forward-one-link.csv").read_text())
    sim = velmoth.Simulation(velmoth.Robot(links=1))
    for row in range(100):
        qdd = sim.step([2.0])
        assert_bits_equal(qdd, table["qdd"][row], f"qdd of tick {row + 1}")
        assert_bits_equal(sim.q, table["q"][row], f"q of tick {row + 1}")
        assert_bits_equal(sim.qd, table["qd"][row], f"qd of tick {row + 1}")
        assert_bits_equal([sim.kinetic, sim.potential, sim.total],
                          [table[k][row] for k in ("kinetic", "potential", "total")])
    assert sim.tick == 100


def test_inverse_golden_run_stepped_from_python_bit_for_bit():
    table = parse_run_csv((GOLDEN / "inverse-four-links.csv").read_text())
    sim = velmoth.Simulation(velmoth.Robot(links=4))
    taus = np.array([sim.step_inverse([0.3, -0.2, 0.1, 0]) for _ in range(120)])
    assert_bits_equal(taus, table["tau"], "tau")
    assert_bits_equal(sim.q, table["q"][-1], "q")


def test_runs_in_pieces_continue_the_tick_numbers_and_the_motion():
    # Two runs of 125 ticks are one of 250: the step keeps nothing that the break would lose.
    text = (GOLDEN / "forward-six-links-mixed-torques.csv").read_text()
    table = parse_run_csv(text)
    sim = velmoth.Simulation(velmoth.Robot(), viscous=0.2, coulomb=0)
    torque = [0.5, 0, -0.5, 1, 0, 0]
    first, second = sim.run(125, torque), sim.run(125, torque)
    assert list(second.tick[:2]) == [126, 127]
    assert_bits_equal(np.concatenate([first.q, second.q]), table["q"], "q")
    assert_bits_equal(np.concatenate([first.total, second.total]), table["total"], "total")
