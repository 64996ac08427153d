#!/usr/bin/python3
"""Two of the built-in controllers on the industrial arm of examples/industrial6.urdf, on its
default step and without joint friction (the default 0.1 N m of Coulomb friction holds the light
wrist joints short of a PD target, where the spring's torque falls below it):

- computed torque, velmoth.ComputedTorque: tau = M(q) (qdd* + Kd e' + Kp e) + C qd + g(q) with
  the arm's own model tracks a quintic from rest to a pose in 2 s; evaluated at every state of the
  step (rate='continuous') and, for comparison, sampled at 100 Hz and held between samples;
- PD with gravity compensation, velmoth.PD: tau = Kp e + Kd e' + g(q) holds the pose against
  gravity, started 0.2 rad off it in every joint; PD alone (compensate=False) sags.

The gains are the defaults at a natural frequency of 8 rad/s, critically damped with the arm's
inertia at the pose. The controllers run in C++; Simulation.run(controller=callable) still takes
a Python function instead, called before every tick. Plots the tracking errors and the torques.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/python/control.py --out docs

--small runs 0.3 s instead of 4 s (for the tests).
"""
import argparse
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import velmoth  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
POSE = np.array([0.8, 0.6, -0.9, 0.5, 0.4, -0.3])
OMEGA = 8.0  # rad/s
FRICTIONLESS = {"viscous": 0.0, "coulomb": 0.0}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--urdf", default=str(ROOT / "examples" / "industrial6.urdf"))
    parser.add_argument("--out", default=".", help="folder of the picture")
    parser.add_argument("--small", action="store_true", help="0.3 s instead of 4 s")
    args = parser.parse_args()
    ticks = 30 if args.small else 400

    robot = velmoth.Robot.from_urdf(args.urdf)
    tracking = velmoth.Simulation(robot, **FRICTIONLESS).run(
        ticks, controller=velmoth.ComputedTorque(POSE, duration=2.0, frequency=OMEGA))
    sampled = velmoth.Simulation(robot, **FRICTIONLESS).run(
        ticks, controller=velmoth.ComputedTorque(POSE, duration=2.0, frequency=OMEGA, rate=100))
    start = POSE - 0.2
    holding = velmoth.Simulation(robot, q0=start, **FRICTIONLESS).run(
        ticks, controller=velmoth.PD(POSE, trajectory="step", frequency=OMEGA))
    sagging = velmoth.Simulation(robot, q0=start, **FRICTIONLESS).run(
        ticks, controller=velmoth.PD(POSE, trajectory="step", frequency=OMEGA, compensate=False))
    print(f"computed torque: largest tracking error {np.abs(tracking.error).max():.2e} rad "
          f"(sampled at 100 Hz: {np.abs(sampled.error).max():.2e} rad)")
    print(f"PD + gravity compensation: error at the end {np.abs(holding.error[-1]).max():.2e} rad; "
          f"PD alone: {np.abs(sagging.error[-1]).max():.2e} rad")

    figure, axes = plt.subplots(2, 2, figsize=(11, 7), sharex=True)
    for column, run, title in [
            (0, tracking, "computed torque tracking a quintic"),
            (1, holding, "PD + gravity compensation holding a pose")]:
        for j, name in enumerate(robot.joint_names):
            line, = axes[0, column].plot(run.time, run.error[:, j], label=name)
            axes[1, column].plot(run.time, run.tau[:, j], label=name)
            if column == 0:
                axes[0, 0].plot(sampled.time, sampled.error[:, j], ":", color=line.get_color())
        axes[0, column].set_title(title)
        axes[1, column].set_xlabel("time (s)")
    axes[0, 0].plot([], [], "k:", label="sampled at 100 Hz")
    axes[0, 0].legend(loc="upper right", fontsize="small")
    axes[0, 1].plot(sagging.time, np.abs(sagging.error).max(axis=1), "k:", label="PD alone (largest)")
    axes[0, 0].set_ylabel("reference - q (rad)")
    axes[1, 0].set_ylabel("torque (N m)")
    axes[0, 1].legend(loc="upper right", fontsize="small")
    figure.suptitle(f"{robot.name}: built-in controllers in Simulation.run "
                    f"({tracking.step}, 0.01 s ticks)")
    figure.tight_layout()
    out = pathlib.Path(args.out) / "python_control.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(out, dpi=80)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
