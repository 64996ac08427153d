"""Runs and threads: run releases the GIL (and takes it only for a controller), simulations run in
parallel threads with the bits of sequential runs, a simulation takes one call at a time, Ctrl-C
ends a long run."""
import _thread
import threading
import time

import pytest

import velmoth
from conftest import SAMPLES


def long_run_ticks(sim, seconds):
    """Ticks of sim that take at least `seconds`, found by doubling."""
    ticks = 64
    while True:
        start = time.perf_counter()
        sim.run(ticks, every=ticks)
        if time.perf_counter() - start >= seconds:
            return ticks
        ticks *= 2


def count_during(call):
    """How often another Python thread got to run (once a millisecond) while call() ran."""
    count, done = [0], threading.Event()

    def other():
        while not done.is_set():
            count[0] += 1
            time.sleep(0.001)

    thread = threading.Thread(target=other)
    thread.start()
    time.sleep(0.02)
    before = count[0]
    call()
    after = count[0]
    done.set()
    thread.join()
    return after - before


def test_run_releases_the_gil():
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=8), engine="recursive", integrator="implicit")
    ticks = long_run_ticks(sim, 0.25)
    assert count_during(lambda: sim.run(ticks, every=ticks)) >= 20


def test_simulations_on_threads_give_the_bits_of_sequential_runs():
    robot = velmoth.Robot.from_urdf(SAMPLES / "industrial6.urdf")
    settings = [{"q0": [0, 0.5 + 0.1 * k, -0.5, 0, 0, 0], "viscous": 0.05 * k} for k in range(4)]
    sequential = [velmoth.Simulation(robot, **s).run(400, every=4) for s in settings]
    parallel = [None] * len(settings)

    def work(k):
        parallel[k] = velmoth.Simulation(robot, **settings[k]).run(400, every=4)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(settings))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(sequential, parallel):
        assert a.csv() == b.csv()


def test_a_controller_that_calls_its_own_simulation_is_refused():
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=2))
    with pytest.raises(RuntimeError, match="busy"):
        sim.run(5, controller=lambda t, q, qd: sim.step())
    assert sim.tick == 0


def test_ctrl_c_ends_a_long_run():
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=1))
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    start = time.perf_counter()
    with pytest.raises(KeyboardInterrupt):
        sim.run(10**10, every=10**9)
    timer.join()
    assert time.perf_counter() - start < 5 and sim.tick > 0
