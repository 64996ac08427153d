"""Refusals: the loader's, and bad arguments before they reach the matrix library (fatal there)."""
import math
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import velmoth
from conftest import SAMPLES


def inertial(mass="1", ixy="0"):
    return (f"<inertial><mass value='{mass}'/><inertia ixx='1' iyy='1' izz='1' ixy='{ixy}' "
            "ixz='0' iyz='0'/></inertial>")


def tree(shape, axis="0 0 1", tail="", **inner):
    """Joints "parent child kind[ leader]" (c continuous, f fixed, x floating) named after the child
    (a second one with "2"); link NAME holds inner[NAME] or inertial()."""
    text, links, names = "<robot name='tree'>", [], set()
    for joint in shape.split(","):
        parent, child, kind, *leader = joint.split()
        name = child + "2" if child in names else child
        names.add(name)
        kind = {"c": "continuous", "f": "fixed", "x": "floating"}[kind]
        text += (f"<joint name='{name}' type='{kind}'><parent link='{parent}'/><child "
                 f"link='{child}'/><axis xyz='{axis}'/><limit lower='0' upper='1' effort='1' "
                 "velocity='1'/>" + (f"<mimic joint='{leader[0]}'/>" if leader else "")
                 + "</joint>")
        links += [link for link in (parent, child) if link not in links]
    inner = "".join(f"<link name='{n}'>{inner.get(n, inertial())}</link>" for n in links)
    return text + inner + tail + "</robot>"


TORSO = tree("world torso f, torso la1 c, la1 la2 c, torso rmount f, rmount ra1 c, ra1 ra2 c")
PARTS = ("link 'torso' parts into 2 chains of moving joints before the first moving joint, at "
         "joints 'la1' and 'rmount'; --tip chooses one of them: 'la2' or 'ra2'")
MIMIC = ("joint 'l2' mimics joint 'l1', and joints coupled to others cannot be simulated; --tip "
         "can end the chain before it, at 'l1'")
FLOATING = ("joint 'b' is floating; only revolute, continuous, prismatic and fixed joints can be "
            "simulated")
UTF8, TWO = " text; URDF files are UTF-8", "is the child of two joints"
# Without an encoding declared the parser's reader takes "&#x141;" for 'A': a loop it would hide.
HIDDEN_LOOP = tree("base A c, A b c", tail="<joint name='j3' type='continuous'><parent "
                   "link='b'/><child link='&#x141;'/></joint>")
NO_CHILD = "<robot name='a'><link name='b'/><joint name='j' type='fixed'><parent link='b'/>" \
    "<child link='x'/></joint>"
# The URDF parser's own complaints come through as one line.
NO_CHILD_SAID = "Failed to build tree: child link [x] of joint [j] not found"
NAN_MASS = "Inertial: mass [x] is not a float; Could not parse inertial element for Link [a]"


@pytest.mark.parametrize("text,message", [  # text or (text, tip)
    ("", "the file is empty"),
    (" " * (17 << 20), "larger than 16 MiB"),
    ("<robot name='a'>\0</robot>", "malformed XML (a NUL character)"),
    (b"<robot name='a'>\n\xff</robot>", "not UTF-8 text at line 2"),
    ("<robot name='a'><link name='x'></robot>", "malformed XML at line 1 (mismatched element)"),
    ("<model name='a'/>", "the top element is not <robot>"),
    ("\ufeff<robot/>".encode("utf-16-le"), "the file is UTF-16 (little-endian)" + UTF8),
    ("<robot/>".encode("utf-16-be"), "the file is UTF-16 (big-endian)" + UTF8),
    ("\ufeff<robot/>".encode("utf-32-le"), "the file is UTF-32 (little-endian)" + UTF8),
    ("<!DOCTYPE r [<!ENTITY b 'c'>]><r/>", "a DOCTYPE with declarations (<!ENTITY ...> and the "
                                          "like) is not supported"),
    ("<?pi " + " " * 50 + "<r/> ?>\n<r/>", "a processing instruction holding '<' at line 1 is not "
                                            "supported"),
    (NO_CHILD + "</robot>", NO_CHILD_SAID),
    (tree("base a c", a="<inertial><mass value='x'/></inertial>"), NAN_MASS),
    ("<robot>" + "<link name='l'/>" * 1001 + "</robot>", "more than 1000 links or joints"),
    (tree("base a c, base a f"), f"link 'a' {TWO} ('a' and 'a2'), which closes a loop"),
    (HIDDEN_LOOP, f"link 'A' {TWO} ('A' and 'j3'), which closes a loop"),
    (tree("a b c, b a c"), "the joints form a closed loop through link 'a'"),
    (tree("base a c", a=inertial(mass="-1")), "link 'a' has a negative mass"),
    (tree("base a c", a=inertial(ixy="2")), "link 'a' has an inertia tensor that is not positive "
                                            "semi-definite"),
    (TORSO, PARTS),
    (tree("base a c, a b x"), FLOATING),
    (tree("base l1 c, l1 l2 c l1"), MIMIC),
    (tree("base a c", axis="0 0 0"), "joint 'a' has no usable axis"),
    ((TORSO, "nope"), "--tip: there is no link 'nope'"),
    ((TORSO, "world"), "--tip: 'world' is the root link; the chain must end below it"),
    (tree(", ".join(f"l{i} l{i + 1} c" for i in range(101))), "more than 100 moving joints"),
    (tree("base a c, a b c", b=""), "link 'b', moved by joint 'b', has no inertial data"),
    (tree("base a c, a b c", b=inertial(mass="0").replace("'1'", "'0'")),
     "joint 'b' moves nothing: link 'b' and the links after it have no mass off the joint's axis "
     "and no inertia about it"),
    (tree("base a c, a b f", a=inertial("1e308"), b=inertial("1e308")),
     "link 'a' has a mass that is not finite once the links fixed to it are joined"),
    (tree("base a c, a b c").replace("<axis", "<origin xyz='1e308 0 0'/><axis"),
     "link 'a' is too long: the square of its length is not finite"),
    # A control character in a name is shown escaped.
    (tree("base a c", a="").replace("'a'", "'a&#x1b;'"),
     "link 'a\\x1b', moved by joint 'a\\x1b', has no inertial data"),
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
    return velmoth.Simulation(velmoth.Robot.builtin(links=3))


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


def test_vectors_of_any_numeric_kind_are_taken(sim):
    for value in ((1.0, 2.0, 3.0), np.int32([1, 2, 3]), np.float64([1, 0, 2, 0, 3, 0])[::2],
                  np.ma.masked_array([1.0, 2.0, 3.0], mask=False)):
        sim.reset()
        assert np.array_equal(sim.step(value), velmoth.Simulation(sim.robot).step([1, 2, 3]))


R2 = velmoth.Robot.builtin(links=2)


@pytest.mark.parametrize("call,error,match", [  # a dict: Simulation(R2, **call); a pair: setattr
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
    (("engine", "x"), ValueError, "engine must be"),
    (("substeps", -1), ValueError, "substeps must be from 1 to 1000"),
    (("coulomb", math.inf), ValueError, "coulomb must be finite and 0 or more, not inf"),
    (("gravity", [1, 2]), ValueError, r"gravity must have 3 elements \(x, y, z\), not shape"),
    (("substeps", 2.0), TypeError, "substeps must be an int"),
    ({"substeps": np.bool_(True)}, TypeError, "substeps must be an int"),
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
])
def test_bad_settings_and_arguments_are_refused(sim, call, error, match):
    with pytest.raises(error, match=match):
        if isinstance(call, dict):
            velmoth.Simulation(R2, **call)
        else:
            setattr(sim, *call) if isinstance(call, tuple) else call(sim)
    assert (sim.tick, sim.engine, sim.substeps, sim.coulomb, list(sim.gravity)) == \
        (0, "closed-form", 1, 0.1, [0, 0, -9.81])


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


def test_numbers_that_look_like_errors_and_numpy_integers_are_taken():
    sim = velmoth.Simulation(R2, viscous=0, coulomb=-0.0, substeps=np.int32(5))
    sim.substeps, sim.viscous = np.int64(3), np.int32(2)
    assert (sim.substeps, sim.viscous, sim.coulomb) == (3, 2.0, 0.0)
    assert velmoth.terms(R2, None, None, viscous=0).F.tolist() == [0.0, 0.0]


def test_a_singular_solve_is_a_divergence_and_the_interpreter_lives():
    scara = velmoth.Robot.from_urdf(SAMPLES / "scara.urdf")
    sim = velmoth.Simulation(scara, engine="closed-form", integrator="euler")
    with pytest.warns(velmoth.DivergenceWarning, match="diverged at tick 12"):
        run = sim.run(20, [1000.0] * 4)
    assert run.diverged_at == 12 and np.isnan(run.q[-1]).all() and not sim.finite
    sim.step([1000.0] * 4)  # and the ticks go on
    assert sim.tick == 21
