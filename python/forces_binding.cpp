// Forces from outside the joints in Python: loads, the forces a Simulation holds, payloads.
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "python/convert.h"
#include "python/forces.h"
#include "simulation/payload.h"
#include "simulation/stepper.h"

namespace {

ForceAxes AxesArgument(py::handle axes) {
  if (axes.is_none()) {
    return ForceAxes::kWorld;
  }
  const std::string name = TextArgument(axes, "axes");
  if (name == "world" || name == "base") {
    return ForceAxes::kWorld;
  }
  if (name == "frame") {
    return ForceAxes::kFrame;
  }
  throw py::value_error("axes must be 'world' or 'frame', not '" + name + "'");
}

const char* AxesName(ForceAxes axes) {
  return axes == ForceAxes::kWorld ? "world" : "frame";
}

// The number of elements of a vector argument, or TypeError.
std::size_t Length(py::handle value, const std::string& what) {
  if (value.is_none() || py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
      !py::hasattr(value, "__len__")) {
    throw py::type_error(what +
                         " must be a sequence of 3 numbers (a force) or 6 (a force, then a "
                         "moment)");
  }
  return py::len(value);
}

// One load: the frame's name, its vector (3 numbers for a force, 6 for a wrench; size 0 takes
// either), the point and the axes.
ExternalForce ReadLoad(const ArmModel& arm, py::handle frame, py::handle vector, py::handle point,
                       py::handle axes, std::size_t size, const std::string& what) {
  ExternalForce load;
  load.frame = TextArgument(frame, "frame");
  arm.Frame(load.frame);  // ValueError for one the arm lacks
  const std::size_t n = size != 0 ? size : Length(vector, what);
  if (n != 3 && n != 6) {
    throw py::value_error(what +
                          " must have 3 elements (a force) or 6 (a force, then a moment), "
                          "not " +
                          std::to_string(n));
  }
  double values[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  ReadNumbers(vector, n, what.c_str(),
              n == 3 ? "fx, fy, fz in N" : "fx, fy, fz in N, then mx, my, mz in N m", values);
  for (int k = 0; k < 3; ++k) {
    load.force[k] = values[k];
    load.moment[k] = values[3 + k];
  }
  if (!point.is_none()) {
    ReadNumbers(point, 3, "point", "x, y, z in the frame, m", load.point);
  }
  load.axes = AxesArgument(axes);
  return load;
}

bool Zero(const ExternalForce& f) {
  for (int k = 0; k < 3; ++k) {
    if (f.force[k] != 0.0 || f.moment[k] != 0.0) {
      return false;
    }
  }
  return true;
}

bool SamePlace(const ExternalForce& a, const ExternalForce& b) {
  return a.frame == b.frame && a.axes == b.axes && a.point[0] == b.point[0] &&
         a.point[1] == b.point[1] && a.point[2] == b.point[2];
}

// A copy of the arm with the payload in it.
std::shared_ptr<ArmModel> WithPayload(const ArmModel& arm, py::handle frame, py::handle mass,
                                      py::handle point) {
  Payload payload;
  payload.frame = TextArgument(frame, "frame");
  arm.Frame(payload.frame);
  payload.mass = FiniteNumber(mass, "mass");
  if (payload.mass < 0.0) {
    throw py::value_error("mass must be 0 kg or more");
  }
  if (!point.is_none()) {
    ReadNumbers(point, 3, "point", "x, y, z in the frame, m", payload.point);
  }
  std::unique_ptr<Robot> robot = CloneRobot(arm.Arm());
  if (const std::string problem = AddPayload(*robot, payload); !problem.empty()) {
    throw py::value_error(problem);
  }
  auto loaded = std::make_shared<ArmModel>(arm);
  loaded->payloads.push_back(payload);
  loaded->chain = std::make_shared<const recursive::ChainModel>(recursive::BuildChainModel(*robot));
  loaded->frames = std::make_shared<const std::vector<recursive::FrameModel>>(
      recursive::BuildFrameModels(*robot));
  loaded->robot = std::move(robot);
  return loaded;
}

}  // namespace

std::vector<ExternalForce> ReadLoads(py::handle value, const ArmModel& arm, const char* what) {
  std::vector<ExternalForce> loads;
  if (value.is_none()) {
    return loads;
  }
  const std::string name = what;
  const auto one = [&](py::handle item, const std::string& itemName) {
    if (!py::isinstance<py::tuple>(item) && !py::isinstance<py::list>(item)) {
      throw py::type_error(itemName + " must be a load (frame, vector[, point[, axes]]), not " +
                           py::str(py::type::of(item).attr("__name__")).cast<std::string>());
    }
    const py::sequence load = py::reinterpret_borrow<py::sequence>(item);
    const std::size_t n = py::len(load);
    if (n < 2 || n > 4) {
      throw py::value_error(itemName + " must be (frame, vector[, point[, axes]]), not " +
                            std::to_string(n) + " items");
    }
    loads.push_back(ReadLoad(arm, load[0], load[1], n > 2 ? py::object(load[2]) : py::none(),
                             n > 3 ? py::object(load[3]) : py::none(), 0, itemName + "'s vector"));
  };
  // One load (its frame's name first), or a sequence of loads.
  if ((py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) && py::len(value) > 0 &&
      py::isinstance<py::str>(py::reinterpret_borrow<py::sequence>(value)[0])) {
    one(value, name);
    return loads;
  }
  if (py::isinstance<py::str>(value) || !py::hasattr(value, "__iter__")) {
    throw py::type_error(name +
                         " must be a load (frame, vector[, point[, axes]]), a list of "
                         "loads or None");
  }
  std::size_t i = 0;
  for (const py::handle item : value) {
    one(item, name + "[" + std::to_string(i++) + "]");
  }
  return loads;
}

void LoadTorques(const ArmModel& arm, const std::vector<ExternalForce>& loads, const double* q,
                 double* tau) {
  const std::size_t n = arm.Dof();
  for (std::size_t i = 0; i < n; ++i) {
    tau[i] = 0.0;
  }
  if (loads.empty()) {
    return;
  }
  ExternalTorques torques(arm.Arm());
  if (const std::string problem = torques.Set({loads, std::nullopt}); !problem.empty()) {
    throw py::value_error(problem);
  }
  torques.Add(q, nullptr, tau);
}

void HeldForces::Hold(py::handle frame, py::handle vector, py::handle point, py::handle axes,
                      bool wrench) {
  const ExternalForce load =
      ReadLoad(arm_, frame, vector, point, axes, wrench ? 6 : 3, wrench ? "wrench" : "force");
  std::vector<ExternalForce> held;
  for (const ExternalForce& f : held_) {
    if (!SamePlace(f, load)) {
      held.push_back(f);
    }
  }
  if (!Zero(load)) {
    held.push_back(load);
  }
  held_ = std::move(held);
}

void HeldForces::Clear(py::handle frame) {
  if (frame.is_none()) {
    held_.clear();
    return;
  }
  const std::string name = TextArgument(frame, "frame");
  arm_.Frame(name);
  std::erase_if(held_, [&](const ExternalForce& f) { return f.frame == name; });
}

py::list HeldForces::List() const {
  py::list list;
  for (const ExternalForce& f : held_) {
    const double wrench[6] = {f.force[0],  f.force[1],  f.force[2],
                              f.moment[0], f.moment[1], f.moment[2]};
    list.append(
        py::make_tuple(f.frame, VectorArray(wrench, 6), VectorArray(f.point, 3), AxesName(f.axes)));
  }
  return list;
}

void HeldForces::ApplyTo(Stepper& stepper, const std::vector<ExternalForce>& extra) {
  ArmForces want{held_, std::nullopt};
  want.forces.insert(want.forces.end(), extra.begin(), extra.end());
  if (!(want == applied_)) {
    source_.Set(want);  // read and checked with the arm's frames
    applied_ = std::move(want);
  }
  source_.ApplyTo(stepper);
}

std::shared_ptr<ArmModel> PayloadArm(const ArmModel& arm, const Payload& payload) {
  return WithPayload(arm, py::str(payload.frame), py::float_(payload.mass),
                     py::make_tuple(payload.point[0], payload.point[1], payload.point[2]));
}

void BindForces(py::module_& m) {
  py::object robot = m.attr("Robot");
  robot.attr("with_payload") = py::cpp_function(
      [](const ArmModel& arm, py::handle frame, py::handle mass, py::handle point) {
        return WithPayload(arm, frame, mass, point);
      },
      py::name("with_payload"), py::is_method(robot), py::arg("frame"), py::arg("mass"),
      py::arg("point") = py::make_tuple(0.0, 0.0, 0.0),
      Doc("with_payload(frame, mass, point=(0, 0, 0)) -> Robot\n\nThis arm with a point mass of "
          "`mass` kg fixed to `frame` at `point` (in the frame's coordinates, m), as "
          "``velmoth-sim --payload FRAME:mass@px,py,pz``: the mass, centre of mass and inertia of "
          "the link the frame is fixed to become those of the link and the mass together, as if "
          "the file had that mass fixed there. The robot itself does not change; payloads add "
          "up. ValueError for a frame the arm lacks or one fixed to the base."));
}
