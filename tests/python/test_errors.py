"""Refusals: the loader's, and bad arguments before they reach the matrix library (fatal there)."""
import math
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import velmoth
from conftest import SAMPLES, robot


def tree(shape, axis="0 0 1", tail="", **inner):
    """Joints "parent child kind" (c continuous, x floating) named after the child; link NAME
    holds inner[NAME] or a mass of 1 kg."""
    text, links = "<robot name='tree'>", []
    for parent, child, kind in (joint.split() for joint in shape.split(",")):
        kind = {"c": "continuous", "x": "floating"}[kind]
        text += (f"<joint name='{child}' type='{kind}'><parent link='{parent}'/><child "
                 f"link='{child}'/><axis xyz='{axis}'/></joint>")
        links += [link for link in (parent, child) if link not in links]
    mass = ("<inertial><mass value='{}'/><inertia ixx='1' iyy='1' izz='1' ixy='0' ixz='0' "
            "iyz='0'/></inertial>")
    inner = "".join(f"<link name='{n}'>{mass.format(inner.get(n, 1))}</link>" for n in links)
    return text + inner + tail + "</robot>"


# Without an encoding declared the parser's reader takes "&#x141;" for 'A': a loop it would hide.
HIDDEN_LOOP = tree("base A c, A b c", tail="<joint name='j3' type='continuous'><parent "
                   "link='b'/><child link='&#x141;'/></joint>")
NO_CHILD = "<robot name='a'><link name='b'/><joint name='j' type='fixed'><parent link='b'/>" \
    "<child link='x'/></joint></robot>"


# The loader's own tests hold the messages of the chain's shapes and of values too large; these
# are the refusals of the text and of what the URDF parser says, and the paths a Python call takes
# to them: str or bytes (as they are), and the tip.
@pytest.mark.parametrize("text,message", [  # text or (text, tip)
    ("", "the file is empty"),
    (" " * (17 << 20), "larger than 16 MiB"),
    ("<robot name='a'>\0</robot>", "malformed XML (a NUL character)"),
    (b"<robot name='a'>\n\xff</robot>", "not UTF-8 text at line 2"),
    ("<robot name='a'><link name='x'></robot>", "malformed XML at line 1 (mismatched element)"),
    ("<model name='a'/>", "the top element is not <robot>"),
    ("<robot/>".encode("utf-16-be"), "the file is UTF-16 (big-endian) text; URDF files are UTF-8"),
    # The URDF parser's own complaints come through as one line.
    (NO_CHILD, "Failed to build tree: child link [x] of joint [j] not found"),
    (tree("base a c", a="x"),
     "Inertial: mass [x] is not a float; Could not parse inertial element for Link [a]"),
    ("<robot>" + "<link name='l'/>" * 1001 + "</robot>", "more than 1000 links or joints"),
    (HIDDEN_LOOP, "link 'A' is the child of two joints ('A' and 'j3'), which closes a loop"),
    (tree("base a c", a=-1), "link 'a' has a negative mass"),
    (tree("base a c, a b x"),
     "joint 'b' is floating; only revolute, continuous, prismatic and fixed joints can be "
     "simulated"),
    (tree("base a c", axis="0 0 0"), "joint 'a' has no usable axis"),
    ((tree("base a c"), "nope"), "--tip: there is no link 'nope'"),
    (tree(", ".join(f"l{i} l{i + 1} c" for i in range(101))), "more than 100 moving joints"),
])
def test_every_refusal_of_the_loader_is_a_load_error_with_its_line(text, message):
    text, tip = text if isinstance(text, tuple) else (text, "")
    with pytest.raises(ValueError) as error:
        velmoth.Robot.from_urdf_text(text, source="t", tip=tip)
    assert type(error.value) is velmoth.LoadError and str(error.value) == "t: " + message


def test_files_that_cannot_be_read(tmp_path):
    missing, big, empty = tmp_path / "missing.urdf", tmp_path / "big.urdf", tmp_path / "empty.urdf"
    with open(big, "wb") as f:
        f.truncate(17 << 20)
    empty.write_bytes(b"")
    for path, message in [(missing, "cannot open: No such file or directory"),
                          (str(tmp_path), "cannot read: Is a directory"),
                          (big, "larger than 16 MiB"), (os.fsencode(empty), "the file is empty")]:
        with pytest.raises(velmoth.LoadError) as error:
            velmoth.Robot.from_urdf(path)
        assert str(error.value) == f"{os.fsdecode(path)}: {message}"
    # A FIFO without a writer would block its reader for good: a child with a time limit.
    os.mkfifo(tmp_path / "fifo.urdf")
    code = ("import sys, velmoth\ntry: velmoth.Robot.from_urdf(sys.argv[1])\n"
            "except ValueError as e: print(e)")
    for path, kind in [(tmp_path / "fifo.urdf", "a FIFO"), ("/dev/zero", "a character device")]:
        done = subprocess.run([sys.executable, "-c", code, str(path)], capture_output=True,
                              text=True, timeout=20, check=False)
        assert done.stdout == f"{path}: cannot read: not a regular file ({kind})\n", done.stderr


@pytest.fixture
def sim():
    return velmoth.Simulation(robot(3))


@pytest.mark.parametrize("value,error,match", [
    ([1, 2], ValueError, r"torque must have 3 elements \(one per moving joint\), not shape \(2,\)"),
    ([[1, 2, 3]], ValueError, r"not shape \(1, 3\)"),
    (np.eye(3), ValueError, r"not shape \(3, 3\)"),  # not read as its first row
    ([1, math.nan, 3], ValueError, "torque must be finite, not nan at index 1"),
    ([1, 2, -math.inf], ValueError, "torque must be finite, not -inf at index 2"),
    ("1, 2, 3", TypeError, "not text"),
    ([1, "x", 3], TypeError, "must be a sequence of 3 real numbers"),
    ([1, 2j, 3], TypeError, "not complex numbers"),
    (np.zeros(3, dtype=[("a", float)]), TypeError, "not a structured array"),
    (np.array(["1", "2", "3"]), TypeError, "not text"),
    (np.ma.masked_array([1.0, 2.0, 3.0], mask=[0, 1, 0]), ValueError,
     r"torque has masked elements \(the first at index 1\)"),
])
def test_bad_joint_vectors_are_refused_before_the_tick(sim, value, error, match):
    robot, zeros = sim.robot, [0, 0, 0]
    for call in (sim.step, lambda v: sim.run(5, v), sim.terms, sim.step_inverse,
                 lambda v: setattr(sim, "q", v), lambda v: velmoth.Simulation(robot, qd0=v),
                 lambda v: velmoth.terms(robot, zeros, None, v),
                 lambda v: velmoth.forward_dynamics(robot, zeros, zeros, v),
                 lambda v: velmoth.inverse_dynamics(robot, zeros, zeros, v)):
        with pytest.raises(error, match=match.replace("torque", "(torque|tau|qdd|accel|q|qd|qd0)")):
            call(value)
    assert sim.tick == 0 and list(sim.q) == [0, 0, 0]


R2 = robot(2)


def test_vectors_and_settings_of_any_numeric_kind_are_taken(sim):
    for value in ((1.0, 2.0, 3.0), np.int32([1, 2, 3]), np.float64([1, 0, 2, 0, 3, 0])[::2],
                  np.ma.masked_array([1.0, 2.0, 3.0], mask=False)):
        sim.reset()
        assert np.array_equal(sim.step(value), velmoth.Simulation(sim.robot).step([1, 2, 3]))
    # Zeros that look like errors, and NumPy's integers.
    sim = velmoth.Simulation(R2, viscous=0, coulomb=-0.0, substeps=np.int32(5))
    sim.substeps, sim.viscous = np.int64(3), np.int32(2)
    assert (sim.substeps, sim.viscous, sim.coulomb) == (3, 2.0, 0.0)
    assert velmoth.terms(R2, None, None, viscous=0).F.tolist() == [0.0, 0.0]


# A dict: Simulation(R2, **call); a pair: setattr(sim, *call); else call(sim), sim of 3 links.
@pytest.mark.parametrize("call,error,match", [
    ({"engine": "fast"}, ValueError, "engine must be 'closed-form' or 'recursive', not 'fast'"),
    ({"integrator": "verlet"}, ValueError,
     "integrator must be one of 'euler', 'implicit', 'rk4', 'dopri5'"),
    ({"substeps": 0}, ValueError, "substeps must be from 1 to 1000, not 0"),
    ({"tolerance": 0}, ValueError, "tolerance must be from 1e-12 to 0.01, not 0"),
    ({"tolerance": "1e-6"}, TypeError, "tolerance must be a number"),
    (("tolerance", 0.1), ValueError, "tolerance must be from 1e-12 to 0.01, not 0.1"),
    (("tolerance", math.nan), ValueError, "tolerance must be finite"),
    ({"viscous": math.nan}, ValueError, "viscous must be finite and 0 or more, not nan"),
    ({"viscous": -1}, ValueError, "viscous must be finite and 0 or more, not -1"),
    (("viscous", -1.0), ValueError, "viscous must be finite and 0 or more, not -1"),
    (lambda s: velmoth.terms(R2, None, None, coulomb=-0.5), ValueError,
     "coulomb must be finite and 0 or more, not -0.5"),
    ({"q0": [0, math.nan]}, ValueError, "q0 must be finite, not nan at index 1"),
    ({"qd0": [math.inf, 0]}, ValueError, "qd0 must be finite, not inf at index 0"),
    ({"coulomb": "0.1"}, TypeError, "coulomb must be a number"),
    ({"gravity": [0, 0, math.inf]}, ValueError, "gravity must be finite"),
    ({"engine": 1}, TypeError, "engine must be a str"),
    ({"substeps": 2.0}, TypeError, "substeps must be an int"),
    ({"substeps": 10**30}, OverflowError, ""),
    ({"substeps": np.bool_(True)}, TypeError, "substeps must be an int"),
    (("engine", "x"), ValueError, "engine must be"),
    (("substeps", -1), ValueError, "substeps must be from 1 to 1000"),
    (("coulomb", math.inf), ValueError, "coulomb must be finite and 0 or more, not inf"),
    (("gravity", [1, 2]), ValueError, r"gravity must have 3 elements \(x, y, z\), not shape"),
    (("substeps", 2.0), TypeError, "substeps must be an int"),
    ({"limits": 1}, TypeError, "limits must be True or False"),
    ({"effort_limits": "yes"}, TypeError, "effort_limits must be True or False"),
    ({"friction": "own"}, ValueError, "friction must be 'file' or 'uniform', not 'own'"),
    ({"friction": 0}, TypeError, "friction must be a str"),
    (lambda s: velmoth.Robot.from_urdf(f"{SAMPLES}/scara.urdf\0.x"), ValueError,
     "scara.urdf\\\\x00.x: cannot open: the file name holds a NUL character"),
    (lambda s: velmoth.Robot.builtin(links=101), ValueError, "from 0 to 100, not 101"),
    (lambda s: velmoth.Robot.builtin(links=2.5), TypeError, ""),
    (lambda s: velmoth.Robot.from_urdf(SAMPLES / "scara.urdf", tip=3), TypeError, "tip must be"),
    (lambda s: s.terms(engine=0), TypeError, "engine must be a str"),
    (lambda s: velmoth.forward_dynamics(R2, None, None, None, engine="recursive", euler_tick=True),
     ValueError, "'closed-form' or None"),
    (lambda s: s.run(-1), ValueError, "ticks must be 0 or more, not -1"),
    (lambda s: s.run(10, every=0), ValueError, "every must be 1 or more, not 0"),
    (lambda s: s.run(10, mode="up"), ValueError, "mode must be 'forward' or 'inverse', not 'up'"),
    (lambda s: s.run(10, accel=[1, 2, 3]), ValueError, "accel is for mode='inverse'; a forward"),
    (lambda s: s.run(10, [1, 2, 3], mode="inverse"), ValueError, "torque is for mode='forward'"),
    (lambda s: s.run(10, [1, 2, 3], controller=abs), ValueError, "torque from the controller only"),
    (lambda s: s.run(10, controller=3), TypeError, "controller must be callable"),
    (lambda s: s.run(5, controller=lambda t, q, qd: s.step()), RuntimeError, "busy"),
    (lambda s: s.run(1, frames=["nope"]), ValueError, "no frame 'nope'"),
    (lambda s: velmoth.Simulation(R2).run(1).csv(reference=True), ValueError,
     r"csv\(reference=True\): the run had no controller's reference"),
    # Kinematics.
    (lambda s: s.kinematics().pose("tool0"), ValueError, r"no frame 'tool0'; its frames are 'b"),
    (lambda s: s.kinematics().jacobian("tool", axes="r"), ValueError, "'base' or 'frame', not 'r'"),
    (lambda s: velmoth.kinematics(R2, [0, 0]).jdot_qd("tool"), ValueError, "needs the joint veloc"),
    # Loads: held ones, a run's forces(t) and payloads.
    (lambda s: s.apply_force("nowhere", (1, 2, 3)), ValueError, "the arm has no frame 'nowhere'"),
    (lambda s: s.apply_force("tool", (1, 2)), ValueError, r"force must have 3 .* shape \(2,\)"),
    (lambda s: s.apply_force("tool", (1, math.nan, 3)), ValueError, "finite, not nan at index 1"),
    (lambda s: s.apply_force("tool", (1, 2, 3), point=(0, 0)), ValueError, "point must have 3"),
    (lambda s: s.apply_force("tool", (1, 2, 3), axes="a"), ValueError, "'world' or 'frame', not"),
    (lambda s: s.apply_force(3, (1, 2, 3)), TypeError, "frame must be a str"),
    (lambda s: s.apply_wrench("tool", (1, 2, 3)), ValueError, r"wrench must have 6 .* \(3,\)"),
    (lambda s: s.run(3, forces=5), TypeError, r"forces must be callable: forces\(time\)"),
    (lambda s: s.run(3, forces=lambda t: ("tool", (1, 2))), ValueError, "vector must have 3 .* 2"),
    (lambda s: s.run(3, forces=lambda t: [("tool",)]), ValueError, r"\[0\] must be .* 1 items"),
    (lambda s: s.run(3, forces=lambda t: 7), TypeError, r"forces\(time\) must be a load"),
    (lambda s: robot("puma560").with_payload("floor", 1.0), ValueError, "'floor' is fixed to th"),
    (lambda s: s.robot.with_payload("tool", -1.0), ValueError, "mass must be 0 kg or more"),
    # Controllers and references.
    (lambda s: velmoth.PD(rate=150), ValueError, "rate must be 'continuous' or samples per second"),
    (lambda s: velmoth.PD(rate=1000.0), TypeError, "rate"),
    (lambda s: velmoth.PD(trajectory="cubic"), ValueError, "'step', 'quintic', 'trapezoid' or"),
    (lambda s: velmoth.PD(duration=0), ValueError, "duration must be above 0"),
    (lambda s: velmoth.PD([0, math.nan]), ValueError, "target must be finite"),
    (lambda s: velmoth.PD("0 1"), TypeError, "target must be a sequence"),
    (lambda s: velmoth.TaskPD([1, 2]), ValueError, "target must be a position, 3 numbers"),
    (lambda s: velmoth.Quintic([0], [1, 2]), ValueError, "start has 1 elements and target 2"),
    ({"controller": velmoth.PD([1, 2, 3])}, ValueError,
     "target has 3 elements; the arm's controller takes 2"),
    ({"controller": velmoth.PD(kd=[1, 2, 3])}, ValueError,
     r"kd has 3 elements; the arm's controller takes 2 \(or one for all\)"),
    ({"controller": velmoth.TaskPD(frame="hand")}, ValueError, "no frame 'hand'"),
    ({"controller": "pd"}, TypeError, "controller must be a velmoth.Controller"),
    (lambda s: velmoth.Controller(), TypeError, "No constructor defined"),
])
def test_bad_settings_and_arguments_are_refused(sim, call, error, match):
    with pytest.raises(error, match=match):
        if isinstance(call, dict):
            velmoth.Simulation(R2, **call)
        else:
            setattr(sim, *call) if isinstance(call, tuple) else call(sim)
    assert (sim.tick, sim.engine, sim.substeps, sim.coulomb, list(sim.gravity), sim.forces) == \
        (0, "closed-form", 1, 0.1, [0, 0, -9.81], [])


@pytest.mark.parametrize("returned,error,match", [
    (KeyError("stop here"), KeyError, "stop here"),  # raised, not returned
    ([1, 2], ValueError, r"the controller's torque must have 3 elements"),
    ([0, math.nan, 0], ValueError, r"the controller's torque must be finite, not nan at index 1"),
    ("0 0 0", TypeError, "the controller's torque must be a sequence of 3 real numbers, not text"),
    (None, TypeError, r"the controller returned None; it must return the tick's torques, 3 numbers"),
])
def test_a_controller_that_fails_ends_the_run_there_and_the_simulation_goes_on(sim, returned,
                                                                               error, match):
    def controller(time, q, qd):
        if time > 0.025 and isinstance(returned, Exception):
            raise returned
        return [1.0] * 3 if time < 0.025 else returned

    with pytest.raises(error, match=match) as raised:
        sim.run(6, controller=controller)
    assert sim.tick == 3 and list(sim.tau) == [1.0] * 3
    assert raised.value is returned or not isinstance(returned, Exception)
    sim.run(2, [1.0] * 3)
    assert np.array_equal(sim.q, velmoth.Simulation(sim.robot).run(5, [1.0] * 3).q[-1])


@pytest.mark.parametrize("cls,uses", [
    (velmoth.Robot, [lambda o: o.dof, repr, velmoth.Simulation, pickle.dumps, velmoth.terms,
                     velmoth.kinematics, lambda o: o.frame_names]),
    (velmoth.Simulation, [lambda o: o.step(), lambda o: o.run(3), lambda o: o.q,
                          lambda o: o.terms(), lambda o: o.reset(), lambda o: o.kinematics()]),
    (velmoth.Trajectory, [lambda o: o.csv(), lambda o: o.q, lambda o: o.frames,
                          lambda o: o.dataframe()]),
    (velmoth.Terms, [repr, lambda o: o.M]),
    (velmoth.Kinematics, [repr, lambda o: o.pose("tool"), lambda o: o.poses,
                          lambda o: o.jacobian("tool")]),
])
def test_objects_made_without_init_are_refused_not_followed(cls, uses):
    # cls.__new__(cls), as unpickling begins, gives an object that nothing was made in.
    for use in uses:
        with pytest.raises((TypeError, RuntimeError)):
            use(cls.__new__(cls))
