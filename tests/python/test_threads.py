"""Runs and threads: run releases the GIL (and takes it only for a controller), simulations run in
parallel threads with the bits of sequential runs, a simulation takes one call at a time, Ctrl-C
ends a long run, and a controller gets exactly the state step() would."""
import _thread
import threading
import time

import numpy as np
import pytest

import velmoth
from conftest import SAMPLES, assert_bits_equal


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
    sim = velmoth.Simulation(velmoth.Robot(links=8), engine="recursive", integrator="implicit")
    ticks = long_run_ticks(sim, 0.25)
    assert count_during(lambda: sim.run(ticks, every=ticks)) >= 20


def test_a_call_that_holds_the_gil_stops_the_other_thread():
    # The contrast that shows the test above can fail: terms() holds the GIL, and the terms of a
    # 60-link arm take a third of a second.
    sim = velmoth.Simulation(velmoth.Robot(links=60), q0=[0.1] * 60, qd0=[0.2] * 60)
    assert count_during(sim.terms) <= 2


def test_a_run_with_a_controller_takes_the_gil_only_for_it():
    sim = velmoth.Simulation(velmoth.Robot(links=8), engine="recursive", integrator="implicit")
    ticks = long_run_ticks(sim, 0.25)
    assert count_during(lambda: sim.run(ticks, every=ticks,
                                        controller=lambda t, q, qd: None)) >= 20


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


def test_a_simulation_takes_one_call_at_a_time():
    sim = velmoth.Simulation(velmoth.Robot(links=8), engine="recursive", integrator="implicit")
    ticks = long_run_ticks(sim, 0.3)
    refused, seen = [], []

    def meddle():
        # Once the run has started (repr is never refused), every other call is.
        deadline = time.monotonic() + 10
        while "running" not in repr(sim) and time.monotonic() < deadline:
            time.sleep(0.001)
        for call in (lambda: sim.step(), lambda: sim.q, lambda: setattr(sim, "viscous", 1.0)):
            try:
                call()
            except RuntimeError as error:
                refused.append(str(error))
        seen.append(repr(sim))

    thread = threading.Thread(target=meddle)
    thread.start()
    sim.run(ticks, every=ticks)
    thread.join()
    assert len(refused) == 3 and all("busy" in r for r in refused)
    assert seen == ["<velmoth.Simulation: 8 joints, running>"]
    assert sim.viscous == 0.1  # untouched
    sim.step()  # free again


def test_a_controller_that_calls_its_own_simulation_is_refused():
    sim = velmoth.Simulation(velmoth.Robot(links=2))
    with pytest.raises(RuntimeError, match="busy"):
        sim.run(5, controller=lambda t, q, qd: sim.step())
    assert sim.tick == 0


def test_ctrl_c_ends_a_long_run():
    sim = velmoth.Simulation(velmoth.Robot(links=1))
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    start = time.perf_counter()
    with pytest.raises(KeyboardInterrupt):
        sim.run(10**10, every=10**9)
    timer.join()
    assert time.perf_counter() - start < 5 and sim.tick > 0


@pytest.mark.parametrize("mode", ["forward", "inverse"])
def test_a_controller_sees_what_step_sees(mode):
    robot = velmoth.Robot.from_urdf(SAMPLES / "double_pendulum.urdf")
    target = np.array([0.5, -0.3])

    def pd(time, q, qd):
        assert q.shape == (2,) and q.dtype == np.float64
        return 40.0 * (target - q) - 8.0 * qd + np.sin(time)

    sim = velmoth.Simulation(robot, q0=[1.2, -0.5])
    controlled = sim.run(300, controller=pd, mode=mode)
    stepped = velmoth.Simulation(robot, q0=[1.2, -0.5])
    taus, qs = [], []
    for _ in range(300):
        u = pd(stepped.time, stepped.q, stepped.qd)
        taus.append(u if mode == "forward" else stepped.step_inverse(u))
        if mode == "forward":
            stepped.step(u)
        qs.append(stepped.q)
    assert_bits_equal(controlled.q, np.array(qs), "q")
    assert_bits_equal(controlled.tau, np.array(taus), "tau")
    if mode == "forward":
        # The controller brings the pendulum near its target (gravity pulls it a little off).
        assert np.abs(controlled.q[-1] - target).max() < 0.2
