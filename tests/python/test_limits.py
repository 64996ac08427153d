"""The file's own physics from Python (test_runs has velmoth-sim's runs of them, test_errors the
arguments refused): the robot's limits, friction and efforts, a start outside the limits warned
about, the friction's source, saturated torques."""
import math
import warnings

import numpy as np
import pytest

import velmoth
from conftest import robot


def test_the_robot_gives_its_files_physics_and_efforts_saturate_the_torques():
    scara = robot("scara")
    assert list(scara.lower_limits[:3]) == [-2.5, -2.6, 0.0] and scara.lower_limits[3] == -math.inf
    assert list(scara.upper_limits[:3]) == [2.5, 2.6, 0.2] and scara.upper_limits[3] == math.inf
    assert list(scara.efforts) == [80.0, 40.0, 200.0, math.inf]
    planar = robot("planar_3link")
    assert np.isnan(planar.joint_damping[[0, 2]]).all() and planar.joint_damping[1] == 0.5
    assert planar.joint_friction[1] == 0.1
    builtin = robot(2)
    assert (builtin.lower_limits == -math.inf).all() and (builtin.efforts == math.inf).all()
    # The efforts saturate the torques.
    sim = velmoth.Simulation(scara, effort_limits=True)
    sim.step([100, -50, 0, 7])
    assert list(sim.tau) == [80, -40, 0, 7] and list(sim.saturated) == [True, True, False, False]
    assert list(sim.run(3, [1, 2, 3, 4]).tau[-1]) == [1, 2, 3, 4] and not sim.saturated.any()


def test_the_quill_rests_at_its_limit_and_a_start_outside_is_warned_about():
    arm = robot("scara")
    with pytest.warns(velmoth.LimitWarning, match=r"'quill' starts at 0\.2 \(limits 0 to 0\.2\) "
                                                  r"instead of 0\.5"):
        sim = velmoth.Simulation(arm, q0=[0, 0, 0.5, 0])
    assert sim.q[2] == 0.2 and list(sim.at_limit) == [0, 0, 1, 0]
    sim.run(100)
    assert sim.q[2] == 0.2 and sim.qd[2] == 0.0 and sim.at_limit.dtype == np.int8
    with pytest.warns(velmoth.LimitWarning):
        sim.q = [0, 0, -1, 0]
    assert sim.q[2] == 0.0 and sim.at_limit[2] == -1
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        sim.limits = False
        sim.q = [0, 0, 0.5, 0]
        sim.run(50)
    assert sim.q[2] > 0.5 and not sim.at_limit.any()
    with pytest.warns(velmoth.LimitWarning):
        sim.limits = True
    assert sim.q[2] == 0.2
    with pytest.warns(velmoth.LimitWarning):
        sim.reset([0, 0, 3, 0])


def test_friction_is_the_files_unless_the_panels_is_given():
    arm = robot("planar_3link")
    qd = [1.0, 1.0, 1.0]
    assert velmoth.Simulation(arm).friction == "file"
    assert velmoth.Simulation(arm, coulomb=0.0).friction == "uniform"
    assert velmoth.Simulation(arm, viscous=0.3, friction="file").friction == "file"
    assert list(velmoth.terms(arm, qd=qd).F) == [0.2, 0.6, 0.2]
    assert list(velmoth.terms(arm, qd=qd, viscous=0.3).F) == pytest.approx([0.4, 0.4, 0.4])
    sim = velmoth.Simulation(arm, qd0=qd)
    assert list(sim.terms().F) == [0.2, 0.6, 0.2]
    sim.viscous = 0.3  # as the panel's "Set": every joint's
    assert sim.friction == "uniform" and sim.terms().F[1] == pytest.approx(0.4)
    sim.friction = "file"
    assert sim.terms().F[1] == pytest.approx(0.6)
