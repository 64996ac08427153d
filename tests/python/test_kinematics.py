"""Frames and names that say what they are: kinematics, a run's start row, frames and exact
accelerations, the DataFrame."""
import numpy as np
import pytest

import velmoth
from conftest import assert_bits_equal, robot

ARMS = [(3, "tool"), ("industrial6", "tool0"), ("arm7_gripper", "tcp"), ("scara", "tool")]


def vee(skew):
    return np.array([skew[2, 1], skew[0, 2], skew[1, 0]])


@pytest.mark.parametrize("name,frame", ARMS)
def test_jacobians_and_jdot_qd_are_the_derivatives_of_the_poses(name, frame):
    arm = robot(name)
    rng = np.random.default_rng(26)
    q, qd = rng.uniform(-1, 1, arm.dof), rng.uniform(-1, 1, arm.dof)
    k = velmoth.kinematics(arm, q, qd)
    pose, J, Jf = k.pose(frame), k.jacobian(frame), k.jacobian(frame, axes="frame")
    assert pose.shape == (4, 4) and J.shape == Jf.shape == (6, arm.dof)
    assert_bits_equal(k.position(frame), pose[:3, 3])
    assert np.array_equal(pose[3], [0, 0, 0, 1])
    h = 1e-6
    ahead, behind = (velmoth.kinematics(arm, q + s * h * qd, qd) for s in (1, -1))
    # v = J qd: the origin's velocity and the angular velocity from R' R^T.
    velocity = (ahead.pose(frame) - behind.pose(frame)) / (2 * h)
    R = pose[:3, :3]
    assert np.allclose(J @ qd, [*velocity[:3, 3], *vee(velocity[:3, :3] @ R.T)], atol=1e-8)
    assert np.allclose(Jf, np.block([[R.T, 0 * R], [0 * R, R.T]]) @ J, atol=1e-14)
    # a = J qdd + J-dot qd at qdd = 0: the change of J qd along qd.
    drift = (ahead.jacobian(frame) - behind.jacobian(frame)) @ qd / (2 * h)
    assert np.allclose(k.jdot_qd(frame), drift, atol=1e-6)
    assert np.allclose(k.jdot_qd(frame, axes="frame")[3:], R.T @ drift[3:], atol=1e-6)
    assert set(k.poses) == set(arm.frame_names)


def test_the_kinematics_of_a_state_and_of_a_simulation():
    arm = robot(2)
    k = velmoth.kinematics(arm, [np.pi / 2, 0])
    assert np.allclose(k.position("tool"), [0, 0, 0.6]) and k.qd is None
    sim = velmoth.Simulation(arm, q0=[0.1, 0.2], qd0=[1, 2])
    assert_bits_equal(sim.kinematics().jdot_qd("tool"),
                      velmoth.kinematics(arm, [0.1, 0.2], [1, 2]).jdot_qd("tool"))


def test_a_runs_start_row_exact_accelerations_frames_and_dataframe(velmoth_sim):
    arm = robot(3)
    q0, qd0 = [0.3, -0.2, 0.1], [1, 0, -1]
    start = velmoth.terms(arm, q0, qd0)
    sim = velmoth.Simulation(arm, q0=q0, qd0=qd0)
    # The closed form's energies of the state, the very bits its first tick reports.
    assert (sim.kinetic, sim.potential) == (start.kinetic, start.potential)
    run = sim.run(20, [1, 0, 0], every=5, frames=["tool", "base"], exact_qdd=True, start=True)
    # The start row, then velmoth-sim's rows.
    head, _, rows = run.csv().split("\n", 2)
    assert head + "\n" + rows == velmoth_sim("run --links 3 --q0 0.3,-0.2,0.1 --qd0 1,0,-1 "
                                             "--torque 1,0,0 --ticks 20 --every 5 --frame tool "
                                             "--frame base")
    assert list(run.tick) == [0, 5, 10, 15, 20] and not run.qdd[0].any()
    assert_bits_equal(np.concatenate([run.q[0], run.qd[0]]), q0 + qd0)
    assert (run.kinetic[0], run.potential[0]) == (start.kinetic, start.potential)
    for row in range(len(run)):
        assert_bits_equal(run.exact_qdd[row], velmoth.forward_dynamics(
            arm, run.q[row], run.qd[row], run.tau[row]), f"row {row}")
        assert_bits_equal(run.frames["tool"][row],
                          velmoth.kinematics(arm, run.q[row]).position("tool"))
    assert not np.allclose(run.qdd[1:], run.exact_qdd[1:], rtol=0.01)
    inverse = velmoth.Simulation(arm).run(5, mode="inverse", accel=np.arange(3), exact_qdd=True)
    assert np.allclose(inverse.exact_qdd, np.arange(3), atol=1e-9)
    df = run.dataframe()
    assert list(df["q"].columns) == arm.joint_names and df.index.name == "time"
    assert_bits_equal(df["total"].to_numpy(), run.total)
    assert_bits_equal(df["tool"].to_numpy(), run.frames["tool"])
    assert_bits_equal(df["exact_qdd"].to_numpy(), run.exact_qdd)
    sim.q = [0, 0, 0]
    assert sim.potential == velmoth.terms(arm).potential
