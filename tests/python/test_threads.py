"""Threads: run releases the GIL, runs on threads are sequential runs' bits, Ctrl-C ends a run."""
import _thread
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
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    start = time.perf_counter()
    with pytest.raises(KeyboardInterrupt):
        sim.run(10**10, every=10**9)
    timer.join()
    assert time.perf_counter() - start < 5 and sim.tick > 0
