// velmoth.Robot: the built-in arm or the arm of a URDF file, as both programs build them.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include "python/bindings.h"
#include "python/convert.h"
#include "python/forces.h"
#include "urdf/urdf_loader.h"

namespace {

// A path as the loader takes it: str, bytes or os.PathLike, in the file system's encoding.
std::string PathText(py::handle path) {
  return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
}

// The tip argument: None (the chain ends where the tree parts) or a link's name.
std::string TipText(py::handle tip) {
  return tip.is_none() ? std::string() : TextArgument(tip, "tip");
}

// The joint names of a loaded arm (the file's names, or joint0, joint1, ... for the built-in arm),
// its chain and its frames.
void NameJoints(ArmModel& arm) {
  arm.jointNames.clear();
  for (std::size_t i = 0; i < arm.robot->links.size(); ++i) {
    arm.jointNames.push_back(JointName(*arm.robot, i));
  }
  arm.chain = std::make_shared<const recursive::ChainModel>(recursive::BuildChainModel(*arm.robot));
  arm.frames = std::make_shared<const std::vector<recursive::FrameModel>>(
      recursive::BuildFrameModels(*arm.robot));
}

// Text as bytes are, or str in UTF-8.
std::string DescriptionText(py::handle text) {
  if (py::isinstance<py::bytes>(text)) {
    return text.cast<std::string>();
  }
  if (py::isinstance<py::str>(text)) {
    return text.cast<std::string>();
  }
  throw py::type_error("the URDF text must be str or bytes");
}

std::shared_ptr<ArmModel> BuiltIn(int links) {
  if (links < 0 || links > kUrdfMaxMovingJoints) {
    throw py::value_error("links must be from 0 to " + std::to_string(kUrdfMaxMovingJoints) +
                          ", not " + std::to_string(links));
  }
  auto arm = std::make_shared<ArmModel>();
  arm->kind = ArmModel::Kind::kBuiltIn;
  arm->links = links;
  arm->robot = MakeBuiltInRobot(links);
  NameJoints(*arm);
  return arm;
}

// The loader's arm, or LoadError with its line. The loader switches the URDF parser's message
// output while it runs, so two loads must not overlap: the GIL, held throughout, sees to that.
std::shared_ptr<ArmModel> Loaded(std::shared_ptr<ArmModel> arm) {
  std::string error;
  const UrdfOptions options{arm->tip};
  std::unique_ptr<Robot> robot =
      arm->kind == ArmModel::Kind::kFile
          ? LoadUrdfRobot(arm->path, error, options, &arm->notices)
          : LoadUrdfRobotFromText(arm->text, arm->source, error, options, &arm->notices);
  if (!robot) {
    throw LoadError(error);
  }
  arm->robot = std::move(robot);
  NameJoints(*arm);
  return arm;
}

std::shared_ptr<ArmModel> FromFile(py::handle path, py::handle tip) {
  auto arm = std::make_shared<ArmModel>();
  arm->kind = ArmModel::Kind::kFile;
  arm->path = PathText(path);
  arm->source = arm->path;
  arm->tip = TipText(tip);
  return Loaded(std::move(arm));
}

std::shared_ptr<ArmModel> FromText(py::handle text, const std::string& source, py::handle tip) {
  auto arm = std::make_shared<ArmModel>();
  arm->kind = ArmModel::Kind::kText;
  arm->text = DescriptionText(text);
  arm->source = source;
  arm->tip = TipText(tip);
  return Loaded(std::move(arm));
}

// One value of every link, as an array.
py::array_t<double> LinkValues(const ArmModel& arm, double Link::*field) {
  std::vector<double> values;
  for (const auto& link : arm.Arm().links) {
    values.push_back((*link).*field);
  }
  return VectorArray(values.data(), values.size());
}

// A friction coefficient of every joint from its file, NaN where the file gives none.
py::array_t<double> FileFriction(const ArmModel& arm, double Link::*field) {
  std::vector<double> values;
  for (const auto& link : arm.Arm().links) {
    values.push_back(link->fileFriction ? (*link).*field : NAN);
  }
  return VectorArray(values.data(), values.size());
}

const char* const kRobotDoc = R"doc(An arm to simulate: the built-in arm or the arm of a URDF file.

Robot.builtin(links=6) is the built-in arm: a chain of identical 1 kg, 0.3 m
links turning about x (0 to 100 links), the arm of ``velmoth-sim --links N``.
Robot.from_urdf(path, tip=None) and Robot.from_urdf_text(text) load the arm of a URDF
robot description exactly as ``velmoth-sim --urdf FILE`` does: one chain of
the file's tree (to where it parts, or to ``tip``), the joints off it held
fixed, one element of every vector per moving joint. A file that cannot be
loaded raises velmoth.LoadError with the loader's line "FILE: problem".

A Robot never changes: every Simulation steps its own copy, so one Robot can
serve any number of simulations, on any number of threads. Robots pickle (as
how they were made; a robot of a file loads the file again when unpickled).)doc";

}  // namespace

void BindRobot(py::module_& m) {
  py::class_<ArmModel, std::shared_ptr<ArmModel>> robot(m, "Robot", Doc(kRobotDoc));
  robot
      .def_static("builtin", &BuiltIn, py::arg("links") = kBuiltInLinkCount,
                  Doc("builtin(links=6) -> Robot\n\nThe built-in arm with `links` links (0 to "
                      "100): gravity (0, 0, -9.81), viscous and Coulomb friction 0.1, the arm of "
                      "``velmoth-sim --links N``."))
      .def(py::init(&BuiltIn), py::arg("links") = kBuiltInLinkCount,
           Doc("Robot(links=6)\n\nThe same as Robot.builtin(links)."))
      .def_static(
          "from_urdf", &FromFile, py::arg("path"), py::arg("tip") = py::none(),
          Doc("from_urdf(path, tip=None) -> Robot\n\nThe arm of the URDF file at `path` "
              "(str, bytes or os.PathLike), as ``velmoth-sim --urdf FILE [--tip LINK]`` "
              "loads it: the chain from the root to where the tree parts (tip=None), or "
              "to the link `tip`. Raises LoadError (a ValueError) with the loader's line \"FILE: "
              "problem\" for a file it refuses. What the loader says of an arm it loads "
              "(joints held fixed, implausible inertias) is in `notices`."))
      .def_static(
          "from_urdf_text", &FromText, py::arg("text"), py::arg("source") = "<text>",
          py::arg("tip") = py::none(),
          Doc("from_urdf_text(text, source='<text>', tip=None) -> Robot\n\nThe arm of a URDF "
              "description held in `text` (str or bytes), as from_urdf loads a file; "
              "`source` names it in messages (\"SOURCE: problem\")."))
      .def_property_readonly(
          "name", [](const ArmModel& a) { return a.Arm().name; },
          Doc("The robot's name in its file; '' for the built-in arm."))
      .def_property_readonly(
          "dof", [](const ArmModel& a) { return a.Dof(); },
          Doc("The number of moving joints: the length of every joint vector."))
      .def_property_readonly(
          "link_count", [](const ArmModel& a) { return a.Dof(); },
          Doc("The number of links the arm moves, one per moving joint (= dof); the bodies "
              "fixed to them are part of them."))
      .def_property_readonly(
          "joint_names",
          [](const ArmModel& a) {
            a.Arm();
            return a.jointNames;
          },
          Doc("The moving joints' names, base first: the file's, or 'joint0', 'joint1', ... for "
              "the built-in arm."))
      .def_property_readonly(
          "is_builtin", [](const ArmModel& a) { return !a.FromFile(); },
          Doc("Whether this is the built-in arm (else it comes from a URDF description, file or "
              "text)."))
      .def_property_readonly(
          "frame_names",
          [](const ArmModel& a) {
            a.Arm();
            std::vector<std::string> names;
            for (const recursive::FrameModel& frame : *a.frames) {
              names.push_back(frame.name);
            }
            return names;
          },
          Doc("The names of the arm's frames, whose poses and Jacobians velmoth.kinematics gives: "
              "every link of the URDF file, the frames fixed to the moving links included (tool0, "
              "tcp, sensor frames), in the file's tree order; for the built-in arm 'base', "
              "'link0', 'link1', ... (each link's frame, where its joint turns) and 'tool' (the "
              "end of the last link)."))
      .def_property_readonly(
          "source",
          [](const ArmModel& a) -> py::object {
            a.Arm();
            if (!a.FromFile()) {
              return py::none();
            }
            return py::module_::import("os").attr("fsdecode")(py::bytes(a.source));
          },
          Doc("The file's path or the text's source name; None for the built-in arm."))
      .def_property_readonly(
          "tip",
          [](const ArmModel& a) -> py::object {
            a.Arm();
            if (a.tip.empty()) {
              return py::none();
            }
            return py::str(a.tip);
          },
          Doc("The link the chain was asked to end at; None where the loader chose the end."))
      .def_property_readonly(
          "notices",
          [](const ArmModel& a) {
            a.Arm();
            return a.notices;
          },
          Doc("The loader's notices, one line each (\"FILE: text\"): the joints off the chain that "
              "are held fixed, the links whose inertia no rigid body can have. Empty for the "
              "built-in arm."))
      .def_property_readonly(
          "masses",
          [](const ArmModel& a) {
            std::vector<double> masses;
            for (const auto& link : a.Arm().links) {
              masses.push_back(link->mass);
            }
            return VectorArray(masses.data(), masses.size());
          },
          Doc("The mass each moving joint moves, in kg (the bodies fixed to it included)."))
      .def_property_readonly(
          "lower_limits", [](const ArmModel& a) { return LinkValues(a, &Link::lower); },
          Doc("Each joint's lower limit from its file (rad, or m for a sliding joint), -inf "
              "where it has none (continuous joints, the built-in arm)."))
      .def_property_readonly(
          "upper_limits", [](const ArmModel& a) { return LinkValues(a, &Link::upper); },
          Doc("Each joint's upper limit from its file, inf where it has none."))
      .def_property_readonly(
          "efforts", [](const ArmModel& a) { return LinkValues(a, &Link::effort); },
          Doc("Each joint's effort from its file, the largest torque (N m) or force (N) its motor "
              "applies; inf where it has none."))
      .def_property_readonly(
          "joint_damping", [](const ArmModel& a) { return FileFriction(a, &Link::fileViscous); },
          Doc("Each joint's own viscous friction coefficient, its file's <dynamics damping>; nan "
              "where the file gives the joint no <dynamics> (it takes the Simulation's)."))
      .def_property_readonly(
          "joint_friction", [](const ArmModel& a) { return FileFriction(a, &Link::fileCoulomb); },
          Doc("Each joint's own Coulomb friction level, its file's <dynamics friction>; nan where "
              "the file gives the joint no <dynamics>."))
      .def_property_readonly(
          "joint_types",
          [](const ArmModel& a) {
            std::vector<std::string> types;
            for (const auto& link : a.Arm().links) {
              types.emplace_back(link->jointType == Prismatic ? "prismatic" : "revolute");
            }
            return types;
          },
          Doc("'revolute' (turns) or 'prismatic' (slides) for each moving joint."))
      .def_property_readonly(
          "default_engine", [](const ArmModel& a) { return EngineName(a.DefaultStep().engine); },
          Doc("The engine a Simulation of this arm takes unless told otherwise: 'closed-form' for "
              "the built-in arm, 'recursive' for an arm from a file (as both programs)."))
      .def_property_readonly(
          "default_integrator",
          [](const ArmModel& a) { return IntegratorName(a.DefaultStep().integrator); },
          Doc("The integrator a Simulation of this arm takes unless told otherwise: 'euler' for "
              "the built-in arm, 'dopri5' for an arm from a file."))
      .def(
          "__repr__",
          [](const ArmModel& a) {
            a.Arm();
            std::string text;
            if (!a.FromFile()) {
              text = "velmoth.Robot.builtin(links=" + std::to_string(a.links) + ")";
            } else {
              text = a.kind == ArmModel::Kind::kFile ? "velmoth.Robot.from_urdf("
                                                     : "velmoth.Robot.from_urdf_text(";
              text += py::repr(py::module_::import("os").attr("fsdecode")(py::bytes(a.source)))
                          .cast<std::string>();
              if (!a.tip.empty()) {
                text += ", tip=" + py::repr(py::str(a.tip)).cast<std::string>();
              }
              text += ")";
            }
            for (const Payload& p : a.payloads) {
              text +=
                  ".with_payload(" + py::repr(py::str(p.frame)).cast<std::string>() + ", " +
                  py::repr(py::float_(p.mass)).cast<std::string>() + ", " +
                  py::repr(py::make_tuple(p.point[0], p.point[1], p.point[2])).cast<std::string>() +
                  ")";
            }
            return a.FromFile() ? text + "  # " + std::to_string(a.Dof()) + " moving joints" : text;
          })
      .def(py::pickle(
          [](const ArmModel& a) {
            a.Arm();
            py::list payloads;
            for (const Payload& p : a.payloads) {
              payloads.append(py::make_tuple(p.frame, p.mass,
                                             py::make_tuple(p.point[0], p.point[1], p.point[2])));
            }
            return py::make_tuple(static_cast<int>(a.kind), a.links, py::bytes(a.path),
                                  py::bytes(a.text), py::bytes(a.source), a.tip, payloads);
          },
          [](const py::tuple& t) {
            if (t.size() != 6 && t.size() != 7) {
              throw py::value_error("not a pickled velmoth.Robot");
            }
            const int kind = t[0].cast<int>();
            std::shared_ptr<ArmModel> arm = kind == static_cast<int>(ArmModel::Kind::kBuiltIn)
                                                ? BuiltIn(t[1].cast<int>())
                                            : kind == static_cast<int>(ArmModel::Kind::kFile)
                                                ? FromFile(t[2], t[5])
                                                : FromText(t[3], t[4].cast<std::string>(), t[5]);
            // The payloads, as with_payload added them.
            for (std::size_t i = 0; t.size() == 7 && i < py::len(t[6]); ++i) {
              const py::tuple p = py::reinterpret_borrow<py::sequence>(t[6])[i].cast<py::tuple>();
              const py::tuple at = p[2].cast<py::tuple>();
              Payload payload{p[0].cast<std::string>(),
                              p[1].cast<double>(),
                              {at[0].cast<double>(), at[1].cast<double>(), at[2].cast<double>()}};
              arm = PayloadArm(*arm, payload);
            }
            return arm;
          }));
}
