"""The module's classes as Python sees them: robots, the state and settings of a simulation,
resets, switching the step between ticks, trajectories, pickling, and the documentation."""
import pickle
import pydoc

import numpy as np
import pytest

import velmoth
from conftest import GOLDEN, SAMPLES, assert_bits_equal


def test_the_built_in_arm_and_an_arm_of_a_file():
    arm = velmoth.Robot()
    assert (arm.dof, arm.name, arm.from_file, arm.source, arm.tip, arm.notices) == \
        (6, "", False, None, "", [])
    assert (arm.default_engine, arm.default_integrator) == ("closed-form", "euler")
    assert list(arm.masses) == [1.0] * 6 and arm.joint_types == ["revolute"] * 6
    assert repr(arm) == "velmoth.Robot(links=6)"
    assert velmoth.Robot(links=0).dof == 0

    puma = velmoth.Robot.from_urdf(str(SAMPLES / "puma560.urdf"))
    assert (puma.dof, puma.name, puma.from_file) == (6, "puma560", True)
    assert puma.source == str(SAMPLES / "puma560.urdf")
    assert (puma.default_engine, puma.default_integrator) == ("recursive", "implicit")
    assert len(puma.notices) == 2 and "implausible inertia" in puma.notices[0]
    scara = velmoth.Robot.from_urdf(SAMPLES / "scara.urdf")
    assert scara.joint_types == ["revolute", "revolute", "prismatic", "revolute"]
    held = velmoth.Robot.from_urdf(SAMPLES / "arm7_gripper.urdf", tip="link4")
    assert held.dof == 4 and held.tip == "link4" and "tip=" in repr(held)
    text = velmoth.Robot.from_urdf_text((SAMPLES / "scara.urdf").read_bytes(), source="mine")
    assert text.source == "mine" and text.dof == 4


def test_a_simulation_starts_with_the_arms_defaults():
    sim = velmoth.Simulation(velmoth.Robot.from_urdf(SAMPLES / "industrial6.urdf"))
    assert (sim.engine, sim.integrator, sim.substeps) == ("recursive", "implicit", 1)
    assert (sim.viscous, sim.coulomb, list(sim.gravity)) == (0.1, 0.1, [0, 0, -9.81])
    assert (sim.tick, sim.time, sim.kinetic, sim.potential, sim.total) == (0, 0, 0, 0, 0)
    assert sim.dof == 6 and sim.finite and not sim.q.any() and not sim.qdd.any()
    assert repr(sim) == "<velmoth.Simulation: 6 joints, recursive, implicit, tick 0>"
    robot = velmoth.Robot(links=3)
    other = velmoth.Simulation(robot, engine="recursive", integrator="rk4", substeps=4,
                               viscous=0, coulomb=0.5, gravity=(1, 2, 3), q0=[1, 2, 3])
    assert other.robot is robot
    assert (other.engine, other.integrator, other.substeps) == ("recursive", "rk4", 4)
    assert (other.viscous, other.coulomb, list(other.gravity), list(other.q)) == \
        (0, 0.5, [1, 2, 3], [1, 2, 3])


def test_state_settings_and_step_change_between_ticks_as_in_the_window():
    robot = velmoth.Robot(links=2)
    sim = velmoth.Simulation(robot)
    sim.run(50)
    q, qd = sim.q, sim.qd
    # Reading gives copies: changing them changes nothing.
    q[0] = 100.0
    assert sim.q[0] != 100.0
    sim.gravity = [0, 0, 0]
    sim.viscous = 0
    sim.coulomb = 0
    sim.engine = "recursive"
    sim.integrator = "rk4"
    sim.substeps = 3
    after = sim.run(10)
    assert after.step == "recursive, rk4 x 3" and list(after.tick) == list(range(51, 61))
    # The same as a new simulation of that state and those settings.
    fresh = velmoth.Simulation(robot, engine="recursive", integrator="rk4", substeps=3, viscous=0,
                               coulomb=0, gravity=[0, 0, 0], q0=sim.q, qd0=sim.qd)
    sim.q, sim.qd = after.q[-1], after.qd[-1]
    assert_bits_equal(sim.run(20).q, fresh.run(20).q, "q")
    # Without gravity or friction the energy stays where it was, to Runge-Kutta's accuracy.
    assert np.ptp(after.total) < 1e-6 * max(1.0, abs(after.total[0]))
    sim.q = [0.5, 0.5]
    assert list(sim.q) == [0.5, 0.5] and sim.qd is not qd


def test_reset_starts_again_as_a_new_simulation():
    robot = velmoth.Robot.from_urdf(SAMPLES / "puma560.urdf")
    sim = velmoth.Simulation(robot, viscous=0.2, substeps=2)
    first = sim.run(200, every=20)
    assert sim.tick == 200 and sim.last_substeps >= 2
    sim.reset()
    assert (sim.tick, sim.kinetic, sim.total, sim.viscous, sim.substeps) == (0, 0, 0, 0.2, 2)
    assert not sim.q.any() and not sim.qdd.any()
    assert sim.run(200, every=20).csv() == first.csv()
    sim.reset(q=[0, 0.3, 0, 0, 0, 0], qd=[1, 0, 0, 0, 0, 0])
    assert list(sim.qd) == [1, 0, 0, 0, 0, 0]
    assert sim.run(5).csv() == velmoth.Simulation(
        robot, viscous=0.2, substeps=2, q0=[0, 0.3, 0, 0, 0, 0], qd0=[1, 0, 0, 0, 0, 0]
    ).run(5).csv()


def test_trajectory_rows_columns_and_text():
    sim = velmoth.Simulation(velmoth.Robot(links=2), viscous=0, coulomb=0)
    run = sim.run(1000, every=10)
    assert len(run) == 100 and run.dof == 2 and run.diverged_at is None
    assert run.q.shape == run.tau.shape == (100, 2) and run.kinetic.shape == (100,)
    assert run.tick.dtype == np.int64 and list(run.tick[:3]) == [10, 20, 30]
    assert_bits_equal(run.time, run.tick * 0.01, "time")
    assert_bits_equal(run.total, run.kinetic + run.potential, "total")
    assert run.csv() == (GOLDEN / "forward-two-links-frictionless-long.csv").read_text()
    assert repr(run) == "<velmoth.Trajectory: 100 rows, 2 joints, closed-form, euler>"
    assert len(sim.run(9, every=10)) == 0 and len(sim.run(25, every=10)) == 2
    empty = sim.run(0)
    assert empty.csv() == "tick,time,q0,q1,qd0,qd1,qdd0,qdd1,tau0,tau1,kinetic,potential,total\n"
    assert velmoth.Simulation(velmoth.Robot(links=0)).run(2).csv() == \
        "tick,time,kinetic,potential,total\n1,0.01,0,0,0\n2,0.02,0,0,0\n"


def test_robots_and_trajectories_pickle(tmp_path):
    urdf = tmp_path / "arm.urdf"
    urdf.write_bytes((SAMPLES / "arm7_gripper.urdf").read_bytes())
    robots = [velmoth.Robot(links=3), velmoth.Robot.from_urdf(urdf, tip="link5"),
              velmoth.Robot.from_urdf_text(urdf.read_text(), source="text")]
    for robot in robots:
        copy = pickle.loads(pickle.dumps(robot))
        assert repr(copy) == repr(robot) and copy.notices == robot.notices
        run = velmoth.Simulation(robot).run(50, np.linspace(-1, 1, robot.dof))
        again = pickle.loads(pickle.dumps(run))
        assert again.csv() == run.csv() and again.step == run.step
        assert velmoth.Simulation(copy).run(50, np.linspace(-1, 1, robot.dof)).csv() == run.csv()
    # A robot of a file loads it again when unpickled.
    data = pickle.dumps(robots[1])
    urdf.unlink()
    with pytest.raises(velmoth.LoadError, match="cannot open"):
        pickle.loads(data)


def test_inverse_ticks_find_the_torques_that_hold_the_arm():
    # Zero acceleration at rest: the torques are those that hold the arm against gravity.
    sim = velmoth.Simulation(velmoth.Robot(links=3), q0=[0.4, -0.2, 0.3])
    terms = sim.terms()
    tau = sim.step_inverse()
    assert_bits_equal(tau, terms.G, "tau")
    assert list(sim.q) == [0.4, -0.2, 0.3]
    assert sim.step(tau) == pytest.approx([0, 0, 0], abs=1e-6)


def test_everything_is_documented():
    for cls in (velmoth.Robot, velmoth.Simulation, velmoth.Trajectory, velmoth.Terms,
                velmoth.LoadError, velmoth.DivergenceWarning):
        assert len(cls.__doc__ or "") > 60, cls
        for name, member in vars(cls).items():
            if not name.startswith("_") and not isinstance(member, type):
                assert len(getattr(member, "__doc__", "") or "") > 20, f"{cls.__name__}.{name}"
    assert len(velmoth.__doc__) > 200
    text = pydoc.render_doc(velmoth.Simulation, renderer=pydoc.plaintext)
    for part in ["run(ticks=100, torque=None, *, mode='forward', accel=None", "step(torque=None)", "releasing the GIL",
                 "velmoth-sim run", "busy", "engine", "viscous"]:
        assert part in text, part
    # The signatures are the docstrings' own, as Python callers write them; no line is too long.
    assert "handle" not in text and "PyCapsule" not in text
    assert max(len(line) for line in text.splitlines()) <= 90
    assert velmoth.ENGINES == ("closed-form", "recursive")
    assert velmoth.INTEGRATORS == ("euler", "implicit", "rk4")
    assert velmoth.TIME_STEP == 0.01 and velmoth.MAX_SUBSTEPS == 1000
    assert velmoth.__version__.count(".") >= 2
