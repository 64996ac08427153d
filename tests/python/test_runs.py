"""Runs and terms bit for bit: the golden runs of velmoth-sim (tests/tools/golden, computed outside
the project) through Simulation.run and step, velmoth-sim's own output for arms from files, every
engine and integrator, inverse runs and starting states, and the terms and dynamics functions
against velmoth-sim terms."""
import numpy as np
import pytest

import velmoth
from conftest import (GOLDEN, SAMPLES, URDF_TESTS, assert_bits_equal, assert_run_equals,
                      golden_cases, parse_run_csv, vector_text)

CASES = golden_cases()


def test_every_golden_case_is_here():
    assert len(CASES) == 5


@pytest.mark.parametrize("name,args", CASES, ids=[c[0] for c in CASES])
def test_golden_run_bit_for_bit(name, args):
    it = iter(args[1:])
    o = {key.lstrip("-"): value for key, value in zip(it, it)}
    robot = velmoth.Robot.builtin(links=int(o.get("links", 6)))
    settings = {k: float(o[k]) for k in ("viscous", "coulomb") if k in o}
    if "gravity" in o:
        settings["gravity"] = vector_text(o["gravity"], 3)
    mode = o.get("mode", "forward")
    vector = vector_text(o.get("torque" if mode == "forward" else "accel", ""), robot.dof)
    sim = velmoth.Simulation(robot, **settings)
    ticks, every = int(o.get("ticks", 100)), int(o.get("every", 1))
    run = (sim.run(ticks, vector, every=every) if mode == "forward"
           else sim.run(ticks, mode="inverse", accel=vector, every=every))
    text = (GOLDEN / name).read_text()
    assert_run_equals(run, parse_run_csv(text), name)
    assert run.csv() == text


def test_golden_runs_stepped_from_python_and_in_pieces():
    table = parse_run_csv((GOLDEN / "forward-one-link.csv").read_text())
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=1))
    for row in range(100):
        assert_bits_equal(sim.step([2.0]), table["qdd"][row], f"qdd of tick {row + 1}")
        assert_bits_equal([*sim.q, *sim.qd, *sim.tau, sim.total],
                          [table["q"][row, 0], table["qd"][row, 0], 2.0, table["total"][row]])
    table = parse_run_csv((GOLDEN / "inverse-four-links.csv").read_text())
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=4))
    taus = np.array([sim.step_inverse([0.3, -0.2, 0.1, 0]) for _ in range(120)])
    assert_bits_equal(taus, table["tau"], "tau")
    assert_bits_equal(sim.tau, table["tau"][-1], "Simulation.tau")
    # Two runs of 125 ticks are one of 250.
    table = parse_run_csv((GOLDEN / "forward-six-links-mixed-torques.csv").read_text())
    sim = velmoth.Simulation(velmoth.Robot.builtin(), viscous=0.2, coulomb=0)
    first, second = sim.run(125, [0.5, 0, -0.5, 1, 0, 0]), sim.run(125, [0.5, 0, -0.5, 1, 0, 0])
    assert list(second.tick[:2]) == [126, 127]
    assert_bits_equal(np.concatenate([first.q, second.q]), table["q"], "q")


def text(values):
    return ", ".join(repr(float(v)) for v in values)


def arm_args(arm):
    if "urdf" in arm:
        return ["--urdf", str(arm["urdf"])] + (["--tip", arm["tip"]] if "tip" in arm else [])
    return ["--links", str(arm["links"])]


def robot_of(arm):
    if "urdf" in arm:
        return velmoth.Robot.from_urdf(arm["urdf"], tip=arm.get("tip"))
    return velmoth.Robot.builtin(links=arm["links"])


RUN_CASES = [
    ({"urdf": SAMPLES / "puma560.urdf"}, {}, {"ticks": 300, "every": 10}),
    ({"urdf": SAMPLES / "arm7_gripper.urdf", "tip": "link4"}, {"qd0": [1, -1, 0.5, 0]},
     {"ticks": 200}),
    ({"urdf": SAMPLES / "scara.urdf"}, {}, {"ticks": 300, "torque": [0.5, 0, -15.696, 0]}),
    ({"urdf": SAMPLES / "double_pendulum.urdf"},
     {"integrator": "rk4", "substeps": 3, "q0": [1.2, -0.5], "viscous": 0, "coulomb": 0},
     {"ticks": 500, "every": 50}),
    ({"urdf": SAMPLES / "industrial6.urdf"}, {"gravity": [0.5, 0, -9.81]},
     {"ticks": 150, "mode": "inverse", "accel": [1, -2, 0.5, 3, -1, 2]}),
    ({"urdf": URDF_TESTS / "builtin_arm.urdf"}, {"engine": "closed-form", "integrator": "euler"},
     {"ticks": 200, "torque": [0.4, -0.3, 0.2, 0, -0.1, 0.05]}),
    ({"links": 3}, {"engine": "recursive", "integrator": "implicit", "substeps": 4,
                    "coulomb": 0.3}, {"ticks": 400, "every": 20}),
    ({"links": 9}, {}, {"ticks": 600, "every": 100}),  # diverges on the built-in arm's step
    ({"links": 4}, {"engine": "recursive", "integrator": "rk4", "qd0": [1, 0, -1, 2]},
     {"ticks": 100, "mode": "inverse", "accel": [0.3, -0.2, 0.1, 0]}),
]


@pytest.mark.parametrize("arm,settings,run", RUN_CASES)
def test_run_equals_velmoth_sim(velmoth_sim, arm, settings, run, recwarn):
    args = ["run", *arm_args(arm)]
    for name, value in {**settings, **run}.items():
        args.append(f"--{name}={text(value)}" if isinstance(value, list) else f"--{name}={value}")
    expected = velmoth_sim(args)
    options = dict(run)
    trajectory = velmoth.Simulation(robot_of(arm), **settings).run(options.pop("ticks"), **options)
    assert_run_equals(trajectory, parse_run_csv(expected))
    assert trajectory.csv() == expected


def test_a_run_that_diverges_warns_once_and_goes_on():
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=9))
    with pytest.warns(velmoth.DivergenceWarning, match=r"diverged at tick 487 \(t = 4\.87 s\)"):
        trajectory = sim.run(600)
    assert trajectory.diverged_at == 487 and len(trajectory) == 600 and not sim.finite


TERMS_CASES = [
    ({"links": 3}, {"q": [0.3, -0.2, 0.5], "qd": [1, 2, 3], "torque": [1, 0, -1],
                    "accel": [0, 2, 1]}, None),
    ({"links": 6}, {"q": [0.3, -0.2, 0.1, 0, 0.4, 0.2], "qd": [1, 0, -0.5, 0, 0, 2],
                    "torque": [1, 2, 0, 0, 1, 0], "accel": [1, 0, 0, 2, 0, 1]}, "recursive"),
    ({"urdf": SAMPLES / "puma560.urdf"}, {"q": [0.1, 0.5, -0.5, 0.2, 0.3, 0.4],
                                          "qd": [0.5, -1, 1, 0, 2, -2],
                                          "torque": [1, 2, 3, 0, 0, 0.1],
                                          "accel": [1, 2, 3, 0, 0, 0.1]}, "closed-form"),
    ({"urdf": SAMPLES / "scara.urdf"}, {"q": [0.3, 0.2, 0.05, 1], "qd": [0, 1, 0, 0],
                                        "accel": [1, 1, 1, 1]}, None),
]


@pytest.mark.parametrize("arm,state,engine", TERMS_CASES)
def test_terms_and_dynamics_equal_velmoth_sim_terms(velmoth_sim, arm, state, engine):
    args = ["terms", *arm_args(arm), *[f"--{k}={text(v)}" for k, v in state.items()],
            "--viscous", "0.3", "--coulomb", "0.2", "--gravity=1, 0, -9"]
    expected = {}
    for line in velmoth_sim(args + (["--engine", engine] if engine else [])).splitlines():
        name, rows, cols, *values = line.split()
        expected[name] = np.array([float(v) for v in values])
    robot = robot_of(arm)
    q, qd = state["q"], state.get("qd")
    torque, accel = state.get("torque"), state.get("accel")
    setting = {"viscous": 0.3, "coulomb": 0.2, "gravity": [1, 0, -9]}
    terms = velmoth.terms(robot, q, qd, torque, accel, engine=engine, **setting)
    sim = velmoth.Simulation(robot, q0=q, qd0=qd, **setting)
    # The simulation's terms of its own state are the function's.
    assert_bits_equal(sim.terms(torque, accel, engine=engine).tau_engine, terms.tau_engine)
    zeros = [0.0] * robot.dof
    functions = {
        "qdd": velmoth.forward_dynamics(robot, q, qd, torque or zeros, euler_tick=True, **setting),
        "tau": velmoth.inverse_dynamics(robot, q, qd, accel or zeros, euler_tick=True, **setting),
        "qdd_engine": velmoth.forward_dynamics(robot, q, qd, torque or zeros, engine=engine,
                                               **setting),
        "tau_engine": velmoth.inverse_dynamics(robot, q, qd, accel or zeros, engine=engine,
                                               **setting),
    }
    M, C, G, F = terms
    for name, value in [("M", M), ("C", C), ("G", G), ("F", F), ("qdd", terms.qdd),
                        ("tau", terms.tau), ("qdd_engine", terms.qdd_engine),
                        ("tau_engine", terms.tau_engine),
                        ("kinetic", [terms.kinetic]), ("potential", [terms.potential])]:
        assert_bits_equal(np.ravel(value), expected[name], name)
        if name in functions:
            assert_bits_equal(functions[name], expected[name], name + " of the function")
    assert M.shape == C.shape == (robot.dof, robot.dof) and G.shape == F.shape == (robot.dof,)
    # Evaluating changed nothing: the simulation steps as a new one does.
    fresh = velmoth.Simulation(robot, q0=q, qd0=qd, **setting)
    assert_bits_equal(sim.run(20).q, fresh.run(20).q, "q after terms")
