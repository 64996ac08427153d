// The Python module velmoth: the arms of the Velmoth simulator, the tick that the window and
// velmoth-sim share, and the terms of the equation of motion, for scripts and parameter sweeps.
#include "dynamics/dynamics.h"
#include "python/bindings.h"
#include "python/control_binding.h"
#include "python/convert.h"
#include "python/forces.h"
#include "simulation/command_line.h"

namespace {

// Made once and never released: a static py::object would be released after the interpreter ends.
PyObject* divergenceWarning = nullptr;
PyObject* accuracyWarning = nullptr;
PyObject* limitWarning = nullptr;

const char* const kModuleDoc = R"doc(Velmoth: rigid-body dynamics of serial robot arms, from Python.

The same arms and the same 0.01 s tick as the Velmoth window and
velmoth-sim, bit for bit:

    >>> import velmoth
    >>> arm = velmoth.Robot.from_urdf("examples/puma560.urdf")
    >>> sim = velmoth.Simulation(arm)     # recursive engine, dopri5
    >>> run = sim.run(500, every=50)      # a Trajectory of NumPy arrays
    >>> run.q.shape, run.total[-1]
    >>> qdd = sim.step([0, 1, 0, 0, 0, 0])    # one tick from Python

Robot         the built-in arm (Robot.builtin(links=6)), or the arm of a URDF
              file (Robot.from_urdf(path, tip=None)); with_payload(frame,
              mass, point) adds a point mass
Simulation    an arm's state and its tick: step, step_inverse, run (GIL
              released), reset, terms; apply_force, apply_wrench and
              clear_forces hold forces on its frames
Trajectory    the rows of a run: velmoth-sim run's columns as arrays
Terms         M, C, G, F, the energies, forward and inverse dynamics of one
              state
Gravity, PD, ComputedTorque, TaskPD   controllers evaluated in C++
              (Simulation(robot, controller=...), sim.controller)
Step, Quintic, Trapezoid, Sine   the references they follow, as functions
              of time
Kinematics    the poses, Jacobians and J-dot qd of the arm's frames for one
              state
kinematics(robot, q, qd=None)  a Kinematics (Robot.frame_names names the
              frames)
terms(robot, q, qd)            M, C, G, F (unpacks so) of a state
forward_dynamics(robot, q, qd, tau, engine=None, wrench=None)   the
              accelerations (with loads from outside)
inverse_dynamics(robot, q, qd, qdd, engine=None, wrench=None)   the torques
LoadError     a URDF file the loader refuses (a ValueError)
DivergenceWarning   a run whose state stopped being finite or physical
AccuracyWarning     a tick that reached the step's cap of internal steps,
                    or left the energy balance off beyond 1e-3
LimitWarning        a start outside the joint limits, put at the nearest

Bad input (a vector of the wrong length, a number that is not finite, an
unknown engine) raises TypeError or ValueError before anything is computed.)doc";

}  // namespace

py::handle DivergenceWarningType() {
  return divergenceWarning;
}

py::handle AccuracyWarningType() {
  return accuracyWarning;
}

py::handle LimitWarningType() {
  return limitWarning;
}

PYBIND11_MODULE(velmoth, m) {
  m.doc() = Doc(kModuleDoc);
  // Every docstring begins with its signature as Python callers write it.
  py::options options;
  options.disable_function_signatures();
  py::module_::import("numpy");
  py::register_exception<LoadError>(m, "LoadError", PyExc_ValueError);
  m.attr("LoadError").attr("__doc__") =
      Doc("A URDF description the loader refuses; str(error) is the loader's line "
          "\"FILE: problem\" (the file's path, or the text's source name). A ValueError.");
  divergenceWarning = PyErr_NewExceptionWithDoc(
      "velmoth.DivergenceWarning",
      Doc("Issued once by Simulation.run (and by Simulation.step) when a tick left the state or "
          "the torques not finite, or its step made energy without work: the message names the "
          "step and the cause (a fixed step too coarse for the motion, the implicit step's "
          "refinement giving up, the error-controlled step's cap, torques that are not numbers) "
          "and what helps. The run went on, as velmoth-sim's does."),
      PyExc_RuntimeWarning, nullptr);
  if (divergenceWarning == nullptr) {
    throw py::error_already_set();
  }
  m.attr("DivergenceWarning") = py::handle(divergenceWarning);
  accuracyWarning = PyErr_NewExceptionWithDoc(
      "velmoth.AccuracyWarning",
      Doc("Issued once by Simulation.run (and by a step) when a tick reached the step's cap of "
          "internal steps: that tick ended at the accuracy the cap allows, coarser than the "
          "tolerance asks. The run went on; a coarser tolerance or a calmer motion avoids it. "
          "Issued too by the first tick that left the energy balance off, either way, by more "
          "than 1e-3 of the motion's energy since the balance started: the step is too coarse "
          "for the motion, and the message names the remedy."),
      PyExc_RuntimeWarning, nullptr);
  if (accuracyWarning == nullptr) {
    throw py::error_already_set();
  }
  m.attr("AccuracyWarning") = py::handle(accuracyWarning);
  limitWarning = PyErr_NewExceptionWithDoc(
      "velmoth.LimitWarning",
      Doc("Issued when a Simulation's joints are set outside their limits (q0, q, reset, or the "
          "limits switched on): each such joint is put at its nearest limit, and the message "
          "names them."),
      PyExc_UserWarning, nullptr);
  if (limitWarning == nullptr) {
    throw py::error_already_set();
  }
  m.attr("LimitWarning") = py::handle(limitWarning);

  BindRobot(m);
  BindForces(m);
  BindControl(m);
  BindTrajectory(m);
  BindTerms(m);
  BindSimulation(m);
  BindKinematics(m);

  m.attr("__version__") = kVelmothVersion;
  m.attr("TIME_STEP") = kTimeStep;
  m.attr("MAX_SUBSTEPS") = kMaxSubsteps;
  m.attr("DEFAULT_TOLERANCE") = kDefaultTolerance;
  py::list engines, integrators;
  for (EngineKind kind : kEngineKinds) {
    engines.append(EngineName(kind));
  }
  for (IntegratorKind kind : kIntegratorKinds) {
    integrators.append(IntegratorName(kind));
  }
  m.attr("ENGINES") = py::tuple(engines);
  m.attr("INTEGRATORS") = py::tuple(integrators);
}
