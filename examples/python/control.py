#!/usr/bin/python3
"""Two controllers in the loop of Simulation.run on the industrial arm of
examples/industrial6.urdf, on its default step and without joint friction (the default 0.1 N m
of Coulomb friction holds the light wrist joints still against the small torques they need):

- computed torque: tau = inverse_dynamics(q, qd, qdd_ref + Kp e + Kd e') tracks a smooth
  trajectory (each joint a sum of sines, starting at rest), with the arm's own model;
- PD with gravity compensation: tau = Kp e - Kd qd + G(q) holds a pose against gravity, started
  0.2 rad off it in every joint; PD alone, for comparison, sags.

The gains give each joint a natural frequency of 8 rad/s, critically damped (the PD gains scaled
by the mass matrix's diagonal at the pose). Plots the tracking errors and the torques.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/python/control.py --out FOLDER

--small runs 0.3 s instead of 4 s (for the tests).
"""
import argparse
import pathlib
import tempfile

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import velmoth  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
POSE = np.array([0.8, 0.6, -0.9, 0.5, 0.4, -0.3])
OMEGA = 8.0  # rad/s
AMPLITUDE = np.array([0.6, 0.4, 0.5, 0.8, 0.6, 1.0])
RATE = np.array([1.0, 1.3, 1.7, 2.1, 2.5, 3.0])  # rad/s
FRICTIONLESS = {"viscous": 0.0, "coulomb": 0.0}


def reference(t):
    """The trajectory to track: position, velocity and acceleration at time t; at rest at 0."""
    return (AMPLITUDE * (1 - np.cos(RATE * t)), AMPLITUDE * RATE * np.sin(RATE * t),
            AMPLITUDE * RATE**2 * np.cos(RATE * t))


def computed_torque(robot):
    def controller(t, q, qd):
        q_ref, qd_ref, qdd_ref = reference(t)
        qdd = qdd_ref + OMEGA**2 * (q_ref - q) + 2 * OMEGA * (qd_ref - qd)
        return velmoth.inverse_dynamics(robot, q, qd, qdd, **FRICTIONLESS)

    return controller


def pd(robot, compensate):
    inertia = np.diag(velmoth.terms(robot, POSE, None, **FRICTIONLESS).M)
    kp, kd = inertia * OMEGA**2, 2.0 * inertia * OMEGA

    def controller(t, q, qd):
        tau = kp * (POSE - q) - kd * qd
        if compensate:
            tau += velmoth.terms(robot, q, None, **FRICTIONLESS).G
        return tau

    return controller


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--urdf", default=str(ROOT / "examples" / "industrial6.urdf"))
    parser.add_argument(
        "--out", default=str(pathlib.Path(tempfile.gettempdir(), "velmoth-examples")),
        help="folder of the picture (default: %(default)s)")
    parser.add_argument("--small", action="store_true", help="0.3 s instead of 4 s")
    args = parser.parse_args()
    ticks = 30 if args.small else 400

    robot = velmoth.Robot.from_urdf(args.urdf)
    tracking = velmoth.Simulation(robot, **FRICTIONLESS).run(ticks, controller=computed_torque(robot))
    # The reference at the end of each tick, where run records the state.
    error_ct = reference(tracking.time[:, None])[0] - tracking.q
    start = POSE - 0.2
    holding = velmoth.Simulation(robot, q0=start, **FRICTIONLESS).run(ticks, controller=pd(robot, True))
    sagging = velmoth.Simulation(robot, q0=start, **FRICTIONLESS).run(ticks, controller=pd(robot, False))
    error_pd, error_sag = POSE - holding.q, POSE - sagging.q
    print(f"computed torque: largest tracking error {np.abs(error_ct).max():.2e} rad")
    print(f"PD + gravity compensation: error at the end {np.abs(error_pd[-1]).max():.2e} rad; "
          f"PD alone: {np.abs(error_sag[-1]).max():.2e} rad")

    figure, axes = plt.subplots(2, 2, figsize=(11, 7), sharex=True)
    for column, run, error, title in [
            (0, tracking, error_ct, "computed torque tracking a trajectory"),
            (1, holding, error_pd, "PD + gravity compensation holding a pose")]:
        for j, name in enumerate(robot.joint_names):
            axes[0, column].plot(run.time, error[:, j], label=name)
            axes[1, column].plot(run.time, run.tau[:, j], label=name)
        axes[0, column].set_title(title)
        axes[1, column].set_xlabel("time (s)")
    axes[0, 1].plot(sagging.time, np.abs(error_sag).max(axis=1), "k:", label="PD alone (largest)")
    axes[0, 0].set_ylabel("reference - q (rad)")
    axes[1, 0].set_ylabel("torque (N m)")
    axes[0, 1].legend(loc="upper right", fontsize="small")
    figure.suptitle(f"{robot.name}: controllers in the loop of Simulation.run "
                    f"({tracking.step}, 0.01 s ticks)")
    figure.tight_layout()
    out = pathlib.Path(args.out) / "python_control.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(out, dpi=80)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
