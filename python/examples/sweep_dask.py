#!/usr/bin/python3
"""A parameter sweep on Dask: the PUMA 560 of examples/puma560.urdf falls from its zero position
for 10 s on its default step, for every pair of a grid of viscous and Coulomb friction
coefficients; the time it takes to come to rest and where its elbow stops are mapped. Each task
runs one row of the grid; Simulation.run releases the GIL, so threads of one worker run in
parallel as well as processes.

    PYTHONPATH=build/release/python /usr/bin/python3 python/examples/sweep_dask.py --out docs

Without --scheduler the sweep starts a LocalCluster of one process per processor (or threads
with --threads); --scheduler ADDRESS uses a running cluster, whose workers must import velmoth
(installed with cmake --install, or PYTHONPATH). --small sweeps a 3 x 3 grid for 0.5 s on a
cluster of threads in this process (for the tests).
"""
import argparse
import logging
import os
import pathlib
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from dask.distributed import Client, LocalCluster  # noqa: E402

import velmoth  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
REST = 1e-3  # J: below this kinetic energy the arm is at rest


def row(robot, viscous, coulombs, ticks):
    """Falls for each Coulomb level at this viscous coefficient: (time to rest s, or inf when
    still moving at the end; the elbow's angle at the end, rad)."""
    results = []
    for coulomb in coulombs:
        sim = velmoth.Simulation(robot, viscous=viscous, coulomb=coulomb)
        run = sim.run(ticks)
        moving = np.nonzero(run.kinetic >= REST)[0]
        if len(moving) == 0:
            rest = 0.0
        elif moving[-1] == len(run) - 1:
            rest = np.inf
        else:
            rest = run.time[moving[-1] + 1]
        results.append((rest, run.q[-1, 2]))
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--urdf", default=str(ROOT / "examples" / "puma560.urdf"))
    parser.add_argument("--out", default=".", help="folder of the picture")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler")
    parser.add_argument("--threads", action="store_true",
                        help="a LocalCluster of threads in this process, not of processes")
    parser.add_argument("--grid", type=int, default=32, help="grid points per coefficient")
    parser.add_argument("--ticks", type=int, default=1000, help="ticks of 0.01 s per run")
    parser.add_argument("--small", action="store_true", help="3 x 3 runs of 0.5 s")
    args = parser.parse_args()
    if args.small:
        args.grid, args.ticks, args.threads = 3, 50, True

    path = pathlib.Path(args.urdf)
    # A robot of text pickles with its text: workers elsewhere need no copy of the file.
    robot = velmoth.Robot.from_urdf_text(path.read_bytes(), source=path.name)
    viscous = np.linspace(0.0, 8.0, args.grid)
    coulomb = np.linspace(0.0, 8.0, args.grid)

    # One row in this process first: the rate of a single thread, to compare.
    start = time.perf_counter()
    row(robot, viscous[-1], coulomb, args.ticks)
    alone = args.grid / (time.perf_counter() - start)

    if args.scheduler:
        client = Client(args.scheduler)
    else:
        workers = 1 if args.small else os.cpu_count()
        cluster = LocalCluster(n_workers=workers, threads_per_worker=2 if args.small else 1,
                               processes=not args.threads, dashboard_address=None,
                               silence_logs=logging.ERROR)
        client = Client(cluster)
    with client:
        threads = sum(client.nthreads().values())
        robot_future = client.scatter(robot, broadcast=True)
        start = time.perf_counter()
        futures = [client.submit(row, robot_future, v, coulomb, args.ticks, pure=False)
                   for v in viscous]
        rows = client.gather(futures)
        seconds = time.perf_counter() - start
    runs = args.grid * args.grid
    print(f"{runs} runs of {args.ticks} ticks on {threads} worker threads in {seconds:.2f} s: "
          f"{runs / seconds:.0f} runs/s ({alone:.0f} runs/s in one thread alone)")

    rest = np.array([[r[0] for r in line] for line in rows])
    elbow = np.array([[r[1] for r in line] for line in rows])
    figure, axes = plt.subplots(1, 2, figsize=(11, 4.6))
    extent = [coulomb[0], coulomb[-1], viscous[0], viscous[-1]]
    for axis, values, title, limits in [
            (axes[0], np.where(np.isinf(rest), np.nan, rest),
             f"time to rest (s; blank: moving after {args.ticks / 100:g} s)", (None, None)),
            (axes[1], elbow, f"elbow angle after {args.ticks / 100:g} s (rad)", (-2.5, 0.0))]:
        image = axis.imshow(values, origin="lower", extent=extent, aspect="auto",
                            vmin=limits[0], vmax=limits[1])
        figure.colorbar(image, ax=axis)
        axis.set_title(title)
        axis.set_xlabel("Coulomb friction (N m)")
        axis.set_ylabel("viscous friction (N m s/rad)")
    figure.suptitle(f"{robot.name} falling from zero: {runs} runs on Dask, "
                    f"{runs / seconds:.0f} runs/s on {threads} threads")
    figure.tight_layout()
    out = pathlib.Path(args.out) / "python_sweep_dask.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(out, dpi=80)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
