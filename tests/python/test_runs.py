"""Runs and terms bit for bit: the golden runs (made outside the project), velmoth-sim's own, the
file's limits, friction and efforts among them; runs that diverge."""
import shlex

import numpy as np
import pytest

import velmoth
from conftest import (GOLDEN, assert_bits_equal, assert_run_equals, parse_run_csv, robot,
                      sim_args)

CASES = [line.split(": velmoth-sim ", 1) for line in (GOLDEN / "CASES.txt").read_text().split("\n")
         if line]
VECTORS = ("torque", "accel", "gravity", "q0", "qd0", "q", "qd")


def robot_and_options(args):
    """The Robot and the other options, as Python values, of velmoth-sim's "--name value"s and
    flags."""
    o = {}
    for word in args:
        key, o[key] = (word[2:].replace("-", "_"), True) if word.startswith("--") else (key, word)
    for key, value in o.items():
        if key in VECTORS:
            o[key] = [float(x) for x in value.split(",")]
        elif key in ("ticks", "every", "links", "substeps", "viscous", "coulomb"):
            o[key] = float(value) if key in ("viscous", "coulomb") else int(value)
        elif value == "off":
            o[key] = False
    if "urdf" in o:
        return velmoth.Robot.from_urdf(o.pop("urdf"), tip=o.pop("tip", None)), o
    return velmoth.Robot.builtin(links=o.pop("links", 6)), o


def simulate(args):
    robot, o = robot_and_options(args)
    run = {k: o.pop(k) for k in ("ticks", "every", "mode", "torque", "accel") if k in o}
    return velmoth.Simulation(robot, **o).run(**run)


@pytest.mark.parametrize("name,command", CASES, ids=[c[0] for c in CASES])
def test_golden_run_bit_for_bit(name, command):
    assert_run_equals(simulate(shlex.split(command)[1:]), (GOLDEN / name).read_text(), name)


def test_golden_runs_stepped_from_python():
    table = parse_run_csv((GOLDEN / "forward-one-link.csv").read_text())
    sim = velmoth.Simulation(robot(1))
    for row in range(100):
        assert_bits_equal(sim.step([2.0]), table["qdd"][row], f"qdd of tick {row + 1}")
        assert_bits_equal([*sim.q, *sim.qd, *sim.tau, sim.total],
                          [table["q"][row, 0], table["qd"][row, 0], 2.0, table["total"][row]])
    table = parse_run_csv((GOLDEN / "inverse-four-links.csv").read_text())
    sim = velmoth.Simulation(robot(4))
    assert_bits_equal([sim.step_inverse([0.3, -0.2, 0.1, 0]) for _ in range(120)], table["tau"])
    assert_bits_equal(sim.tau, table["tau"][-1], "Simulation.tau")


# The file's physics: limits, each joint's friction and efforts.
LIMITS = [f"--urdf @{arm}.urdf --ticks 150 --torque {torque} {options}"
          for arm, torque in [("scara", "100,-50,-1,0.1"), ("planar_3link", "70,-10,1")]
          for options in ["", "--limits off --friction uniform",
                          "--effort-limits --integrator rk4"]]


@pytest.mark.parametrize("args", [
    "--urdf @puma560.urdf --engine closed-form --integrator euler --ticks 300 --every 10",
    "--urdf @arm7_gripper.urdf --tip link4 --engine recursive --integrator euler --qd0 1,-1,0.5,0 "
    "--ticks 200",
    "--urdf @scara.urdf --engine closed-form --integrator implicit --torque 0.5,0,-15.696,0 "
    "--ticks 300",
    "--urdf @double_pendulum.urdf --engine recursive --integrator rk4 --substeps 3 --q0 1.2,-0.5 "
    "--viscous 0 --coulomb 0 --ticks 500",
    "--urdf @industrial6.urdf --engine recursive --gravity 0.5,0,-9 --mode inverse "
    "--accel 1,-2,0.5,3,-1,2 --ticks 150",
    "--links 3 --engine closed-form --integrator rk4 --substeps 4 --coulomb 0.3 --ticks 400 "
    "--every 20",
    "--links 9 --ticks 600 --every 100",  # diverges: non-finite rows as printed
] + LIMITS)
def test_run_equals_velmoth_sim(velmoth_sim, args, recwarn):
    args = sim_args(args)
    assert_run_equals(simulate(args), velmoth_sim(["run", *args]), str(args))


@pytest.mark.parametrize("robot,options,torque,tick", [
    (robot(9), {}, None, 487),
    # A singular solve of the closed form.
    (robot("scara"), {"engine": "closed-form", "integrator": "euler"}, [1000.0] * 4, 12),
])
def test_a_run_that_diverges_warns_once_and_the_ticks_go_on(robot, options, torque, tick):
    sim = velmoth.Simulation(robot, **options)
    with pytest.warns(velmoth.DivergenceWarning,
                      match=rf"diverged at tick {tick} \(t = {tick / 100:g} s\)") as w:
        run = sim.run(tick + 8, torque)
    assert (len(w), run.diverged_at, len(run), sim.finite) == (1, tick, tick + 8, False)
    assert np.isnan(run.q[-1]).all()
    sim.step(torque)
    assert sim.tick == tick + 9


@pytest.mark.parametrize("args", [
    "--links 3 --q 0.3,-0.2,0.5 --qd 1,2,3 --torque 1,0,-1 --accel 0,2,1",
    "--urdf @puma560.urdf --engine closed-form --q 0.1,0.5,-0.5,0.2,0.3,0.4 --qd 0.5,-1,1,0,2,-2 "
    "--torque 1,2,3,0,0,0.1 --accel 1,2,3,0,0,0.1",
    "--urdf @scara.urdf --engine recursive --q 0.3,0.2,0.05,1 --qd 0,1,0,0 --accel 1,1,1,1",
])
def test_terms_and_dynamics_equal_velmoth_sim_terms(velmoth_sim, args):
    args = sim_args(args) + ["--viscous", "0.3", "--coulomb", "0.2", "--gravity", "1,0,-9"]
    expected = {}
    for line in velmoth_sim(["terms", *args]).splitlines():
        name, rows, cols, *values = line.split()
        expected[name] = [float(v) for v in values]
    robot, o = robot_and_options(args)
    q, qd, torque, accel, engine = map(o.pop, ("q", "qd", "torque", "accel", "engine"), [None] * 5)
    terms = velmoth.terms(robot, q, qd, torque, accel, engine=engine, **o)
    M, C, G, F = terms
    assert M.shape == C.shape == (robot.dof, robot.dof) and G.shape == F.shape == (robot.dof,)
    tau, qdd = torque or [0.0] * robot.dof, accel or [0.0] * robot.dof
    for name, value in [
            ("M", M), ("C", C), ("G", G), ("F", F), ("kinetic", terms.kinetic),
            ("potential", terms.potential), ("qdd", terms.qdd_damped),
            ("tau", terms.tau_closed_form), ("qdd_engine", terms.qdd), ("tau_engine", terms.tau),
            ("qdd", velmoth.forward_dynamics(robot, q, qd, tau, euler_tick=True, **o)),
            ("tau", velmoth.inverse_dynamics(robot, q, qd, qdd, euler_tick=True, **o)),
            ("qdd_engine", velmoth.forward_dynamics(robot, q, qd, tau, engine=engine, **o)),
            ("tau_engine", velmoth.inverse_dynamics(robot, q, qd, qdd, engine=engine, **o))]:
        assert_bits_equal(np.ravel(value), expected[name], name)
    # A simulation's terms are those of its state, and evaluating them changes nothing.
    sim = velmoth.Simulation(robot, q0=q, qd0=qd, **o)
    assert_bits_equal(sim.terms(torque, accel, engine=engine).tau, expected["tau_engine"])
    fresh = velmoth.Simulation(robot, q0=q, qd0=qd, **o)
    assert_bits_equal(sim.run(20).q, fresh.run(20).q, "q after terms")
