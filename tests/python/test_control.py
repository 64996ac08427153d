"""The built-in controllers and their references: velmoth-sim's controlled runs bit for bit with
the reference and error they record, a controller set on a running simulation, the references as
functions of time (test_errors has the arguments refused)."""
import pickle

import numpy as np
import pytest

import velmoth
from conftest import robot

START = [0.0, 0.5, -0.5, 0.2, 0.4, 0.1]
TARGET, TARGET_ARG = [1.0, 0.5, -0.5, 0.2, 0.4, 0.1], "1,0.5,-0.5,0.2,0.4,0.1"


CONTROLLED = [
    (velmoth.Gravity(), "--controller gravity"),
    (velmoth.PD(TARGET, trajectory="trapezoid", duration=0.8, rate=100),
     f"--controller pd --target {TARGET_ARG} --trajectory trapezoid --duration 0.8 "
     "--control-rate 100"),
    (velmoth.PD(TARGET, trajectory="step", compensate=False, kp=[30, 20, 9, 3, 2, 1], frequency=6),
     f"--controller pd --target {TARGET_ARG} --trajectory step --compensation off "
     "--kp 30,20,9,3,2,1 --frequency 6"),
    (velmoth.ComputedTorque(TARGET, duration=1, rate=1000, mass_error=0.5, model_friction=False),
     f"--controller computed-torque --target {TARGET_ARG} --duration 1 --control-rate 1000 "
     "--model-mass-error 0.5 --model-friction off"),
    (velmoth.ComputedTorque(trajectory="sine", amplitude=0.1, period=1.5),
     "--controller computed-torque --trajectory sine --amplitude 0.1 --period 1.5"),
    (velmoth.TaskPD([0.55, 0.18, 0.6], frame="tool0", rate=500, kn=0.5),
     "--controller task-pd --target 0.55,0.18,0.6 --tool tool0 --control-rate 500 --kn 0.5"),
]
IDS = ["gravity", "pd", "pd-uncompensated", "computed-torque", "sine", "task-pd"]


@pytest.mark.parametrize("controller,options", CONTROLLED, ids=IDS)
def test_a_controlled_run_is_velmoth_sims_bit_for_bit_and_pickles(velmoth_sim, controller,
                                                                  options):
    # The controller's repr and pickle make it again.
    assert eval(repr(controller), {"velmoth": velmoth}) == controller, repr(controller)
    again = pickle.loads(pickle.dumps(controller))
    assert again == controller and type(again) is type(controller)
    arm = robot("industrial6")
    run = velmoth.Simulation(arm, q0=START, controller=controller).run(120)
    args = "--urdf @industrial6.urdf --q0 0,0.5,-0.5,0.2,0.4,0.1 --ticks 120 " + options
    if controller.law == "gravity":
        assert run.reference is None and run.csv() == velmoth_sim(args)
        return
    text = velmoth_sim(args + " --reference")
    assert run.csv(reference=True) == text
    assert pickle.loads(pickle.dumps(run)).csv(reference=True) == text
    names = list("xyz") if controller.law == "task-pd" else arm.joint_names
    assert run.reference.shape == run.error.shape == (120, len(names))
    frame = run.dataframe()
    assert list(frame["reference"].columns) == list(frame["error"].columns) == names
    assert np.array_equal(frame[["reference", "error"]].to_numpy(), np.hstack([run.reference,
                                                                              run.error]))


def test_a_controller_set_on_a_running_simulation():
    sim = velmoth.Simulation(robot(3), controller=velmoth.PD([0.4, -0.2, 0.3], duration=1.0))
    assert sim.reference is None  # it starts at the first tick
    run = sim.run(30, start=True)  # from q = 0: the start row records reference 0, error 0
    assert np.allclose(run.error, run.reference - run.q, rtol=0, atol=1e-15)
    assert pickle.loads(pickle.dumps(run)).csv(True, True) == run.csv(True, True)
    before = sim.reference
    # New gains keep the reference going; a new target starts it afresh from where the arm is.
    sim.controller = velmoth.PD([0.4, -0.2, 0.3], duration=1.0, kp=40)
    sim.run(1)
    assert np.all(np.abs(sim.reference - before) > 0) and sim.controller.kp.tolist() == [40]
    q = sim.q
    sim.controller = velmoth.PD([-0.4, 0.2, 0.0], duration=1.0)
    sim.step()
    assert np.allclose(sim.reference, q, atol=1e-5)
    # A pose set from outside starts it afresh there.
    sim.q = [0.1, 0.1, 0.1]
    sim.step()
    assert np.allclose(sim.reference, [0.1, 0.1, 0.1], atol=1e-4)
    # run(controller=...) with a built-in controller sets it; a callable is called as before.
    run = sim.run(5, controller=velmoth.Gravity())
    assert sim.controller == velmoth.Gravity() and run.reference is None
    calls = []
    sim.run(3, controller=lambda t, q, qd: calls.append(t) or np.zeros(3))
    assert len(calls) == 3 and sim.controller == velmoth.Gravity()
    sim.controller = None
    assert sim.controller is None and sim.reference is None


@pytest.mark.parametrize("reference,start,target", [
    (velmoth.Quintic([0.2, -1.0], [1.2, -0.5], duration=1.6), [0.2, -1.0], [1.2, -0.5]),
    (velmoth.Trapezoid([0.2, -1.0], [1.2, -0.5]), [0.2, -1.0], [1.2, -0.5]),
    (velmoth.Step([1.2, -0.5]), [1.2, -0.5], [1.2, -0.5]),
    (velmoth.Sine([1.2, -0.5], amplitude=[0.3, 0.1], period=1.5), [1.2, -0.5], [1.2, -0.5]),
])
def test_the_references_are_functions_of_time(reference, start, target):
    q, qd, qdd = reference(0.0)
    assert np.allclose(q, start)
    times = np.linspace(0.05, 1.45, 15)
    q, qd, qdd = reference(times)
    assert q.shape == qd.shape == qdd.shape == (15, 2)
    h = 1e-6
    assert np.allclose((reference(times + h)[0] - reference(times - h)[0]) / (2 * h), qd, atol=1e-6)
    assert np.allclose((reference(times + h)[1] - reference(times - h)[1]) / (2 * h), qdd,
                       atol=1e-3)
    if reference.kind != "sine":
        end = reference(reference.duration + 0.1)
        assert np.array_equal(end[0], target) and not end[1].any() and not end[2].any()
    if reference.kind == "trapezoid":
        # The default duration: the largest distance, 1, at a peak speed of 1.
        assert reference.duration == 1.5 and np.isclose(reference(0.75)[1][0], 1.0)
