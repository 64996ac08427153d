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


class Stop(Exception):
    pass


@pytest.fixture
def deadline():
    """A minute's guard against a hang: the kernel's timer raises TimeoutError in the main thread
    (a run checks for signals as it ticks); and a handler of SIGUSR1 that raises Stop there."""
    def expired(*_):
        raise TimeoutError("no answer within a minute")

    def stop(*_):
        raise Stop

    previous = signal.signal(signal.SIGALRM, expired), signal.signal(signal.SIGUSR1, stop)
    signal.setitimer(signal.ITIMER_REAL, 60)
    yield
    signal.setitimer(signal.ITIMER_REAL, 0)
    signal.signal(signal.SIGALRM, previous[0])
    signal.signal(signal.SIGUSR1, previous[1])


def when_running(sim, times, then):
    """On another thread: once the simulation has been found busy with a run (its properties refuse
    a second call) the given number of times, calls then. It runs at all only while the run has let
    the GIL go."""
    def watch():
        seen = 0
        while seen < times:
            try:
                sim.tick
            except RuntimeError:
                seen += 1
            time.sleep(0)
        then()

    thread = threading.Thread(target=watch, daemon=True)
    thread.start()
    return thread


def test_run_releases_the_gil(deadline):
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=8), engine="recursive")
    main = threading.get_ident()
    # Another thread finds the run going on twenty times, then stops it.
    watcher = when_running(sim, 20, lambda: signal.pthread_kill(main, signal.SIGUSR1))
    with pytest.raises(Stop):
        sim.run(10**10, every=10**9)
    watcher.join()
    assert sim.tick > 0


def test_simulations_on_threads_give_the_bits_of_sequential_runs():
    robot = velmoth.Robot.from_urdf(SAMPLES / "industrial6.urdf")
    settings = [{"q0": [0, 0.5 + 0.1 * k, -0.5, 0, 0, 0], "viscous": 0.05 * k} for k in range(4)]
    sequential = [velmoth.Simulation(robot, **s).run(400, every=4).csv() for s in settings]
    with ThreadPoolExecutor(len(settings)) as pool:
        parallel = pool.map(lambda s: velmoth.Simulation(robot, **s).run(400, every=4).csv(),
                            settings)
    assert list(parallel) == sequential


def test_ctrl_c_ends_a_long_run(deadline):
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=1))
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)  # also if ignored
    # A real SIGINT, sent by the kernel once the run is going on.
    when_running(sim, 1, lambda: os.kill(os.getpid(), signal.SIGINT))
    try:
        with pytest.raises(KeyboardInterrupt):
            sim.run(10**10, every=10**9)
    finally:
        signal.signal(signal.SIGINT, previous)
    assert sim.tick > 0


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
    # Within a twentieth of a second of the tick going on on a quiet machine; the bound leaves room
    # for a busy one, and still tells a run that looks at signals from one that ends by itself.
    assert answered < 2 and sim.tick > 0


START = ("import os, sys, threading, time, velmoth\n"
         "sim = velmoth.Simulation(velmoth.Robot.builtin(links=3))\n"
         "def running():\n"  # until the run on another thread has the simulation
         "    while True:\n"
         "        try:\n"
         "            sim.tick\n"
         "        except RuntimeError:\n"
         "            return\n"
         "        time.sleep(0.001)\n")
SAY_RUNNING = ("threading.Thread(target=lambda: (running(), print('running', flush=True)), "
               "daemon=True).start()\n")


@pytest.mark.parametrize("code,interrupts", [
    # The interpreter exits while a daemon thread runs, with and without a controller.
    ("threading.Thread(target=lambda: sim.run(10**10, every=10**9), daemon=True).start()\n"
     "running()", 0),
    ("threading.Thread(target=lambda: sim.run(10**10, every=10**9, controller=lambda t, q, qd: "
     "[0, 0, 0]), daemon=True).start()\nrunning()", 0),
    # Ctrl-C while joining a thread that runs, and again while the exit waits for it.
    ("t = threading.Thread(target=lambda: sim.run(10**10, every=10**9)); t.start()\n" +
     SAY_RUNNING + "t.join()", 2),
])
def test_an_interpreter_that_exits_while_a_run_goes_on_ends_cleanly(code, interrupts):
    child = subprocess.Popen([sys.executable, "-c", START + code], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        if interrupts:
            assert child.stdout.readline() == "running\n"
            child.send_signal(signal.SIGINT)  # into the join
            err = ""
            while "KeyboardInterrupt" not in err:  # its traceback, then the exit waits
                line = child.stderr.readline()
                assert line, err
                err += line
            child.send_signal(signal.SIGINT)
        else:
            err = ""
        _, rest = child.communicate(timeout=60)
    finally:
        child.kill()
    err += rest
    assert "terminate called" not in err and child.returncode in \
        ((0,) if interrupts == 0 else (1, -signal.SIGINT)), err
