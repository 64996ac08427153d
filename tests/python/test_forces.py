"""Forces from outside the joints in Python: the wrench of forward_dynamics, terms and
inverse_dynamics against the mass matrix and the frames' Jacobians, forces held by a Simulation and
a run's forces(t) against velmoth-sim's --force, payloads against --payload, and what is refused."""
import pickle

import numpy as np
import pytest

import velmoth
from conftest import SAMPLES, assert_run_equals


def skew(v):
    return np.array([[0.0, -v[2], v[1]], [v[2], 0.0, -v[0]], [-v[1], v[0], 0.0]])


ARMS = ["puma560.urdf", "arm7_gripper.urdf", "scara.urdf", "double_pendulum.urdf", None]


def arm_of(name):
    return velmoth.Robot.builtin(4) if name is None else velmoth.Robot.from_urdf(SAMPLES / name)


def state(arm):
    n = arm.dof
    q = np.array([0.3 if i % 2 == 0 else -0.2 for i in range(n)])
    return q, np.linspace(-0.5, 0.6, n), np.linspace(0.2, -0.4, n)


@pytest.mark.parametrize("name", ARMS)
@pytest.mark.parametrize("axes", ["world", "frame"])
def test_the_wrench_acts_through_the_points_jacobian(name, axes):
    arm = arm_of(name)
    q, qd, tau = state(arm)
    frame = arm.frame_names[-1]
    point = np.array([0.03, -0.02, 0.05])
    force, moment = np.array([2.0, -1.0, 3.0]), np.array([0.1, 0.2, -0.3])
    k = velmoth.kinematics(arm, q, qd)
    pose = k.pose(frame)
    jac = k.jacobian(frame)
    # The point's Jacobian from the frame's: v_p = v_o + w x (R p).
    jp = jac[:3] - skew(pose[:3, :3] @ point) @ jac[3:]
    f, m = (pose[:3, :3] @ force, pose[:3, :3] @ moment) if axes == "frame" else (force, moment)
    external = jp.T @ f + jac[3:].T @ m
    wrench = (frame, np.concatenate([force, moment]), point, axes)
    t = velmoth.terms(arm, q, qd, torque=tau, viscous=0, coulomb=0, wrench=wrench)
    np.testing.assert_allclose(t.tau_external, external, rtol=1e-12, atol=1e-13)
    want = np.linalg.solve(t.M, tau + external - t.C @ qd - t.G)
    for engine in velmoth.ENGINES:
        qdd = velmoth.forward_dynamics(arm, q, qd, tau, engine=engine, viscous=0, coulomb=0,
                                       wrench=[wrench])
        assert np.max(np.abs(qdd - want)) <= 1e-12 * np.max(np.abs(want))
        # And back: the joints' torques that give qdd with the loads acting.
        back = velmoth.inverse_dynamics(arm, q, qd, qdd, engine=engine, viscous=0, coulomb=0,
                                        wrench=wrench)
        np.testing.assert_allclose(back, tau, rtol=1e-10, atol=1e-10)
    # Without a wrench nothing is added.
    plain = velmoth.terms(arm, q, qd, torque=tau)
    assert not plain.tau_external.any()


def test_forces_held_are_velmoth_sims_force_bit_for_bit(velmoth_sim):
    arm = velmoth.Robot.from_urdf(SAMPLES / "puma560.urdf")
    sim = velmoth.Simulation(arm)
    sim.apply_force("tool", (0.0, 0.0, -12.5), point=(0.0, 0.01, 0.02))
    sim.apply_force("link2", [3.0, 0.0, 0.0])
    run = sim.run(20)
    text = velmoth_sim(["--urdf", str(SAMPLES / "puma560.urdf"), "--ticks", "20",
                        "--force", "tool:0,0,-12.5@0,0.01,0.02", "--force", "link2:3,0,0"])
    assert_run_equals(run, text)
    # The tau column stays the motors' torques.
    assert not run.tau.any()


def test_a_runs_forces_of_time_are_forces_held_for_their_ticks():
    arm = velmoth.Robot.builtin(3)
    push = ("tool", (0.0, 5.0, 0.0), (0.0, 0.0, 0.0), "frame")

    def forces(t):
        # A push from 0.1 s to 0.2 s, and an impulse of one tick at 0.5 s.
        if 0.1 <= t < 0.2 - 1e-9:
            return push
        return [("link1", (0.0, 0.0, 40.0))] if abs(t - 0.5) < 1e-9 else None

    by_run = velmoth.Simulation(arm)
    by_run.apply_wrench("link0", (0, 0, 0, 0.5, 0, 0))
    run = by_run.run(80, forces=forces)
    by_step = velmoth.Simulation(arm)
    by_step.apply_wrench("link0", (0, 0, 0, 0.5, 0, 0))
    for tick in range(80):
        t = tick * velmoth.TIME_STEP
        by_step.apply_force(push[0], push[1] if 0.1 <= t < 0.2 - 1e-9 else (0, 0, 0),
                            axes="frame")
        by_step.apply_force("link1", (0, 0, 40.0) if abs(t - 0.5) < 1e-9 else (0, 0, 0))
        by_step.step()
    np.testing.assert_array_equal(run.q[-1], by_step.q)
    np.testing.assert_array_equal(run.qd[-1], by_step.qd)
    # What a run adds lasts for its ticks only.
    assert len(by_run.forces) == 1


def test_forces_are_held_replaced_and_cleared():
    sim = velmoth.Simulation(velmoth.Robot.builtin(2))
    sim.apply_force("tool", (1, 2, 3))
    sim.apply_force("tool", (0, 0, 1), point=(0, 0.1, 0))
    sim.apply_force("tool", (4, 5, 6))  # at the origin again: replaces the first
    sim.apply_wrench("link0", (0, 0, 0, 1, 0, 0), axes="frame")
    held = sim.forces
    assert [(f, list(w), list(p), a) for f, w, p, a in held] == [
        ("tool", [0, 0, 1, 0, 0, 0], [0, 0.1, 0], "world"),
        ("tool", [4, 5, 6, 0, 0, 0], [0, 0, 0], "world"),
        ("link0", [0, 0, 0, 1, 0, 0], [0, 0, 0], "frame")]
    sim.apply_force("tool", (0, 0, 0))  # zero: let go
    assert len(sim.forces) == 2
    sim.clear_forces("tool")
    assert [f for f, *_ in sim.forces] == ["link0"]
    sim.clear_forces()
    assert sim.forces == []


@pytest.mark.parametrize("call, error", [
    (lambda s: s.apply_force("nowhere", (1, 2, 3)), ValueError),
    (lambda s: s.apply_force("tool", (1, 2)), ValueError),
    (lambda s: s.apply_force("tool", (1, 2, float("nan"))), ValueError),
    (lambda s: s.apply_force("tool", (1, 2, 3), point=(0, 0)), ValueError),
    (lambda s: s.apply_force("tool", (1, 2, 3), axes="body"), ValueError),
    (lambda s: s.apply_force(3, (1, 2, 3)), TypeError),
    (lambda s: s.apply_wrench("tool", (1, 2, 3)), ValueError),
    (lambda s: s.run(3, forces=5), TypeError),
    (lambda s: s.run(3, forces=lambda t: ("tool", (1, 2))), ValueError),
    (lambda s: s.run(3, forces=lambda t: [("tool",)]), ValueError),
    (lambda s: s.run(3, forces=lambda t: 7), TypeError),
])
def test_bad_loads_are_refused(call, error):
    sim = velmoth.Simulation(velmoth.Robot.builtin(2))
    with pytest.raises(error):
        call(sim)


def test_a_payload_is_velmoth_sims_payload_and_pickles(velmoth_sim):
    arm = velmoth.Robot.from_urdf(SAMPLES / "puma560.urdf")
    loaded = arm.with_payload("tool", 2.5, (0.0, 0.0, 0.05)).with_payload("link3", 0.7)
    assert loaded is not arm and velmoth.Simulation(arm).run(1).q.shape == (1, 6)
    run = velmoth.Simulation(loaded).run(20)
    text = velmoth_sim(["--urdf", str(SAMPLES / "puma560.urdf"), "--ticks", "20",
                        "--payload", "tool:2.5@0,0,0.05", "--payload", "link3:0.7"])
    assert_run_equals(run, text)
    again = pickle.loads(pickle.dumps(loaded))
    assert repr(again) == repr(loaded) and ".with_payload('tool', 2.5, (0.0, 0.0, 0.05))" in repr(
        again)
    assert_run_equals(velmoth.Simulation(again).run(20), text)
    with pytest.raises(ValueError):
        arm.with_payload("floor", 1.0)  # fixed to the base
    with pytest.raises(ValueError):
        arm.with_payload("tool", -1.0)
