"""The module against velmoth-sim itself: arms from URDF files, every engine and integrator,
inverse runs, starting states and the terms, bit for bit."""
import numpy as np
import pytest

import velmoth
from conftest import SAMPLES, URDF_TESTS, assert_bits_equal, assert_run_equals, parse_run_csv


def text(values):
    return ", ".join(repr(float(v)) for v in values)


def command_line(arm, settings, run):
    """velmoth-sim run's arguments for Robot arguments, Simulation settings and run arguments."""
    args = ["run"]
    if "urdf" in arm:
        args += ["--urdf", str(arm["urdf"])] + (["--tip", arm["tip"]] if "tip" in arm else [])
    else:
        args += ["--links", str(arm.get("links", 6))]
    for name, value in settings.items():
        if name in ("q0", "qd0", "gravity"):
            args.append(f"--{name}={text(value)}")
        else:
            args += [f"--{name}", str(value)]
    for name, value in run.items():
        args.append(f"--{name}={text(value)}" if name in ("torque", "accel") else f"--{name}={value}")
    return args


def robot_of(arm):
    if "urdf" in arm:
        return velmoth.Robot.from_urdf(arm["urdf"], tip=arm.get("tip", ""))
    return velmoth.Robot(links=arm.get("links", 6))


CASES = [
    ({"urdf": SAMPLES / "puma560.urdf"}, {}, {"ticks": 300, "every": 10}),
    ({"urdf": SAMPLES / "industrial6.urdf"}, {"q0": [0, 0.5, -0.5, 0, 0, 0]},
     {"ticks": 300, "every": 7}),
    ({"urdf": SAMPLES / "arm7_gripper.urdf", "tip": "link4"}, {"qd0": [1, -1, 0.5, 0]},
     {"ticks": 200}),
    ({"urdf": SAMPLES / "scara.urdf"}, {}, {"ticks": 300, "torque": [0.5, 0, -15.696, 0]}),
    ({"urdf": SAMPLES / "double_pendulum.urdf"},
     {"integrator": "rk4", "substeps": 3, "q0": [1.2, -0.5], "viscous": 0, "coulomb": 0},
     {"ticks": 500, "every": 50}),
    ({"urdf": SAMPLES / "planar_3link.urdf"}, {"engine": "closed-form", "integrator": "implicit"},
     {"ticks": 300, "every": 3}),
    ({"urdf": SAMPLES / "industrial6.urdf"}, {"gravity": [0.5, 0, -9.81]},
     {"ticks": 150, "mode": "inverse", "accel": [1, -2, 0.5, 3, -1, 2]}),
    ({"urdf": URDF_TESTS / "builtin_arm.urdf"}, {"engine": "closed-form", "integrator": "euler"},
     {"ticks": 200, "torque": [0.4, -0.3, 0.2, 0, -0.1, 0.05]}),
    ({"links": 3}, {"engine": "recursive", "integrator": "implicit", "substeps": 4,
                    "coulomb": 0.3}, {"ticks": 400, "every": 20}),
    ({"links": 9}, {}, {"ticks": 600, "every": 100}),  # diverges on the built-in arm's step
    ({"links": 0}, {}, {"ticks": 5}),
    ({"links": 4}, {"engine": "recursive", "integrator": "rk4", "qd0": [1, 0, -1, 2]},
     {"ticks": 100, "mode": "inverse", "accel": [0.3, -0.2, 0.1, 0]}),
]


def case_id(case):
    arm, settings, run = case
    name = arm["urdf"].stem if "urdf" in arm else f"links{arm['links']}"
    return "-".join([name, *settings.keys(), run.get("mode", "forward")])


@pytest.mark.parametrize("arm,settings,run", CASES, ids=[case_id(c) for c in CASES])
def test_run_equals_velmoth_sim(velmoth_sim, arm, settings, run, recwarn):
    expected = velmoth_sim(command_line(arm, settings, run))
    sim = velmoth.Simulation(robot_of(arm), **settings)
    args = dict(run)
    trajectory = sim.run(args.pop("ticks"), **args)
    assert_run_equals(trajectory, parse_run_csv(expected), case_id((arm, settings, run)))
    assert trajectory.csv() == expected


def test_a_run_that_diverges_warns_once_and_goes_on(velmoth_sim):
    sim = velmoth.Simulation(velmoth.Robot(links=9))
    with pytest.warns(velmoth.DivergenceWarning, match=r"diverged at tick 487 \(t = 4\.87 s\)"):
        trajectory = sim.run(600)
    assert trajectory.diverged_at == 487
    assert len(trajectory) == 600 and not sim.finite
    assert np.isfinite(trajectory.q[485]).all() and not np.isfinite(trajectory.q[-1]).all()


def parse_terms(output):
    terms = {}
    for line in output.splitlines():
        name, rows, cols, *values = line.split()
        terms[name] = np.array([float(v) for v in values]).reshape(int(rows), int(cols))
    return terms


TERMS_CASES = [
    ({"links": 3}, {"q": [0.3, -0.2, 0.5], "qd": [1, 2, 3], "torque": [1, 0, -1],
                    "accel": [0, 2, 1]}, None),
    ({"links": 6}, {"q": [0.3, -0.2, 0.1, 0, 0.4, 0.2], "qd": [1, 0, -0.5, 0, 0, 2]}, "recursive"),
    ({"urdf": SAMPLES / "puma560.urdf"}, {"q": [0.1, 0.5, -0.5, 0.2, 0.3, 0.4],
                                          "qd": [0.5, -1, 1, 0, 2, -2],
                                          "torque": [1, 2, 3, 0, 0, 0.1]}, None),
    ({"urdf": SAMPLES / "scara.urdf"}, {"q": [0.3, 0.2, 0.05, 1], "accel": [1, 1, 1, 1]},
     "closed-form"),
]


@pytest.mark.parametrize("arm,state,engine", TERMS_CASES)
def test_terms_equal_velmoth_sim_terms(velmoth_sim, arm, state, engine):
    args = ["terms"]
    args += ["--urdf", str(arm["urdf"])] if "urdf" in arm else ["--links", str(arm["links"])]
    args += [f"--{name}={text(value)}" for name, value in state.items()]
    args += ["--viscous", "0.3", "--coulomb", "0.2", "--gravity=1, 0, -9"]
    if engine:
        args += ["--engine", engine]
    expected = parse_terms(velmoth_sim(args))
    robot = robot_of(arm)
    sim = velmoth.Simulation(robot, viscous=0.3, coulomb=0.2, gravity=[1, 0, -9],
                             q0=state.get("q"), qd0=state.get("qd"))
    terms = sim.terms(state.get("torque"), state.get("accel"), engine=engine)
    assert terms.engine == (engine or robot.default_engine)
    for name, attribute in [("M", "M"), ("C", "C"), ("G", "G"), ("F", "F"), ("qdd", "qdd"),
                            ("tau", "tau"), ("qdd_engine", "qdd_engine"),
                            ("tau_engine", "tau_engine")]:
        value = getattr(terms, attribute)
        assert_bits_equal(value, expected[name].reshape(value.shape), name)
    assert_bits_equal([terms.kinetic, terms.potential],
                      [expected["kinetic"][0, 0], expected["potential"][0, 0]], "energies")
    # Evaluating changed nothing: the same state steps as a new simulation's does.
    fresh = velmoth.Simulation(robot, viscous=0.3, coulomb=0.2, gravity=[1, 0, -9],
                               q0=state.get("q"), qd0=state.get("qd"))
    assert_bits_equal(sim.run(20).q, fresh.run(20).q, "q after terms")


def test_terms_of_a_given_state_leave_the_simulation_where_it_is():
    sim = velmoth.Simulation(velmoth.Robot(links=2), q0=[0.1, 0.2])
    at = sim.terms()
    other = sim.terms(q=[1.0, -1.0], qd=[0.5, 0.5])
    assert not np.array_equal(at.M, other.M)
    assert list(sim.q) == [0.1, 0.2] and list(sim.qd) == [0.0, 0.0]
    assert other.F[0] == pytest.approx(0.1 * 0.5 + 0.1)
