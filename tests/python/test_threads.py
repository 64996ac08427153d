"""Threads: run releases the GIL, runs on threads are sequential runs' bits, Ctrl-C ends a run at
once, and an interpreter that exits while a run goes on ends cleanly."""
import os
import signal
import subprocess
import sys
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


@pytest.mark.parametrize("links,substeps", [(1, 1), (30, 4)])  # ticks of a microsecond, of 30 ms
def test_a_signal_ends_a_run_at_once(links, substeps):
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=links), substeps=substeps)

    def interrupt(*_):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    sent = time.perf_counter() + 0.3
    signal.setitimer(signal.ITIMER_REAL, 0.3)  # the kernel's timer: on time, GIL or not
    try:
        with pytest.raises(KeyboardInterrupt):
            sim.run(10**10, every=10**9)
        answered = time.perf_counter() - sent
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert answered < 0.5 and sim.tick > 0


START = ("import os, sys, threading, time, velmoth\n"
         "sim = velmoth.Simulation(velmoth.Robot.builtin(links=3))\n")


@pytest.mark.parametrize("code,interrupts", [
    # The interpreter exits while a daemon thread runs, with and without a controller.
    ("threading.Thread(target=lambda: sim.run(10**10, every=10**9), daemon=True).start()", 0),
    ("threading.Thread(target=lambda: sim.run(10**10, every=10**9, controller=lambda t, q, qd: "
     "[0, 0, 0]), daemon=True).start()", 0),
    # Ctrl-C while joining a thread that runs, and again while the exit waits for it.
    ("t = threading.Thread(target=lambda: sim.run(10**10, every=10**9)); t.start(); t.join()", 2),
])
def test_an_interpreter_that_exits_while_a_run_goes_on_ends_cleanly(code, interrupts):
    child = subprocess.Popen([sys.executable, "-c", START + code + "\ntime.sleep(0.3)"],
                             stderr=subprocess.PIPE, text=True)
    for _ in range(interrupts):
        time.sleep(1.0)
        child.send_signal(signal.SIGINT)
    _, err = child.communicate(timeout=60)
    assert "terminate called" not in err and child.returncode in \
        ((0,) if interrupts == 0 else (1, -signal.SIGINT)), err
