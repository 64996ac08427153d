// velmoth.Kinematics: the poses of an arm's frames, their Jacobians and J-dot qd for one state, by
// the recursive engine's frame passes.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "python/bindings.h"
#include "python/convert.h"

namespace {

using recursive::FrameAxes;

// One state of an arm, its links placed (and with velocities, their accelerations at qdd = 0).
struct KinematicsState {
  VELMOTH_ZEROED_NEW

  KinematicsState(std::shared_ptr<ArmModel> armModel, std::vector<double> q_,
                  std::vector<double> qd_, bool velocities_)
      : arm(std::move(armModel)),
        data(arm->chain->Size()),
        q(std::move(q_)),
        qd(std::move(qd_)),
        velocities(velocities_) {
    recursive::Kinematics(*arm->chain, data, q.data(), velocities ? qd.data() : nullptr, {});
    recursive::Placements(*arm->chain, data, velocities ? qd.data() : nullptr);
  }

  const ArmModel& Arm() const {
    if (!arm) {
      ThrowUnmade("Kinematics");
    }
    return *arm;
  }

  const recursive::FrameModel& Frame(const std::string& name) const {
    return (*Arm().frames)[static_cast<std::size_t>(Arm().Frame(name))];
  }

  std::shared_ptr<ArmModel> arm;
  recursive::ChainData data;
  std::vector<double> q, qd;
  bool velocities = false;
};

FrameAxes AxesFromName(const std::string& axes) {
  if (axes == "base") {
    return FrameAxes::kBase;
  }
  if (axes == "frame") {
    return FrameAxes::kFrame;
  }
  throw py::value_error("axes must be 'base' or 'frame', not '" + axes + "'");
}

py::array_t<double> Pose(const KinematicsState& k, const std::string& name) {
  const spatial::Transform x = recursive::FramePose(k.data, k.Frame(name));
  py::array_t<double> pose({4, 4});
  auto a = pose.mutable_unchecked<2>();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      a(r, c) = x.r.m[r][c];
    }
    a(r, 3) = spatial::Get(x.p, r);
    a(3, r) = 0.0;
  }
  a(3, 3) = 1.0;
  return pose;
}

py::array_t<double> Jacobian(const KinematicsState& k, const std::string& name,
                             const std::string& axes) {
  const recursive::FrameModel& frame = k.Frame(name);
  const auto n = static_cast<py::ssize_t>(k.q.size());
  py::array_t<double> jacobian({static_cast<py::ssize_t>(6), n});
  recursive::FrameJacobian(*k.arm->chain, k.data, frame, AxesFromName(axes),
                           jacobian.mutable_data());
  return jacobian;
}

py::array_t<double> DriftAcceleration(const KinematicsState& k, const std::string& name,
                                      const std::string& axes) {
  const recursive::FrameModel& frame = k.Frame(name);
  if (!k.velocities) {
    throw py::value_error(
        "J-dot qd needs the joint velocities: velmoth.kinematics(robot, q, qd) with qd given");
  }
  double out[6];
  recursive::FrameDriftAcceleration(k.data, frame, AxesFromName(axes), out);
  return VectorArray(out, 6);
}

const char* const kKinematicsDoc =
    R"doc(Where an arm's frames are and how they move, for one state (q, qd).

Made by velmoth.kinematics(robot, q, qd=None) or Simulation.kinematics(),
by the recursive engine in O(n) per frame. Frames are named as
Robot.frame_names names them: every link of the URDF file, the frames fixed
to the moving links included (tool0, tcp, sensor frames), or the built-in
arm's 'base', 'link0', 'link1', ... and 'tool'.

pose(frame)        its 4x4 homogeneous transform in the base frame
position(frame)    its origin in the base frame, (3,)
poses              every frame's pose, a dict
jacobian(frame, axes='base')   the geometric Jacobian J, (6, n): rows 0-2
                   the linear velocity of the frame's origin, rows 3-5 its
                   angular velocity, v = J qd; axes='base' in the base
                   frame's axes, 'frame' in the frame's own
jdot_qd(frame, axes='base')    J-dot qd, (6,): the frame's acceleration at
                   qdd = 0 (the classical acceleration of its origin, then
                   the angular one), so that a = J qdd + jdot_qd; needs qd

For a task-space controller: with x the tool's position, J = jacobian(tool)
[:3] and b = jdot_qd(tool)[:3], qdd = pinv(J) (a_desired - b) gives the
tool the acceleration a_desired.)doc";

}  // namespace

int ArmModel::Frame(const std::string& name) const {
  Arm();
  const int f = recursive::FindFrame(*frames, name);
  if (f >= 0) {
    return f;
  }
  std::string known;
  for (std::size_t i = 0; i < frames->size() && i < 12; ++i) {
    known += (i == 0 ? "'" : ", '") + (*frames)[i].name + "'";
  }
  if (frames->size() > 12) {
    known += " and " + std::to_string(frames->size() - 12) + " more";
  }
  throw py::value_error("the arm has no frame '" + name + "'; its frames are " + known +
                        " (Robot.frame_names)");
}

py::object MakeKinematics(const std::shared_ptr<ArmModel>& arm, py::handle q, py::handle qd) {
  const std::size_t n = arm->Dof();
  std::vector<double> qs(n), qds(n);
  ReadJointVector(q, n, "q", qs.data());
  ReadJointVector(qd, n, "qd", qds.data());
  return py::cast(KinematicsState(arm, std::move(qs), std::move(qds), !qd.is_none()));
}

void BindKinematics(py::module_& m) {
  using K = KinematicsState;
  py::class_<K>(m, "Kinematics", Doc(kKinematicsDoc))
      .def("pose", &Pose, py::arg("frame"),
           Doc("pose(frame) -> numpy.ndarray\n\nThe frame's 4x4 homogeneous transform in the base "
               "frame: its axes as the columns of the rotation, its origin in the last column."))
      .def(
          "position",
          [](const K& k, const std::string& name) {
            const spatial::Vec3 p = recursive::FramePose(k.data, k.Frame(name)).p;
            const double xyz[3] = {p.x, p.y, p.z};
            return VectorArray(xyz, 3);
          },
          py::arg("frame"),
          Doc("position(frame) -> numpy.ndarray\n\nThe frame's origin in the base frame, (3,), m."))
      .def_property_readonly(
          "poses",
          [](const K& k) {
            py::dict poses;
            for (const recursive::FrameModel& frame : *k.Arm().frames) {
              poses[py::str(frame.name)] = Pose(k, frame.name);
            }
            return poses;
          },
          Doc("Every frame's 4x4 pose in the base frame, a dict by name in Robot.frame_names' "
              "order."))
      .def("jacobian", &Jacobian, py::arg("frame"), py::arg("axes") = "base",
           Doc("jacobian(frame, axes='base') -> numpy.ndarray\n\nThe frame's geometric Jacobian, "
               "(6, n): rows 0-2 map qd to the linear velocity of the frame's origin, rows 3-5 "
               "to its angular velocity; in the base frame's axes (axes='base') or in the "
               "frame's own (axes='frame'). A column is zero for a joint that does not move the "
               "frame."))
      .def("jdot_qd", &DriftAcceleration, py::arg("frame"), py::arg("axes") = "base",
           Doc("jdot_qd(frame, axes='base') -> numpy.ndarray\n\nJ-dot qd, (6,): the frame's "
               "acceleration when qdd = 0, the classical acceleration of its origin (rows 0-2) "
               "and its angular acceleration (rows 3-5), in the same axes as jacobian(frame, "
               "axes), so that the frame's acceleration is jacobian @ qdd + jdot_qd. Needs the "
               "velocities: ValueError when the Kinematics was made without qd."))
      .def_property_readonly(
          "q", [](const K& k) { return VectorArray(k.q.data(), k.q.size()); },
          Doc("The joint positions of this state, (n,)."))
      .def_property_readonly(
          "qd",
          [](const K& k) -> py::object {
            if (!k.velocities) {
              return py::none();
            }
            return VectorArray(k.qd.data(), k.qd.size());
          },
          Doc("The joint velocities of this state, (n,), or None when it was made without."))
      .def_property_readonly(
          "robot", [](const K& k) { return k.arm; }, Doc("The Robot whose state this is."))
      .def("__repr__", [](const K& k) {
        return "<velmoth.Kinematics: " + std::to_string(k.q.size()) + " joints, " +
               std::to_string(k.Arm().frames->size()) + " frames>";
      });

  m.def(
      "kinematics",
      [](const std::shared_ptr<ArmModel>& robot, py::handle q, py::handle qd) {
        robot->Arm();
        return MakeKinematics(robot, q, qd);
      },
      py::arg("robot"), py::arg("q") = py::none(), py::arg("qd") = py::none(),
      Doc("kinematics(robot, q=None, qd=None) -> Kinematics\n\nThe poses, Jacobians and (with qd) "
          "J-dot qd of the robot's frames in the state (q, qd) (None: zeros; without qd, no "
          "J-dot qd), by the recursive engine: k = velmoth.kinematics(arm, q, qd); "
          "k.pose('tool0'), k.jacobian('tool0'), k.jdot_qd('tool0')."));
}
