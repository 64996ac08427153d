"""The built-in controllers and their references: velmoth-sim's controlled runs bit for bit, a
controller set on a running simulation, the references as functions of time, the reference and
error a run records, and the arguments refused."""
import pickle

import numpy as np
import pytest

import velmoth
from conftest import SAMPLES

INDUSTRIAL = str(SAMPLES / "industrial6.urdf")
START = [0.0, 0.5, -0.5, 0.2, 0.4, 0.1]
TARGET = [1.0, 0.5, -0.5, 0.2, 0.4, 0.1]


CONTROLLED = [
    (velmoth.Gravity(), ["--controller", "gravity"]),
    (velmoth.PD(TARGET, trajectory="trapezoid", duration=0.8, rate=100),
     ["--controller", "pd", "--target", "1,0.5,-0.5,0.2,0.4,0.1", "--trajectory", "trapezoid",
      "--duration", "0.8", "--control-rate", "100"]),
    (velmoth.PD(TARGET, trajectory="step", compensate=False, kp=[30, 20, 9, 3, 2, 1], frequency=6),
     ["--controller", "pd", "--target", "1,0.5,-0.5,0.2,0.4,0.1", "--trajectory", "step",
      "--compensation", "off", "--kp", "30,20,9,3,2,1", "--frequency", "6"]),
    (velmoth.ComputedTorque(TARGET, duration=1, rate=1000, mass_error=0.5, model_friction=False),
     ["--controller", "computed-torque", "--target", "1,0.5,-0.5,0.2,0.4,0.1", "--duration", "1",
      "--control-rate", "1000", "--model-mass-error", "0.5", "--model-friction", "off"]),
    (velmoth.ComputedTorque(trajectory="sine", amplitude=0.1, period=1.5),
     ["--controller", "computed-torque", "--trajectory", "sine", "--amplitude", "0.1",
      "--period", "1.5"]),
    (velmoth.TaskPD([0.55, 0.18, 0.6], frame="tool0", rate=500, kn=0.5),
     ["--controller", "task-pd", "--target", "0.55,0.18,0.6", "--tool", "tool0",
      "--control-rate", "500", "--kn", "0.5"]),
]
IDS = ["gravity", "pd", "pd-uncompensated", "computed-torque", "sine", "task-pd"]


@pytest.mark.parametrize("controller,options", CONTROLLED, ids=IDS)
def test_a_controlled_run_is_velmoth_sims_bit_for_bit(velmoth_sim, controller, options):
    robot = velmoth.Robot.from_urdf(INDUSTRIAL)
    run = velmoth.Simulation(robot, q0=START, controller=controller).run(120)
    args = ["--urdf", INDUSTRIAL, "--q0", "0,0.5,-0.5,0.2,0.4,0.1", "--ticks", "120"] + options
    if controller.law == "gravity":
        assert run.reference is None and run.csv() == velmoth_sim(args)
    else:
        assert run.csv(reference=True) == velmoth_sim(args + ["--reference"])
        size = 3 if controller.law == "task-pd" else 6
        assert run.reference.shape == run.error.shape == (120, size)


@pytest.mark.parametrize("controller,options", CONTROLLED, ids=IDS)
def test_a_controllers_repr_and_pickle_make_it_again(controller, options):
    assert eval(repr(controller), {"velmoth": velmoth}) == controller, repr(controller)
    again = pickle.loads(pickle.dumps(controller))
    assert again == controller and type(again) is type(controller)


def test_a_controller_set_on_a_running_simulation():
    robot = velmoth.Robot.builtin(links=3)
    sim = velmoth.Simulation(robot, controller=velmoth.PD([0.4, -0.2, 0.3], duration=1.0))
    assert sim.reference is None  # it starts at the first tick
    sim.run(30)
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


def test_the_reference_and_error_a_run_records_pickle_and_frame():
    robot = velmoth.Robot.builtin(links=2)
    run = velmoth.Simulation(robot, controller=velmoth.ComputedTorque([0.3, 0.2], duration=0.5)
                             ).run(60, start=True)
    assert np.allclose(run.error, run.reference - run.q, rtol=0, atol=1e-15)
    assert np.array_equal(run.reference[-1], [0.3, 0.2])
    again = pickle.loads(pickle.dumps(run))
    assert np.array_equal(again.error, run.error) and again.csv(True, True) == run.csv(True, True)
    frame = run.dataframe()
    assert np.array_equal(frame["error"]["joint1"].values, run.error[:, 1])
    controller = velmoth.TaskPD([0.1, 0.2, 0.3], rate=200, kd=[1, 2, 3])
    assert pickle.loads(pickle.dumps(controller)) == controller
    assert type(pickle.loads(pickle.dumps(controller))) is velmoth.TaskPD
    with pytest.raises(ValueError, match="no controller's reference"):
        velmoth.Simulation(robot).run(1).csv(reference=True)


@pytest.mark.parametrize("make,error,message", [
    (lambda: velmoth.PD(rate=150), ValueError, "rate must be 'continuous' or samples per second"),
    (lambda: velmoth.PD(rate=1000.0), TypeError, "rate"),
    (lambda: velmoth.PD(trajectory="cubic"), ValueError, "'step', 'quintic', 'trapezoid' or"),
    (lambda: velmoth.PD(duration=0), ValueError, "duration must be above 0"),
    (lambda: velmoth.PD([0, float("nan")]), ValueError, "target must be finite"),
    (lambda: velmoth.PD("0 1"), TypeError, "target must be a sequence"),
    (lambda: velmoth.TaskPD([1, 2]), ValueError, "target must be a position, 3 numbers"),
    (lambda: velmoth.Quintic([0], [1, 2]), ValueError, "start has 1 elements and target 2"),
    (lambda: velmoth.Simulation(velmoth.Robot.builtin(links=3), controller=velmoth.PD([1, 2])),
     ValueError, "target has 2 elements; the arm's controller takes 3"),
    (lambda: velmoth.Simulation(velmoth.Robot.builtin(links=3), controller=velmoth.PD(kd=[1, 2])),
     ValueError, "kd has 2 elements; the arm's controller takes 3 \\(or one for all\\)"),
    (lambda: velmoth.Simulation(velmoth.Robot.builtin(links=3),
                                controller=velmoth.TaskPD(frame="hand")),
     ValueError, "no frame 'hand'"),
    (lambda: velmoth.Simulation(velmoth.Robot.builtin(links=3), controller="pd"), TypeError,
     "controller must be a velmoth.Controller"),
    (lambda: velmoth.Controller(), TypeError, "No constructor defined"),
])
def test_bad_controllers_are_refused(make, error, message):
    with pytest.raises(error, match=message):
        make()


def test_the_controllers_are_documented():
    for cls in (velmoth.Controller, velmoth.Gravity, velmoth.PD, velmoth.ComputedTorque,
                velmoth.TaskPD, velmoth.Reference):
        assert len(cls.__doc__ or "") > 60, cls
        for name, member in vars(cls).items():
            if not name.startswith("_") and not isinstance(member, type):
                assert len(getattr(member, "__doc__", "") or "") > 20, f"{cls.__name__}.{name}"
    for function in (velmoth.Step, velmoth.Quintic, velmoth.Trapezoid, velmoth.Sine):
        assert function.__doc__.startswith(function.__name__ + "(")
