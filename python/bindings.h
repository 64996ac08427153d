// What the parts of the Python module share: the arm as Python holds it, its copies, and the
// functions that add each class to the module.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "recursive/chain.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/payload.h"
#include "simulation/step_options.h"

namespace py = pybind11;

// Python can make an instance without its __init__ (cls.__new__(cls), as unpickling does before
// __setstate__); pybind11 then allocates the object with the class's operator new and constructs
// nothing. Zeroed, such an object is recognisably empty, and every binding refuses it.
#define VELMOTH_ZEROED_NEW                             \
  static void* operator new(std::size_t size) {        \
    return std::memset(::operator new(size), 0, size); \
  }                                                    \
  static void operator delete(void* p) {               \
    ::operator delete(p);                              \
  }

// The TypeError for an object Python made without __init__.
[[noreturn]] void ThrowUnmade(const char* type);

// A file the URDF loader refused; Python sees velmoth.LoadError (a ValueError) with the loader's
// one line, "FILE: problem".
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An arm as velmoth.Robot holds it: never stepped or changed, only copied (CloneRobot) for each
// simulation and each evaluation of terms. It keeps how it was made, so that it can be made again
// when unpickled.
struct ArmModel {
  VELMOTH_ZEROED_NEW

  // The arm; refused when Python made this object without __init__.
  const Robot& Arm() const {
    if (!robot) {
      ThrowUnmade("Robot");
    }
    return *robot;
  }

  std::shared_ptr<const Robot> robot;
  // How it was made: the built-in arm of `links` links, a file at `path`, or `text` from `source`.
  enum class Kind { kBuiltIn, kFile, kText } kind = Kind::kBuiltIn;
  int links = kBuiltInLinkCount;
  std::string path, text, source, tip;
  // The payloads added to it (Robot.with_payload), in order.
  std::vector<Payload> payloads;
  // The loader's notices ("FILE: text" each): joints held off the chain, implausible inertias.
  std::vector<std::string> notices;
  // The moving joints' names, base first.
  std::vector<std::string> jointNames;
  // The arm's chain and named frames for its kinematics, made once with the arm.
  std::shared_ptr<const recursive::ChainModel> chain;
  std::shared_ptr<const std::vector<recursive::FrameModel>> frames;

  // The index of the frame called name, or ValueError naming the frames there are.
  int Frame(const std::string& name) const;

  bool FromFile() const { return kind != Kind::kBuiltIn; }
  std::size_t Dof() const { return Arm().links.size(); }
  StepOptions DefaultStep() const { return DefaultStepOptions(FromFile()); }
};

// The terms of the equation of motion for one state, the numbers velmoth-sim terms prints: qdd and
// tau are its qdd_engine and tau_engine, qddDamped and tauClosedForm its qdd and tau.
struct Terms {
  VELMOTH_ZEROED_NEW

  std::string engine;
  py::array_t<double> M, C, G, F, qdd, tau, qddDamped, tauClosedForm;
  py::array_t<double> tauExternal;  // J^T of the external loads
  double kinetic = 0.0, potential = 0.0;
};

// The terms of robot (a copy, which is changed) in the state (q, qd), n values each, with the
// torques and accelerations given, in closed form and by engine: what velmoth-sim terms computes.
// external (null: none) are the joint torques of loads from outside, which the engine's qdd takes
// with the torques and its tau leaves to them.
Terms EvaluateTerms(std::unique_ptr<Robot> robot, EngineKind engine, const double* q,
                    const double* qd, const double* torque, const double* accel,
                    const double* external = nullptr);

// The Python classes of DivergenceWarning, AccuracyWarning and LimitWarning, made by the module.
py::handle DivergenceWarningType();
py::handle AccuracyWarningType();
py::handle LimitWarningType();

void BindRobot(py::module_& m);
void BindTrajectory(py::module_& m);
void BindTerms(py::module_& m);
void BindSimulation(py::module_& m);
void BindKinematics(py::module_& m);

// velmoth.Kinematics of the arm in the state (q, qd), qd None for the poses and Jacobians alone.
py::object MakeKinematics(const std::shared_ptr<ArmModel>& arm, py::handle q, py::handle qd);
