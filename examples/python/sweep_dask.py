#!/usr/bin/python3
"""A parameter sweep on Dask: the PUMA 560 of examples/puma560.urdf falls on its default step
from a set of random start poses, for every pair of a grid of friction levels (viscous and Coulomb
alike) and gravities (from the Moon's to twice the Earth's): friction x gravity x start pose, a few
thousand runs. Maps the time it takes to come to rest, the median over the poses. Each task runs
every pose of one friction level and gravity; Simulation.run releases the GIL, so threads of one
worker run in parallel as well as processes.

    PYTHONPATH=build/release/python /usr/bin/python3 examples/python/sweep_dask.py --out FOLDER

Without --scheduler the sweep starts a LocalCluster of one process per processor (or threads
with --threads); --scheduler ADDRESS uses a running cluster, whose workers must import velmoth
(installed with cmake --install, or PYTHONPATH). --small sweeps 2 x 2 x 3 runs of 0.5 s on a
cluster of threads in this process (for the tests).
"""
import argparse
import logging
import os
import pathlib
import tempfile
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from dask.distributed import Client, LocalCluster  # noqa: E402

import velmoth  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
REST = 1e-3  # J: below this kinetic energy the arm is at rest


def cell(robot, friction, gravity, poses, ticks):
    """Falls from each pose: the time to rest in s (inf when still moving at the end)."""
    rests = []
    for pose in poses:
        sim = velmoth.Simulation(robot, viscous=friction, coulomb=friction,
                                 gravity=(0.0, 0.0, -gravity), q0=pose)
        run = sim.run(ticks)
        moving = np.nonzero(run.kinetic >= REST)[0]
        if len(moving) == 0:
            rests.append(0.0)
        elif moving[-1] == len(run) - 1:
            rests.append(np.inf)
        else:
            rests.append(run.time[moving[-1] + 1])
    return rests


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--urdf", default=str(ROOT / "examples" / "puma560.urdf"))
    parser.add_argument(
        "--out", default=str(pathlib.Path(tempfile.gettempdir(), "velmoth-examples")),
        help="folder of the picture (default: %(default)s)")
    parser.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler")
    parser.add_argument("--threads", action="store_true",
                        help="a LocalCluster of threads in this process, not of processes")
    parser.add_argument("--grid", type=int, default=12, help="friction levels and gravities")
    parser.add_argument("--poses", type=int, default=24, help="start poses")
    parser.add_argument("--ticks", type=int, default=500, help="ticks of 0.01 s per run")
    parser.add_argument("--small", action="store_true", help="2 x 2 x 3 runs of 0.5 s")
    args = parser.parse_args()
    if args.small:
        args.grid, args.poses, args.ticks, args.threads = 2, 3, 50, True

    path = pathlib.Path(args.urdf)
    # A robot of text pickles with its text: workers elsewhere need no copy of the file.
    robot = velmoth.Robot.from_urdf_text(path.read_bytes(), source=path.name)
    friction = np.linspace(0.0, 4.0, args.grid)
    gravity = np.linspace(1.62, 19.62, args.grid)
    # Start poses within +-1.5 rad and within the joints' limits.
    low = np.maximum(robot.lower_limits, -1.5)
    high = np.minimum(robot.upper_limits, 1.5)
    poses = np.random.default_rng(1).uniform(low, high, (args.poses, robot.dof))

    # One cell in this process first: the rate of a single thread, to compare.
    start = time.perf_counter()
    cell(robot, friction[-1], gravity[-1], poses, args.ticks)
    alone = args.poses / (time.perf_counter() - start)

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
        futures = [client.submit(cell, robot_future, f, g, poses, args.ticks, pure=False)
                   for f in friction for g in gravity]
        rests = np.array(client.gather(futures)).reshape(args.grid, args.grid, args.poses)
        seconds = time.perf_counter() - start
    runs = rests.size
    print(f"{runs} runs of {args.ticks} ticks on {threads} worker threads in {seconds:.2f} s: "
          f"{runs / seconds:.0f} runs/s ({alone:.0f} runs/s in one thread alone)")

    median = np.median(rests, axis=2)
    still = np.mean(np.isinf(rests), axis=2)
    figure, axes = plt.subplots(1, 2, figsize=(11, 4.6))
    extent = [gravity[0], gravity[-1], friction[0], friction[-1]]
    for axis, values, title in [
            (axes[0], np.where(np.isinf(median), np.nan, median),
             f"median time to rest over {args.poses} poses (s; blank: moving after "
             f"{args.ticks / 100:g} s)"),
            (axes[1], still, f"share of poses still moving after {args.ticks / 100:g} s")]:
        image = axis.imshow(values, origin="lower", extent=extent, aspect="auto")
        figure.colorbar(image, ax=axis)
        axis.set_title(title, fontsize="medium")
        axis.set_xlabel("gravity (m/s^2)")
        axis.set_ylabel("viscous and Coulomb friction")
    figure.suptitle(f"{robot.name} falling from random poses: {runs} runs on Dask, "
                    f"{runs / seconds:.0f} runs/s on {threads} threads")
    figure.tight_layout()
    out = pathlib.Path(args.out) / "python_sweep_dask.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    figure.savefig(out, dpi=80)
    print(f"wrote {out}")


if __name__ == "__main__":
    main()
