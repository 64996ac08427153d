"""Robots, settings, reset, warnings, arrays that share nothing with the simulation, pickling,
docs."""
import pickle
import pydoc
import warnings

import numpy as np
import pytest

import velmoth
from conftest import SAMPLES, assert_bits_equal, robot


def test_the_built_in_arm_and_arms_of_files():
    arm = velmoth.Robot.builtin()
    assert (arm.dof, arm.link_count, arm.name, arm.is_builtin, arm.source, arm.tip) == \
        (6, 6, "", True, None, None)
    assert arm.frame_names == ["base"] + [f"link{i}" for i in range(6)] + ["tool"]
    assert (arm.joint_names, arm.joint_types) == ([f"joint{i}" for i in range(6)], ["revolute"] * 6)
    assert (arm.default_engine, arm.default_integrator, list(arm.masses)) == \
        ("closed-form", "euler", [1.0] * 6)
    assert repr(arm) == "velmoth.Robot.builtin(links=6)" == repr(velmoth.Robot(links=6))
    assert velmoth.Robot.builtin(links=0).dof == 0
    puma = velmoth.Robot.from_urdf(str(SAMPLES / "puma560.urdf"))
    assert (puma.dof, puma.name, puma.tip, puma.default_engine) == (6, "puma560", None, "recursive")
    assert len(puma.notices) == 2 and "implausible inertia" in puma.notices[0]
    assert robot("scara").joint_types == ["revolute", "revolute", "prismatic", "revolute"]
    held = robot("arm7_gripper", tip="link4")
    assert (held.tip, held.joint_names) == ("link4", [f"joint{i}" for i in range(1, 5)])
    whole = robot("arm7_gripper", tip=None)
    assert whole.dof == 7 and "finger" not in " ".join(whole.joint_names)
    assert not whole.is_builtin and {"world", "tcp", "ft_frame", "finger_left"} <= \
        set(whole.frame_names)


def test_settings_changed_and_reset_are_those_of_a_new_simulation():
    sim = velmoth.Simulation(robot("industrial6"))
    assert (sim.engine, sim.integrator, sim.substeps, sim.viscous, sim.coulomb, sim.tick) == \
        ("recursive", "dopri5", 1, 0.1, 0.1, 0)
    assert list(sim.gravity) == [0, 0, -9.81] and sim.finite
    arm = robot(3)
    sim = velmoth.Simulation(arm, viscous=0.2, substeps=2)
    first = sim.run(50)
    sim.gravity, sim.viscous, sim.coulomb = [1, 2, 3], 0, 0.5
    sim.engine, sim.integrator, sim.substeps = "recursive", "rk4", 3
    fresh = velmoth.Simulation(arm, engine="recursive", integrator="rk4", substeps=3, viscous=0,
                               coulomb=0.5, gravity=(1, 2, 3), q0=sim.q, qd0=sim.qd)
    assert fresh.robot is arm and (fresh.engine, fresh.substeps) == ("recursive", 3)
    after = sim.run(10)
    assert after.step == "recursive, rk4 x 3" and list(after.tick) == list(range(51, 61))
    assert_bits_equal(after.q, fresh.run(10).q, "q")
    # Reset starts again with the settings the simulation was made with.
    sim = velmoth.Simulation(arm, viscous=0.2, substeps=2)
    sim.run(20, [1.0] * 3)
    sim.reset()
    assert (sim.tick, sim.time, sim.viscous, sim.substeps) == (0, 0, 0.2, 2)
    assert sim.kinetic == 0 and sim.potential == pytest.approx(velmoth.terms(arm).potential)
    assert not (sim.q.any() or sim.qd.any() or sim.qdd.any() or sim.tau.any())
    assert sim.run(50).csv() == first.csv()
    q, qd = [0, 0.3, 0], [1, 0, 0]
    sim.reset(q=q, qd=qd)
    assert sim.run(5).csv() == velmoth.Simulation(arm, viscous=0.2, substeps=2, q0=q,
                                                  qd0=qd).run(5).csv()


def test_the_energy_balance_and_the_tolerance(velmoth_sim):
    arm = robot("industrial6")
    sim = velmoth.Simulation(arm, tolerance=1e-7)
    assert (sim.tolerance, velmoth.Simulation(arm).tolerance) == (1e-7, velmoth.DEFAULT_TOLERANCE)
    run = sim.run(200, [0, 3, -2, 0, 0, 0], every=10)
    # total - work + dissipated stays where the balance started, to the tolerance's order.
    start = run.total - run.work + run.dissipated
    assert np.ptp(start) < 1e-5 * np.max(run.kinetic) and run.work[-1] > 1
    assert (sim.work, sim.dissipated) == (run.work[-1], run.dissipated[-1])
    assert run.step == "recursive, dopri5, tolerance 1e-07"
    assert run.csv(balance=True) == velmoth_sim(
        "run --urdf @industrial6.urdf --tolerance 1e-7 --torque 0,3,-2,0,0,0 --ticks 200 "
        "--every 10 --balance")
    # A start row holds the balance at its own state, which the next tick reports with it.
    more = sim.run(2, [0, 3, -2, 0, 0, 0], start=True)
    assert (more.work[0], more.dissipated[0]) == (more.work[1], more.dissipated[1])
    # Setting the state starts the balance again.
    sim.q = sim.q
    sim.qd = sim.qd + 0.1
    sim.step([0, 3, -2, 0, 0, 0])
    assert (sim.work, sim.dissipated) == (0, 0)
    sim.tolerance = 1e-4
    assert sim.run(1).step.endswith("tolerance 0.0001")


def test_the_cap_and_a_balance_off_beyond_a_thousandth_warn_once():
    sim = velmoth.Simulation(velmoth.Robot.builtin(), engine="recursive", integrator="dopri5")
    with pytest.warns(velmoth.AccuracyWarning,
                      match=r"tick 1 \(t = 0\.01 s\) reached the cap") as w:
        sim.run(5, [1e4] * 6)
    assert len(w) == 1 and sim.finite
    sim = velmoth.Simulation(robot(2), engine="recursive", integrator="euler")
    off = (r"tick 1 \(t = 0\.01 s\) left the energy balance off by .* of the motion's energy "
           r".*: the fixed 0\.01 s step \(recursive, euler\) is too coarse for this motion; "
           r"more substeps, or the error-controlled step \(dopri5\); the run went on")
    with pytest.warns(velmoth.AccuracyWarning, match=off) as w:
        sim.run(50)
    assert len(w) == 1 and sim.finite
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        sim.run(50)  # the same balance goes on
        velmoth.Simulation(robot(2)).run(300)  # its own step: not checked
        velmoth.Simulation(robot(2), integrator="dopri5").run(300)
    sim.reset()
    with pytest.warns(velmoth.AccuracyWarning, match=off):
        sim.step([0, 0])


def test_arrays_have_their_shapes_and_share_nothing_with_the_simulation():
    sim = velmoth.Simulation(robot(2), q0=[0.3, 0.1])
    given = np.array([0.5, -0.5])
    returned = sim.step(given)
    run = sim.run(5, given)
    for array, shape in [(sim.q, (2,)), (sim.qd, (2,)), (sim.qdd, (2,)), (sim.tau, (2,)),
                         (sim.gravity, (3,)), (returned, (2,)), (run.q, (5, 2)), (run.tau, (5, 2)),
                         (run.total, (5,)), (run.time, (5,))]:
        assert array.shape == shape and array.dtype == np.float64 and array.flags.writeable
    assert run.tick.dtype == np.int64
    state = [sim.q, sim.qd, sim.qdd, sim.tau, sim.gravity]
    before = np.concatenate(state)
    for array in state + [returned, run.q, run.tau, given]:
        array[...] = 99.0
    assert_bits_equal(np.concatenate([sim.q, sim.qd, sim.qdd, sim.tau, sim.gravity]), before)
    again = sim.run(5, [0.5, -0.5])
    assert not np.shares_memory(again.q, run.q) and not np.shares_memory(again.q, again.qd)
    assert len(sim.run(9, every=10)) == 0 and list(sim.run(25, every=10).tick) == [30, 40]

    # The controller's q and qd are its own: changing them does not change the run.
    def meddling(t, q, qd):
        tau = -q - qd
        q[:], qd[:] = 5.0, 5.0
        return tau

    run = velmoth.Simulation(sim.robot, q0=[0.3, 0.1]).run(20, controller=meddling)
    stepped = velmoth.Simulation(sim.robot, q0=[0.3, 0.1])
    for row in range(20):
        stepped.step(-stepped.q - stepped.qd)
        assert_bits_equal(stepped.q, run.q[row], f"q of tick {row + 1}")


def test_robots_and_trajectories_pickle(tmp_path):
    urdf = tmp_path / "arm.urdf"
    urdf.write_bytes((SAMPLES / "arm7_gripper.urdf").read_bytes())
    for arm in [robot(3), velmoth.Robot.from_urdf(urdf, tip="link5"),
                velmoth.Robot.from_urdf_text(urdf.read_text(), source="text")]:
        copy = pickle.loads(pickle.dumps(arm))
        assert repr(copy) == repr(arm) and copy.joint_names == arm.joint_names
        run = velmoth.Simulation(arm).run(50, np.linspace(-1, 1, arm.dof))
        assert pickle.loads(pickle.dumps(run)).csv(balance=True) == run.csv(balance=True)
        assert velmoth.Simulation(copy).run(50, np.linspace(-1, 1, arm.dof)).csv() == run.csv()


def test_everything_is_documented():
    for cls in (velmoth.Robot, velmoth.Simulation, velmoth.Trajectory, velmoth.Terms,
                velmoth.Kinematics, velmoth.LoadError, velmoth.DivergenceWarning,
                velmoth.AccuracyWarning, velmoth.Controller, velmoth.Gravity, velmoth.PD,
                velmoth.ComputedTorque, velmoth.TaskPD, velmoth.Reference):
        assert len(cls.__doc__ or "") > 60, cls
        for name, member in vars(cls).items():
            if not name.startswith("_") and not isinstance(member, type):
                assert len(getattr(member, "__doc__", "") or "") > 20, f"{cls.__name__}.{name}"
    for head, functions in [
            ("(robot, q", (velmoth.terms, velmoth.forward_dynamics, velmoth.inverse_dynamics,
                           velmoth.kinematics)),
            ("(", (velmoth.Step, velmoth.Quintic, velmoth.Trapezoid, velmoth.Sine))]:
        for function in functions:
            assert function.__doc__.startswith(function.__name__ + head), function
    text = pydoc.render_doc(velmoth.Simulation, renderer=pydoc.plaintext)
    assert "releasing the GIL" in text
    # The class's signature is its constructor's, argument for argument.
    def signature(doc):
        start = doc.index("Simulation(robot")
        return " ".join(doc[start:doc.index(")\n", start) + 1].split())
    assert signature(velmoth.Simulation.__doc__) == signature(velmoth.Simulation.__init__.__doc__)
    assert "limits=True, friction=None, effort_limits=False" in signature(velmoth.Simulation.__doc__)
