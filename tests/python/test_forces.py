"""Forces from outside the joints in Python: the wrench of forward_dynamics, terms and
inverse_dynamics against the mass matrix and the frames' Jacobians, forces held by a Simulation and
payloads against velmoth-sim's --force and --payload, a run's forces(t) against forces held
(test_errors has what is refused)."""
import pickle

import numpy as np
import pytest

import velmoth
from conftest import assert_run_equals, robot


def skew(v):
    return np.array([[0.0, -v[2], v[1]], [v[2], 0.0, -v[0]], [-v[1], v[0], 0.0]])


@pytest.mark.parametrize("name", ["puma560", "arm7_gripper", "scara", "double_pendulum",
                                  "planar_3link", 4])
@pytest.mark.parametrize("axes", ["world", "frame"])
def test_the_wrench_acts_through_the_points_jacobian(name, axes):
    arm = robot(name)
    q, qd, tau = ([0.3, -0.2] * 4)[:arm.dof], np.linspace(-0.5, 0.6, arm.dof), \
        np.linspace(0.2, -0.4, arm.dof)
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
    # qdd is the exact solution of M qdd = tau + external - C qd - G - F, friction and all.
    for engine in velmoth.ENGINES:
        t = velmoth.terms(arm, q, qd, torque=tau, wrench=wrench, engine=engine)
        np.testing.assert_allclose(t.tau_external, external, rtol=1e-12, atol=1e-13)
        want = np.linalg.solve(t.M, tau + external - t.C @ qd - t.G - t.F)
        qdd = velmoth.forward_dynamics(arm, q, qd, tau, engine=engine, wrench=[wrench])
        assert np.max(np.abs(qdd - want)) <= 1e-12 * np.max(np.abs(want))
        assert np.array_equal(qdd, t.qdd)
        # And back: the joints' torques that give qdd with the loads acting.
        back = velmoth.inverse_dynamics(arm, q, qd, qdd, engine=engine, wrench=wrench)
        np.testing.assert_allclose(back, tau, rtol=1e-10, atol=1e-10)
    # Without a wrench nothing is added.
    plain = velmoth.terms(arm, q, qd, torque=tau)
    assert not plain.tau_external.any()


def test_forces_held_and_payloads_are_velmoth_sims_bit_for_bit_and_pickle(velmoth_sim):
    arm = robot("puma560")
    loaded = arm.with_payload("tool", 2.5, (0.0, 0.0, 0.05)).with_payload("link3", 0.7)
    assert loaded is not arm and velmoth.Simulation(arm).run(1).q.shape == (1, 6)
    again = pickle.loads(pickle.dumps(loaded))
    assert repr(again) == repr(loaded) and ".with_payload('tool', 2.5, (0.0, 0.0, 0.05))" in repr(
        again)
    text = velmoth_sim("--urdf @puma560.urdf --ticks 20 --force tool:0,0,-12.5@0,0.01,0.02 "
                       "--force link2:3,0,0 --payload tool:2.5@0,0,0.05 --payload link3:0.7")
    for arm in (loaded, again):
        sim = velmoth.Simulation(arm)
        sim.apply_force("tool", (0.0, 0.0, -12.5), point=(0.0, 0.01, 0.02))
        sim.apply_force("link2", [3.0, 0.0, 0.0])
        run = sim.run(20)
        assert_run_equals(run, text)
        assert not run.tau.any()  # the tau column stays the motors' torques


def test_a_runs_forces_of_time_are_forces_held_for_their_ticks():
    arm = robot(3)
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
    sim = velmoth.Simulation(robot(2))
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
