"""Frames and names that say what they are: kinematics, the exact qdd, a run's start, frames and
exact accelerations, the DataFrame."""
import numpy as np
import pytest

import velmoth
from conftest import SAMPLES, assert_bits_equal

ARMS = [("builtin", "tool"), ("industrial6", "tool0"), ("arm7_gripper", "tcp"), ("scara", "tool")]


def robot(name):
    return velmoth.Robot.builtin(3) if name == "builtin" else \
        velmoth.Robot.from_urdf(SAMPLES / f"{name}.urdf")


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


def test_kinematics_refuses_what_it_cannot_answer():
    arm = velmoth.Robot.builtin(2)
    k = velmoth.kinematics(arm, [np.pi / 2, 0])
    assert np.allclose(k.position("tool"), [0, 0, 0.6]) and k.qd is None
    with pytest.raises(ValueError, match="no frame 'tool0'; its frames are 'base', 'link0'"):
        k.pose("tool0")
    with pytest.raises(ValueError, match="axes must be 'base' or 'frame'"):
        k.jacobian("tool", axes="world")
    with pytest.raises(ValueError, match="needs the joint velocities"):
        k.jdot_qd("tool")
    with pytest.raises(ValueError, match="frames must be a list|no frame"):
        velmoth.Simulation(arm).run(1, frames=["nope"])
    sim = velmoth.Simulation(arm, q0=[0.1, 0.2], qd0=[1, 2])
    assert_bits_equal(sim.kinematics().jacobian("tool"),
                      velmoth.kinematics(arm, [0.1, 0.2], [1, 2]).jacobian("tool"))


@pytest.mark.parametrize("name", ["builtin", "industrial6"])
def test_terms_qdd_is_the_exact_solution_and_qdd_damped_is_not(name):
    arm = robot(name)
    q, qd, tau = np.linspace(-1, 1, arm.dof), np.linspace(1, -1, arm.dof), np.ones(arm.dof)
    for engine in velmoth.ENGINES:
        t = velmoth.terms(arm, q, qd, tau, engine=engine)
        exact = np.linalg.solve(t.M, tau - t.C @ qd - t.G - t.F)
        assert np.allclose(t.qdd, exact, rtol=1e-9, atol=1e-9)
        assert_bits_equal(t.qdd, velmoth.forward_dynamics(arm, q, qd, tau, engine=engine))
    assert_bits_equal(t.qdd_damped, velmoth.forward_dynamics(arm, q, qd, tau, euler_tick=True))


def test_a_run_can_start_with_its_start_and_a_new_simulation_has_its_energies():
    arm = velmoth.Robot.builtin(3)
    q0, qd0 = [0.3, -0.2, 0.1], [1, 0, -1]
    start = velmoth.terms(arm, q0, qd0)
    sim = velmoth.Simulation(arm, q0=q0, qd0=qd0)
    # The closed form's energies of the state, the very bits its first tick reports.
    assert (sim.kinetic, sim.potential) == (start.kinetic, start.potential)
    with_start = sim.run(20, [1, 0, 0], start=True, every=5)
    plain = velmoth.Simulation(arm, q0=q0, qd0=qd0).run(20, [1, 0, 0], every=5)
    assert list(with_start.tick) == [0, 5, 10, 15, 20] and with_start.csv().count("\n") == 6
    assert_bits_equal(with_start.q[0], q0)
    assert not with_start.qdd[0].any()
    assert (with_start.kinetic[0], with_start.potential[0]) == (start.kinetic, start.potential)
    assert_bits_equal(with_start.q[1:], plain.q)
    assert with_start.csv().endswith(plain.csv().split("\n", 1)[1])
    sim.q = [0, 0, 0]
    assert sim.potential == velmoth.terms(arm).potential


def test_runs_keep_exact_accelerations_and_frames_and_become_dataframes(velmoth_sim):
    arm = velmoth.Robot.from_urdf(SAMPLES / "industrial6.urdf")
    run = velmoth.Simulation(arm).run(30, np.ones(6), every=10, frames=["tool0", "base"],
                                      exact_qdd=True, start=True)
    for row in range(len(run)):
        assert_bits_equal(run.exact_qdd[row], velmoth.forward_dynamics(
            arm, run.q[row], run.qd[row], run.tau[row]), f"row {row}")
        assert_bits_equal(run.frames["tool0"][row],
                          velmoth.kinematics(arm, run.q[row]).position("tool0"))
    assert not np.allclose(run.qdd[1:], run.exact_qdd[1:], rtol=0.01)
    text = velmoth_sim(["run", "--urdf", str(SAMPLES / "industrial6.urdf"), "--torque",
                        "1,1,1,1,1,1", "--ticks", "30", "--every", "10", "--frame", "tool0",
                        "--frame", "base"])
    assert run.csv().split("\n", 2)[2] == text.split("\n", 1)[1]
    assert run.csv().split("\n", 1)[0] == text.split("\n", 1)[0]
    inverse = velmoth.Simulation(arm).run(5, mode="inverse", accel=np.arange(6), exact_qdd=True)
    assert np.allclose(inverse.exact_qdd, np.arange(6), atol=1e-9)
    df = run.dataframe()
    assert list(df["q"].columns) == arm.joint_names and df.index.name == "time"
    assert_bits_equal(df["total"].to_numpy(), run.total)
    assert_bits_equal(df["tool0"].to_numpy(), run.frames["tool0"])
    assert_bits_equal(df["exact_qdd"].to_numpy(), run.exact_qdd)
