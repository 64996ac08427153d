#!/usr/bin/python3
"""The PUMA 560 of examples/puma560.urdf falls from its zero position under gravity with the
default friction, on three steps: the recursive engine with the implicit step (the default for
arms from files), the built-in arm's closed form with its Euler step, and Runge-Kutta with 20
substeps as a reference. Plots the shoulder and elbow angles and the total energy, and prints
where each step diverged.

    PYTHONPATH=build/release/python /usr/bin/python3 python/examples/falling_arms.py --out docs

--small runs 0.5 s instead of 4 s (for the tests).
"""
import argparse
import pathlib
import time
import warnings

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import velmoth  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
STEPS = [("recursive", "implicit", 1), ("closed-form", "euler", 1), ("recursive", "rk4", 20)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--urdf", default=str(ROOT / "examples" / "puma560.urdf"))
    parser.add_argument("--out", default=".", help="folder of the picture")
    parser.add_argument("--small", action="store_true", help="0.5 s instead of 4 s")
    args = parser.parse_args()
    ticks = 50 if args.small else 400

    robot = velmoth.Robot.from_urdf(args.urdf)
    runs = {}
    for engine, integrator, substeps in STEPS:
        sim = velmoth.Simulation(robot, engine=engine, integrator=integrator, substeps=substeps)
        start = time.perf_counter()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", velmoth.DivergenceWarning)
            run = sim.run(ticks)
        seconds = time.perf_counter() - start
        runs[run.step] = run
        where = "-" if run.diverged_at is None else f"{run.diverged_at * velmoth.TIME_STEP:.2f} s"
        print(f"{run.step:28s} diverged at {where:>7s}   "
              f"{seconds / ticks * 1e6:6.1f} us per tick   total energy at the end "
              f"{run.total[-1]:.4g} J")

    figure, axes = plt.subplots(3, 1, figsize=(8, 8), sharex=True)
    reference = next(iter(runs.values()))
    for (name, run), style in zip(runs.items(), ["-", "--", ":"]):
        for axis, values in zip(axes, (run.q[:, 1], run.q[:, 2], run.total)):
            axis.plot(run.time, values, style, label=name)
        if run.diverged_at is not None:
            for axis in axes:
                axis.axvline(run.diverged_at * velmoth.TIME_STEP, color="grey", lw=0.5)
    # The scale of the step that holds: a diverging run leaves the picture.
    for axis, values in zip(axes, (reference.q[:, 1], reference.q[:, 2], reference.total)):
        low, high = values.min(), values.max()
        margin = 0.15 * max(high - low, 1e-3)
        axis.set_ylim(low - margin, high + margin)
    axes[0].set_ylabel("shoulder q1 (rad)")
    axes[1].set_ylabel("elbow q2 (rad)")
    axes[2].set_ylabel("total energy (J)")
    axes[2].set_xlabel("time (s)")
    axes[0].legend(loc="upper right")
    axes[0].set_title(f"{robot.name} falling from zero, {robot.dof} joints, default friction")
    figure.tight_layout()
    out = pathlib.Path(args.out) / "python_falling_arms.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(out, dpi=90)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
