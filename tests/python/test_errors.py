"""What the module refuses: every kind of URDF description the loader refuses, as
velmoth.LoadError with the loader's line, and every bad argument as TypeError or ValueError
before it reaches the matrix library (whose own errors would end the process)."""
import math
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import velmoth
from conftest import SAMPLES

INERTIAL = ("<inertial><mass value='1'/>"
            "<inertia ixx='1' iyy='1' izz='1' ixy='0' ixz='0' iyz='0'/></inertial>")


def tree(shape, inertial=INERTIAL, axis="0 0 1", links_extra=None):
    """A robot of joints "parent child type[ leader]" (c continuous, p prismatic, f fixed,
    x floating, l planar); each joint is named after its child, each link has `inertial` unless
    links_extra gives its inner text."""
    kinds = {"c": "continuous", "p": "prismatic", "f": "fixed", "x": "floating", "l": "planar"}
    text, links = "<robot name='tree'>", []
    for joint in shape.split(","):
        parent, child, kind, *leader = joint.split()
        mimic = f"<mimic joint='{leader[0]}'/>" if leader else ""
        text += (f"<joint name='{child}' type='{kinds[kind]}'><parent link='{parent}'/>"
                 f"<child link='{child}'/><axis xyz='{axis}'/>"
                 f"<limit lower='0' upper='1' effort='1' velocity='1'/>{mimic}</joint>")
        links += [name for name in (parent, child) if name not in links]
    for name in links:
        inner = (links_extra or {}).get(name, inertial)
        text += f"<link name='{name}'>{inner}</link>"
    return text + "</robot>"


def refused(text, tip=""):
    with pytest.raises(velmoth.LoadError) as error:
        velmoth.Robot.from_urdf_text(text, source="t", tip=tip)
    return str(error.value)


TORSO = ("world torso f, torso la1 c, la1 la2 c, torso rmount f, rmount ra1 c, ra1 ra2 c")

# (description, tip, the loader's line after "t: ")
TEXT_REFUSALS = [
    ("", "", "the file is empty"),
    (" " * (17 << 20), "", "larger than 16 MiB"),
    ("<robot name='a'>\0</robot>", "", "malformed XML (a NUL character)"),
    (b"<robot name='a'>\n\xff</robot>", "", "not UTF-8 text at line 2"),
    ("<robot name='a'><link name='x'></robot>", "", "malformed XML at line 1 (mismatched element)"),
    ("<model name='a'/>", "", "the top element is not <robot>"),
    (tree("base a c").replace("</robot>", "<joint name='b2' type='fixed'><parent link='base'/>"
                                          "<child link='a'/></joint></robot>"), "",
     "link 'a' is the child of two joints ('a' and 'b2'), which closes a loop"),
    (tree("a b c, b a c"), "", "the joints form a closed loop through link 'a'"),
    ("<robot name='big'>" + "<link name='l'/>" * 1001 + "</robot>", "",
     "more than 1000 links or joints"),
    (tree("base a c", links_extra={"a": "<inertial><mass value='-1'/><inertia ixx='1' iyy='1' izz='1' "
          "ixy='0' ixz='0' iyz='0'/></inertial>"}), "", "link 'a' has a negative mass"),
    (tree("base a c", links_extra={"a": "<inertial><mass value='1'/><inertia ixx='1' iyy='1' "
          "izz='1' ixy='2' ixz='0' iyz='0'/></inertial>"}), "",
     "link 'a' has an inertia tensor that is not positive semi-definite"),
    (tree(TORSO), "",
     "link 'torso' parts into 2 chains of moving joints before the first moving joint, at "
     "joints 'la1' and 'rmount'; --tip chooses one of them: 'la2' or 'ra2'"),
    (tree("base a c, a b x"), "",
     "joint 'b' is floating; only revolute, continuous, prismatic and fixed joints can be "
     "simulated"),
    (tree("base l1 c, l1 l2 c l1"), "",
     "joint 'l2' mimics joint 'l1', and joints coupled to others cannot be simulated; --tip "
     "can end the chain before it, at 'l1'"),
    (tree("base a c", axis="0 0 0"), "", "joint 'a' has no usable axis"),
    (tree(TORSO), "nope", "--tip: there is no link 'nope'"),
    (tree(TORSO), "world", "--tip: 'world' is the root link; the chain must end below it"),
    (tree(", ".join(f"l{i} l{i + 1} c" for i in range(101))), "", "more than 100 moving joints"),
    (tree("base a c, a b c", links_extra={"b": ""}), "",
     "link 'b', moved by joint 'b', has no inertial data"),
    ("\ufeff<robot name='r'/>".encode("utf-16-le"), "",
     "the file is UTF-16 (little-endian) text; URDF files are UTF-8"),
    ("<robot name='r'/>".encode("utf-16-be"), "",
     "the file is UTF-16 (big-endian) text; URDF files are UTF-8"),
    ("\ufeff<robot name='r'/>".encode("utf-32-le"), "",
     "the file is UTF-32 (little-endian) text; URDF files are UTF-8"),
    ("<!DOCTYPE robot [<!ENTITY b 'base'>]>" + tree("base a c"), "",
     "a DOCTYPE with declarations (<!ENTITY ...> and the like) is not supported"),
    ("<?pi >" + " " * 50 + "<robot name='r'/> ?>\n" + tree("base a c"), "",
     "a processing instruction holding '<' at line 1 is not supported"),
    # Without an encoding declared the parser's reader takes "&#x141;" for 'A': loops it hides.
    (tree("base A c, A b c").replace("</robot>", "<joint name='j3' type='continuous'>"
                                     "<parent link='b'/><child link='&#x141;'/></joint></robot>"),
     "", "link 'A' is the child of two joints ('A' and 'j3'), which closes a loop"),
    (tree("A b c").replace("</robot>", "<joint name='j2' type='continuous'><parent link='b'/>"
                           "<child link='&#x141;'/></joint></robot>"), "",
     "the joints form a closed loop through link 'A'"),
    (tree("base a c, a b f", links_extra={"a": INERTIAL.replace("'1'/>", "'1.7e308'/>", 1),
                                          "b": INERTIAL.replace("'1'/>", "'1.7e308'/>", 1)}), "",
     "link 'a' has a mass that is not finite once the links fixed to it are joined"),
    (tree("base a c").replace(
        "<child link='a'/>", "<child link='a'/><origin xyz='1e308 0 0'/>").replace(
        "</robot>", "<link name='b'>" + INERTIAL + "</link><joint name='b' type='continuous'>"
        "<parent link='a'/><child link='b'/><origin xyz='1e308 0 0'/></joint></robot>"), "",
     "link 'a' is too long: the square of its length is not finite"),
    # A control character in a name is shown escaped.
    (tree("base a c", links_extra={"a": ""}).replace("'a'", "'a&#x1b;[31m'"), "",
     "link 'a\\x1b[31m', moved by joint 'a\\x1b[31m', has no inertial data"),
]


@pytest.mark.parametrize("text,tip,message", TEXT_REFUSALS,
                         ids=[m.split(" (")[0][:40] for _, _, m in TEXT_REFUSALS])
def test_every_refusal_of_the_loader_is_a_load_error_with_its_line(text, tip, message):
    assert refused(text, tip) == "t: " + message
    assert issubclass(velmoth.LoadError, ValueError)


def test_the_urdf_parsers_own_complaints_come_through():
    for text, part in [("<robot name='a'><link name='b'/><joint name='j' type='fixed'>"
                        "<parent link='b'/></joint></robot>", "[j]"),
                       (tree("base a c", links_extra={"a": "<inertial><mass value='heavy'/>"
                                                           "</inertial>"}), "[a]")]:
        message = refused(text)
        assert message.startswith("t: ") and part in message and "\n" not in message


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


def test_files_that_are_not_regular_are_refused_without_blocking(tmp_path):
    # A FIFO without a writer would block its reader for good: a child process with a time limit
    # fails the test instead of hanging it.
    fifo = tmp_path / "arm.urdf"
    os.mkfifo(fifo)
    code = ("import sys, velmoth\ntry:\n    velmoth.Robot.from_urdf(sys.argv[1])\n"
            "except velmoth.LoadError as error:\n    print(error)")
    for path, kind in [(fifo, "a FIFO"), ("/dev/zero", "a character device")]:
        done = subprocess.run([sys.executable, "-c", code, str(path)], capture_output=True,
                              text=True, timeout=20, check=False)
        assert done.stdout == f"{path}: cannot read: not a regular file ({kind})\n", done.stderr


@pytest.fixture
def sim():
    return velmoth.Simulation(velmoth.Robot.builtin(links=3))


@pytest.mark.parametrize("value,error,match", [
    ([1, 2], ValueError, r"torque must have 3 elements \(one per moving joint\), not shape \(2,\)"),
    ([[1, 2, 3]], ValueError, r"not shape \(1, 3\)"),
    (np.zeros((3, 1)), ValueError, r"not shape \(3, 1\)"),
    ([1, math.nan, 3], ValueError, "torque must be finite, not nan at index 1"),
    ([1, 2, -math.inf], ValueError, "torque must be finite, not -inf at index 2"),
    (np.array([1e308, 1e309, 0]), ValueError, "not inf at index 1"),
    ("1, 2, 3", TypeError, "not text"),
    ([1, "x", 3], TypeError, "must be a sequence of 3 numbers"),
    ({"a": 1}, TypeError, "must be a sequence of 3 numbers"),
])
def test_bad_joint_vectors_are_refused_before_the_tick(sim, value, error, match):
    robot = sim.robot
    for call in (sim.step, lambda v: sim.run(5, v), lambda v: sim.terms(v),
                 lambda v: velmoth.terms(robot, [0, 0, 0], None, v),
                 lambda v: velmoth.forward_dynamics(robot, [0, 0, 0], [0, 0, 0], v),
                 lambda v: velmoth.inverse_dynamics(robot, [0, 0, 0], [0, 0, 0], v)):
        with pytest.raises(error, match=match.replace("torque", "(torque|tau|qdd)")):
            call(value)
    with pytest.raises(error):
        sim.step_inverse(value)
    with pytest.raises(error):
        sim.q = value
    with pytest.raises(error):
        velmoth.Simulation(velmoth.Robot.builtin(links=3), qd0=value)
    assert sim.tick == 0 and list(sim.q) == [0, 0, 0]


def test_vectors_of_any_numeric_kind_are_taken(sim):
    for value in ([1, 2, 3], (1.0, 2.0, 3.0), np.array([1, 2, 3], dtype=np.int32),
                  np.array([1.0, 0, 2, 0, 3, 0])[::2], np.float32([1, 2, 3])):
        sim.reset()
        assert np.array_equal(sim.step(value), velmoth.Simulation(sim.robot).step([1, 2, 3]))


def test_bad_settings_are_refused(sim):
    robot = velmoth.Robot.builtin(links=2)
    for kwargs, error, match in [
        ({"engine": "fast"}, ValueError, "engine must be 'closed-form' or 'recursive', not 'fast'"),
        ({"integrator": "verlet"}, ValueError, "integrator must be one of 'euler', 'implicit', "
                                               "'rk4', not 'verlet'"),
        ({"substeps": 0}, ValueError, "substeps must be from 1 to 1000, not 0"),
        ({"viscous": math.nan}, ValueError, "viscous must be finite, not nan"),
        ({"coulomb": "0.1"}, TypeError, "coulomb must be a number"),
        ({"gravity": [0, -9.81]}, ValueError, r"gravity must have 3 elements"),
        ({"gravity": [0, 0, math.inf]}, ValueError, "gravity must be finite"),
        ({"q0": [1, 2, 3]}, ValueError, r"q must have 2 elements"),
        ({"engine": 1}, TypeError, "engine must be a str"),
        ({"substeps": 2.0}, TypeError, "substeps must be an int"),
        ({"substeps": 10**30}, OverflowError, ""),
    ]:
        with pytest.raises(error, match=match):
            velmoth.Simulation(robot, **kwargs)
    for name, value, error in [("engine", "x", ValueError), ("integrator", "", ValueError),
                               ("substeps", -1, ValueError), ("viscous", math.inf, ValueError),
                               ("coulomb", None, TypeError), ("gravity", [1, 2], ValueError),
                               ("qd", [0, 0], ValueError)]:
        with pytest.raises(error):
            setattr(sim, name, value)
    assert (sim.engine, sim.integrator, sim.substeps) == ("closed-form", "euler", 1)
    assert sim.viscous == 0.1 and list(sim.gravity) == [0, 0, -9.81]
    for links in (-1, 101):
        with pytest.raises(ValueError, match=f"links must be from 0 to 100, not {links}"):
            velmoth.Robot.builtin(links=links)
    with pytest.raises(TypeError):
        velmoth.Robot.builtin(links=2.5)
    with pytest.raises(TypeError):
        velmoth.Robot.from_urdf_text(42)
    for call, error, match in [
            (lambda: sim.terms(engine=0), TypeError, "engine must be a str"),
            (lambda: velmoth.terms(robot, engine="fast"), ValueError, "engine must be"),
            (lambda: velmoth.forward_dynamics(robot, None, None, None, engine="recursive",
                                              euler_tick=True), ValueError, "'closed-form' or None"),
            (lambda: velmoth.inverse_dynamics(robot, None, None, None, gravity=[0, 1]),
             ValueError, "gravity must have 3 elements"),
            (lambda: velmoth.Robot.from_urdf(SAMPLES / "puma560.urdf", tip=3), TypeError,
             "tip must be a str")]:
        with pytest.raises(error, match=match):
            call()


def test_bad_run_arguments_are_refused(sim):
    for args, kwargs, match in [
        ((-1,), {}, "ticks must be 0 or more, not -1"),
        ((10,), {"every": 0}, "every must be 1 or more, not 0"),
        ((10,), {"mode": "sideways"}, "mode must be 'forward' or 'inverse', not 'sideways'"),
        ((10,), {"accel": [1, 2, 3]}, r"accel is for mode='inverse'; a forward run takes torque"),
        ((10, [1, 2, 3]), {"mode": "inverse"}, "torque is for mode='forward'"),
        ((10, [1, 2, 3]), {"controller": lambda t, q, qd: q},
         "a run with a controller takes its torque from the controller only"),
    ]:
        with pytest.raises(ValueError, match=match):
            sim.run(*args, **kwargs)
    with pytest.raises(TypeError, match="controller must be callable"):
        sim.run(10, controller=3)
    assert sim.tick == 0


@pytest.mark.parametrize("returned,error,match", [
    ([1, 2], ValueError, r"the controller's torque must have 3 elements"),
    ([0, math.nan, 0], ValueError, r"the controller's torque must be finite, not nan at index 1"),
    ("0 0 0", TypeError, "the controller's torque must be a sequence of 3 numbers, not text"),
])
def test_a_controller_that_returns_a_bad_vector_ends_the_run_there(sim, returned, error, match):
    with pytest.raises(error, match=match):
        sim.run(6, controller=lambda time, q, qd: [0.0] * 3 if time < 0.025 else returned)
    assert sim.tick == 3


def test_an_exception_in_the_controller_comes_through_and_the_simulation_goes_on():
    sim = velmoth.Simulation(velmoth.Robot.builtin(links=1))
    raised = KeyError("stop here")

    def controller(time, q, qd):
        if time > 0.045:
            raise raised
        return [1.0]

    with pytest.raises(KeyError) as error:
        sim.run(100, controller=controller)
    assert error.value is raised and sim.tick == 5 and list(sim.tau) == [1.0]
    # The ticks done are kept, and the simulation takes calls again.
    sim.run(3, [1.0])
    assert sim.tick == 8
    again = velmoth.Simulation(velmoth.Robot.builtin(links=1)).run(8, [1.0])
    assert np.array_equal(sim.q, again.q[-1])


def test_objects_made_without_init_are_refused_not_followed():
    # cls.__new__(cls), as unpickling begins, gives an object that nothing was made in.
    for cls, uses in [
        (velmoth.Robot, [lambda o: o.dof, lambda o: o.name, lambda o: o.masses, repr,
                         lambda o: velmoth.Simulation(o), pickle.dumps, velmoth.terms]),
        (velmoth.Simulation, [lambda o: o.step(), lambda o: o.run(3), lambda o: o.q, repr,
                              lambda o: o.terms(), lambda o: o.reset(), lambda o: o.tick]),
        (velmoth.Trajectory, [lambda o: o.csv(), repr, lambda o: o.q]),
        (velmoth.Terms, [repr, lambda o: o.M]),
    ]:
        for use in uses:
            with pytest.raises((TypeError, RuntimeError)):
                use(cls.__new__(cls))
