#!/usr/bin/python3
"""A controller in the loop: the industrial arm of examples/industrial6.urdf (without joint
friction) moves from its zero position to a target pose under a PD law, once alone and once with
gravity compensation computed by the equation of motion of the arm itself (Simulation.terms on a
second simulation, as a model). The gains give each joint a natural frequency of 8 rad/s,
critically damped, on the mass matrix's diagonal at the target. Simulation.run calls the controller before every tick, with the GIL, and runs the ticks
in C++. Plots the joint errors and the torques.

    PYTHONPATH=build/release/python /usr/bin/python3 python/examples/pd_control.py --out docs

--small runs 0.3 s instead of 3 s (for the tests).
"""
import argparse
import pathlib
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import velmoth  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
TARGET = np.array([0.8, 0.6, -0.9, 0.5, 0.4, -0.3])
OMEGA = 8.0  # rad/s


def controller(model, compensate):
    """controller(time, q, qd) -> torques: PD towards TARGET, plus G(q) when compensating."""
    inertia = np.diag(model.terms(q=TARGET).M)
    kp, kd = inertia * OMEGA**2, 2.0 * inertia * OMEGA

    def torques(time, q, qd):
        tau = kp * (TARGET - q) - kd * qd
        if compensate:
            tau += model.terms(q=q, qd=np.zeros_like(qd)).G
        return tau

    return torques


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--urdf", default=str(ROOT / "examples" / "industrial6.urdf"))
    parser.add_argument("--out", default=".", help="folder of the picture")
    parser.add_argument("--small", action="store_true", help="0.3 s instead of 3 s")
    args = parser.parse_args()
    ticks = 30 if args.small else 300

    robot = velmoth.Robot.from_urdf(args.urdf)
    # The model: the same arm, whose terms give M(q) for the gains and G(q) for the compensation.
    model = velmoth.Simulation(robot, viscous=0.0, coulomb=0.0)
    figure, axes = plt.subplots(2, 2, figsize=(11, 7), sharex=True)
    for column, compensate in enumerate((False, True)):
        sim = velmoth.Simulation(robot, viscous=0.0, coulomb=0.0)
        start = time.perf_counter()
        run = sim.run(ticks, controller=controller(model, compensate))
        seconds = time.perf_counter() - start
        error = TARGET - run.q
        name = "PD + gravity compensation" if compensate else "PD"
        print(f"{name:26s} largest error at the end {np.abs(error[-1]).max():.4f} rad   "
              f"{seconds / ticks * 1e6:.1f} us per tick with the controller")
        for j in range(robot.dof):
            axes[0, column].plot(run.time, error[:, j], label=f"joint {j}")
            axes[1, column].plot(run.time, run.tau[:, j], label=f"joint {j}")
        axes[0, column].set_title(f"{name} ({sim.engine}, {sim.integrator})")
        axes[1, column].set_xlabel("time (s)")
    axes[0, 0].set_ylabel("target - q (rad)")
    axes[1, 0].set_ylabel("torque (N m)")
    axes[0, 1].legend(loc="upper right", fontsize="small")
    figure.suptitle(f"{robot.name}: a controller in the loop of Simulation.run")
    figure.tight_layout()
    out = pathlib.Path(args.out) / "python_pd_control.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(out, dpi=80)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
