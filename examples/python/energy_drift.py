#!/usr/bin/python3
"""The energy drift of each integrator: the built-in arm of 6 links without friction swings from
a bent pose under gravity, so its total energy should stay where it started. Each integrator
(euler, implicit, rk4, dopri5) at 1 and 4 substeps, on the arm's default engine; plots the size of
the change of the total energy over time, one figure.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/python/energy_drift.py --out FOLDER

--small runs 0.5 s instead of 10 s (for the tests).
"""
import argparse
import pathlib
import tempfile
import warnings

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import velmoth  # noqa: E402

START = [0.8, -0.4, 0.6, -0.3, 0.5, 0.2]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--out", default=str(pathlib.Path(tempfile.gettempdir(), "velmoth-examples")),
        help="folder of the picture (default: %(default)s)")
    parser.add_argument("--small", action="store_true", help="0.5 s instead of 10 s")
    args = parser.parse_args()
    ticks = 50 if args.small else 1000

    robot = velmoth.Robot.builtin(links=6)
    figure, axis = plt.subplots(figsize=(9, 5))
    for integrator in velmoth.INTEGRATORS:
        for substeps, style in [(1, "-"), (4, "--")]:
            sim = velmoth.Simulation(robot, integrator=integrator, substeps=substeps, viscous=0,
                                     coulomb=0, q0=START)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", velmoth.DivergenceWarning)
                warnings.simplefilter("ignore", velmoth.AccuracyWarning)
                run = sim.run(ticks)
            drift = run.total - run.total[0]
            # The magnitude, up to where a run diverged (past it the arm has left the picture).
            shown = np.where(np.isfinite(drift) & (np.abs(drift) < 1e4), np.abs(drift), np.nan)
            label = f"{integrator} x {substeps}"
            end = "diverged" if run.diverged_at else f"{drift[-1]:+.3e} J"
            print(f"{label:14s} drift at {run.time[-1]:g} s: {end}")
            axis.plot(run.time, shown, style, label=label)
    axis.set_yscale("log")
    axis.set_ylim(1e-10, 1e4)
    axis.set_xlabel("time (s)")
    axis.set_ylabel("|total energy - its start| (J)")
    axis.set_title(f"The frictionless built-in arm ({robot.dof} links, {sim.engine}) "
                   "swinging under gravity")
    axis.legend(ncol=3, fontsize="small")
    figure.tight_layout()
    out = pathlib.Path(args.out) / "python_energy_drift.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(out, dpi=80)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
