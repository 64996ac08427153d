"""Threads: run releases the GIL, runs on threads are sequential runs' bits, Ctrl-C ends a run."""
import os
import signal
import subprocess
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import velmoth
from conftest import SAMPLES


def test_run_releases_the_gil():
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=8), engine="recursive")
    ticks, took = 32, 0.0
    while took < 0.25:  # a run of at least a quarter of a second
        ticks *= 2
        start = time.perf_counter()
        sim.run(ticks, every=ticks)
        took = time.perf_counter() - start
    stamps, stop = [], threading.Event()

    def other():
        while not stop.wait(0.001):
            stamps.append(time.perf_counter())

    thread = threading.Thread(target=other)
    thread.start()
    start = time.perf_counter()
    sim.run(ticks, every=ticks)
    end = time.perf_counter()
    stop.set()
    thread.join()
    assert sum(start < s < end for s in stamps) >= 20


def test_simulations_on_threads_give_the_bits_of_sequential_runs():
    robot = velmoth.Robot.from_urdf(SAMPLES / "industrial6.urdf")
    settings = [{"q0": [0, 0.5 + 0.1 * k, -0.5, 0, 0, 0], "viscous": 0.05 * k} for k in range(4)]
    sequential = [velmoth.Simulation(robot, **s).run(400, every=4).csv() for s in settings]
    with ThreadPoolExecutor(len(settings)) as pool:
        parallel = pool.map(lambda s: velmoth.Simulation(robot, **s).run(400, every=4).csv(),
                            settings)
    assert list(parallel) == sequential


def test_ctrl_c_ends_a_long_run():
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=1))
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)  # also if ignored
    # A real SIGINT from another process: it comes even if a run wrongly holds the GIL.
    killer = subprocess.Popen(["sh", "-c", f"sleep 0.2; kill -INT {os.getpid()}"])
    start = time.perf_counter()
    try:
        with pytest.raises(KeyboardInterrupt):
            sim.run(10**10, every=10**9)
    finally:
        killer.wait()
        signal.signal(signal.SIGINT, previous)
    assert time.perf_counter() - start < 5 and sim.tick > 0
