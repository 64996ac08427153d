#!/usr/bin/python3
"""The tracking error of one trajectory at three control rates, side by side: computed torque with
the exact model moves every joint of a frictionless arm 1 rad along a quintic in 1 s, its torque
held between samples at 100 Hz and at 1 kHz, or evaluated at every state of the step
(continuous), on the error-controlled step. Runs velmoth-sim from the build and draws one picture;
prints the largest error of each rate as a Markdown table.

    tools/control_rates.py [--sim build/release/bin/velmoth-sim] [--urdf FILE] [--out PNG]

--seconds S runs S seconds instead of 2 (the tests run a short one).
"""
import argparse
import csv
import io
import pathlib
import subprocess

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent
# The window's joint colours, so that a joint looks the same here as in its plots.
PALETTE = ["#e6194b", "#3cb44b", "#4363d8", "#f58231", "#911eb4", "#42d4f4", "#f032e6",
           "#9a6324", "#000075", "#808000", "#469990", "#000000"]
RATES = [("100", "100 Hz"), ("1000", "1 kHz"), ("continuous", "continuous")]
# 1 rad for every joint, to the side the PUMA 560's limits leave room on (joints beyond the arm's
# are ignored).
TARGET = ", ".join(["1", "1", "-1", "1", "-1", "1"] * 4)


def run(sim, urdf, rate, seconds):
    """The run's rows: time and the error of every joint."""
    ticks = int(round(seconds * 100))
    arm = ["--urdf", urdf] if urdf else ["--links", "6"]
    out = subprocess.run(
        [sim, "run", *arm, "--engine", "recursive", "--integrator", "dopri5", "--controller",
         "computed-torque", "--viscous", "0", "--coulomb", "0", "--trajectory", "quintic", "--duration", "1", "--target", TARGET,
         "--control-rate", rate, "--reference", "--ticks", str(ticks)],
        check=True, capture_output=True, text=True).stdout
    rows = list(csv.DictReader(io.StringIO(out)))
    joints = sorted(int(k[1:]) for k in rows[0] if k.startswith("e") and k[1:].isdigit())
    time = [float(r["time"]) for r in rows]
    errors = [[float(r[f"e{j}"]) for r in rows] for j in joints]
    return time, errors


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sim", default=str(ROOT / "build/release/bin/velmoth-sim"))
    parser.add_argument("--urdf", default=str(ROOT / "examples/puma560.urdf"),
                        help="the arm (empty: the built-in arm of 6 links)")
    parser.add_argument("--out", default=str(ROOT / "docs/control_rates.png"))
    parser.add_argument("--seconds", type=float, default=2.0)
    args = parser.parse_args()

    figure, axes = plt.subplots(1, len(RATES), figsize=(13, 4), constrained_layout=True)
    print("| control rate | largest tracking error |")
    print("|---|---|")
    for axis, (rate, label) in zip(axes, RATES):
        time, errors = run(args.sim, args.urdf, rate, args.seconds)
        largest = max(abs(e) for joint in errors for e in joint)
        for j, joint in enumerate(errors):
            axis.plot(time, joint, color=PALETTE[j % len(PALETTE)], linewidth=1.2, label=f"e{j}")
        axis.set_title(f"{label}\nlargest |e| {largest:.2g} rad")
        axis.set_xlabel("simulated time (s)")
        axis.axvline(1.0, color="0.6", linestyle="--", linewidth=0.8)
        axis.ticklabel_format(axis="y", style="sci", scilimits=(-2, 2))
        axis.grid(alpha=0.3)
        print(f"| {label} | {largest:.2g} rad |")
    axes[0].set_ylabel("tracking error e = q* - q (rad)")
    axes[-1].legend(loc="upper right", fontsize=8)
    name = pathlib.Path(args.urdf).stem if args.urdf else "the built-in arm"
    figure.suptitle(f"Computed torque, exact model, no friction: every joint of {name} 1 rad "
                    "along a quintic in 1 s (dashed: its end)")
    figure.savefig(args.out, dpi=90)


if __name__ == "__main__":
    main()
