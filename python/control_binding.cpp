// velmoth.Controller and its laws (Gravity, PD, ComputedTorque, TaskPD): settings that a
// Simulation's controller takes and evaluates in C++ at every state or sample of its step; and the
// references (Step, Quintic, Trapezoid, Sine) as functions of time.
#include "python/control_binding.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "control/trajectory.h"
#include "python/convert.h"

namespace {

// values of an unknown count: None gives none; a single number, where one is allowed, one.
std::vector<double> Values(py::handle value, const char* what, bool single) {
  if (value.is_none()) {
    return {};
  }
  if (single &&
      (PyFloat_Check(value.ptr()) || PyLong_Check(value.ptr()) ||
       PyObject_HasAttrString(value.ptr(), "__float__") == 1) &&
      !py::hasattr(value, "__len__")) {
    return {FiniteNumber(value, what)};
  }
  if (!py::hasattr(value, "__len__") || py::isinstance<py::str>(value)) {
    throw py::type_error(std::string(what) + " must be a sequence of real numbers" +
                         (single ? " or one number" : "") + ", not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
  }
  std::vector<double> out(py::len(value));
  ReadJointVector(value, out.size(), what, out.data());
  if (out.empty()) {
    throw py::value_error(std::string(what) + " must have at least one element");
  }
  return out;
}

double Positive(py::handle value, const char* what) {
  const double x = FiniteNumber(value, what);
  if (!(x > 0.0)) {
    throw py::value_error(std::string(what) + " must be above 0, not " +
                          py::str(py::float_(x)).cast<std::string>());
  }
  return x;
}

int RateArgument(py::handle rate) {
  if (py::isinstance<py::str>(rate) && rate.cast<std::string>() == "continuous") {
    return kContinuous;
  }
  const auto samples =
      RateNamed(py::isinstance<py::str>(rate) ? rate.cast<std::string>()
                                              : std::to_string(WholeArgument(rate, "rate")));
  if (!samples) {
    throw py::value_error(
        "rate must be 'continuous' or samples per second, 100 to 1000 in steps "
        "of 100, not " +
        py::repr(rate).cast<std::string>());
  }
  return *samples;
}

TrajectoryKind TrajectoryArgument(py::handle trajectory) {
  const std::string name = TextArgument(trajectory, "trajectory");
  const auto kind = TrajectoryNamed(name);
  if (!kind) {
    throw py::value_error("trajectory must be 'step', 'quintic', 'trapezoid' or 'sine', not '" +
                          name + "'");
  }
  return *kind;
}

py::object Array(const std::vector<double>& values) {
  if (values.empty()) {
    return py::none();
  }
  return VectorArray(values.data(), values.size());
}

// The reference's and the gains' settings every tracking law takes.
void Tracking(ControllerSettings& s, py::handle target, py::handle trajectory, py::handle duration,
              py::handle amplitude, py::handle period, py::handle kp, py::handle kd,
              py::handle frequency) {
  s.target = Values(target, "target", false);
  s.trajectory = TrajectoryArgument(trajectory);
  s.duration = duration.is_none() ? 0.0 : Positive(duration, "duration");
  s.amplitude = Values(amplitude, "amplitude", true);
  s.period = Positive(period, "period");
  s.kp = Values(kp, "kp", true);
  s.kd = Values(kd, "kd", true);
  s.frequency = Positive(frequency, "frequency");
}

void Common(ControllerSettings& s, py::handle rate, py::handle massError) {
  s.samples = RateArgument(rate);
  s.massError = FiniteNumber(massError, "mass_error");
}

const ControllerSettings& Made(const ControllerObject& c) {
  if (!c.made) {
    ThrowUnmade("Controller");
  }
  return c.settings;
}

std::string Number(double value) {
  return py::repr(py::float_(value)).cast<std::string>();
}

std::string ValuesText(const std::vector<double>& values) {
  std::string text = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    text += (i == 0 ? "" : ", ") + Number(values[i]);
  }
  return text + "]";
}

// What makes the settings again when evaluated with velmoth imported.
std::string Repr(const ControllerObject& c) {
  const ControllerSettings& s = Made(c);
  const char* const names[] = {"Controller", "Gravity", "PD", "ComputedTorque", "TaskPD"};
  std::string text = std::string("velmoth.") + names[static_cast<int>(s.kind)] + "(";
  std::string args;
  const auto add = [&](const std::string& arg) { args += (args.empty() ? "" : ", ") + arg; };
  if (Tracks(s.kind)) {
    if (!s.target.empty()) {
      add("target=" + ValuesText(s.target));
    }
    add(std::string("trajectory='") + TrajectoryName(s.trajectory) + "'");
    if (s.duration > 0.0) {
      add("duration=" + Number(s.duration));
    }
    if (!s.kp.empty()) {
      add("kp=" + ValuesText(s.kp));
    }
    if (!s.kd.empty()) {
      add("kd=" + ValuesText(s.kd));
    }
    if (!s.kn.empty()) {
      add("kn=" + ValuesText(s.kn));
    }
    if (!s.amplitude.empty()) {
      add("amplitude=" + ValuesText(s.amplitude));
    }
    if (s.period != kDefaultPeriod) {
      add("period=" + Number(s.period));
    }
    if (s.frequency != kDefaultFrequency) {
      add("frequency=" + Number(s.frequency));
    }
  }
  if (!s.frame.empty()) {
    add("frame=" + py::repr(py::str(s.frame)).cast<std::string>());
  }
  if ((s.kind == ControllerKind::kPd || s.kind == ControllerKind::kTaskPd) && !s.compensate) {
    add("compensate=False");
  }
  if (s.kind == ControllerKind::kComputedTorque && !s.modelFriction) {
    add("model_friction=False");
  }
  if (s.massError != 0.0) {
    add("mass_error=" + Number(s.massError));
  }
  add(s.samples == kContinuous ? std::string("rate='continuous'")
                               : "rate=" + std::to_string(100 * s.samples));
  return text + args + ")";
}

// The settings as a tuple and back: what pickling keeps.
py::tuple State(const ControllerObject& c) {
  const ControllerSettings& s = Made(c);
  return py::make_tuple(static_cast<int>(s.kind), s.samples, s.target,
                        static_cast<int>(s.trajectory), s.duration, s.amplitude, s.period,
                        s.frequency, s.kp, s.kd, s.kn, s.compensate, s.frame, s.massError,
                        s.modelFriction);
}

template <typename T>
T FromState(const py::tuple& t) {
  if (t.size() != 15) {
    throw py::value_error("not a pickled velmoth controller");
  }
  T c;
  ControllerSettings& s = c.settings;
  s.kind = static_cast<ControllerKind>(t[0].cast<int>());
  s.samples = t[1].cast<int>();
  s.target = t[2].cast<std::vector<double>>();
  s.trajectory = static_cast<TrajectoryKind>(t[3].cast<int>());
  s.duration = t[4].cast<double>();
  s.amplitude = t[5].cast<std::vector<double>>();
  s.period = t[6].cast<double>();
  s.frequency = t[7].cast<double>();
  s.kp = t[8].cast<std::vector<double>>();
  s.kd = t[9].cast<std::vector<double>>();
  s.kn = t[10].cast<std::vector<double>>();
  s.compensate = t[11].cast<bool>();
  s.frame = t[12].cast<std::string>();
  s.massError = t[13].cast<double>();
  s.modelFriction = t[14].cast<bool>();
  c.made = true;
  return c;
}

// A reference as Python holds it.
struct ReferenceObject {
  VELMOTH_ZEROED_NEW
  std::shared_ptr<const ReferenceTrajectory> path;

  const ReferenceTrajectory& Path() const {
    if (!path) {
      ThrowUnmade("reference");
    }
    return *path;
  }

  // (q, qd, qdd) at t, a number (arrays (n,)) or an array of times (arrays (len(t), n)).
  py::tuple At(py::handle t) const {
    const ReferenceTrajectory& p = Path();
    const auto n = static_cast<std::size_t>(p.Size());
    if (!py::hasattr(t, "__len__")) {
      std::vector<double> q(n), qd(n), qdd(n);
      p.At(FiniteNumber(t, "t"), q.data(), qd.data(), qdd.data());
      return py::make_tuple(VectorArray(q.data(), n), VectorArray(qd.data(), n),
                            VectorArray(qdd.data(), n));
    }
    std::vector<double> times(py::len(t));
    ReadJointVector(t, times.size(), "t", times.data());
    const auto rows = static_cast<py::ssize_t>(times.size());
    py::array_t<double> q({rows, static_cast<py::ssize_t>(n)}),
        qd({rows, static_cast<py::ssize_t>(n)}), qdd({rows, static_cast<py::ssize_t>(n)});
    for (std::size_t r = 0; r < times.size(); ++r) {
      p.At(times[r], q.mutable_data() + r * n, qd.mutable_data() + r * n,
           qdd.mutable_data() + r * n);
    }
    return py::make_tuple(q, qd, qdd);
  }
};

ReferenceObject MakeReference(TrajectoryKind kind, py::handle start, py::handle target,
                              py::handle duration, py::handle amplitude, py::handle period) {
  std::vector<double> to =
      Values(target, kind == TrajectoryKind::kSine ? "center" : "target", false);
  std::vector<double> from = to;
  if (!start.is_none()) {
    from = Values(start, "start", false);
    if (from.size() != to.size()) {
      throw py::value_error("start has " + std::to_string(from.size()) + " elements and target " +
                            std::to_string(to.size()) + "; they must have as many");
    }
  }
  std::vector<double> a = Values(amplitude, "amplitude", true);
  if (a.size() == 1) {
    a.assign(to.size(), a[0]);
  } else if (!a.empty() && a.size() != to.size()) {
    throw py::value_error("amplitude has " + std::to_string(a.size()) +
                          " elements for a center of " + std::to_string(to.size()));
  }
  const double p = period.is_none() ? kDefaultPeriod : Positive(period, "period");
  const double d = duration.is_none()
                       ? DefaultDuration(kind, from, to, std::vector<double>(to.size(), 1.0))
                       : Positive(duration, "duration");
  ReferenceObject reference;
  reference.path = std::make_shared<ReferenceTrajectory>(kind, from, to, d, a, p);
  return reference;
}

const char* const kControllerDoc = R"doc(A controller of a Simulation's joints, evaluated in C++.

Its law's torques add to the torques of step(...) and run(torque=...); no
Python runs per evaluation. Give it to Simulation(robot, controller=...), set
sim.controller (from the next tick on), or pass it to run(controller=...).
The laws, with the reference q* (x* for TaskPD), e = q* - q:

  Gravity()         tau = g(q): the arm floats
  PD(...)           tau = Kp e + Kd e' + g(q) (compensate=False leaves g out)
  ComputedTorque()  tau = M(q) (qdd* + Kd e' + Kp e) + C qd + g(q) + F(qd)
  TaskPD(...)       tau = J^T (Kx (x* - x) + Dx (xd* - xd)) + N(-Kn qd) + g(q)
                    on the position x of a frame (frame=, default the arm's
                    last), N leaving the frame where it is

The reference starts from the pose the arm is in at the next tick when the
controller is set (and when a new target or trajectory is, or the arm is put
in a pose from outside: q, qd, reset()): trajectory='step' (the target at
once), 'quintic' (rest to rest, least jerk) or 'trapezoid' (a trapezoidal
velocity profile) in `duration` seconds (default: from the distance at a
peak speed of 1 rad/s, 0.2 m/s, at least 0.5 s), or 'sine' (target +
amplitude sin(2 pi t / period)). target defaults to where the arm starts.
The default gains make every motion critically damped at `frequency`
(rad/s) with the model's inertia: PD Kp = M(q*) w^2, Kd = 2 M(q*) w;
ComputedTorque w^2 and 2 w; TaskPD the frame's inertia where the arm is.
kp, kd (and TaskPD's kn) given per joint (per axis), or one number for all,
are diagonal and constant. rate='continuous' evaluates the law at every
state the step evaluates; 100 to 1000 (samples per second, a divisor of the
0.01 s tick) holds its torque between samples. mass_error gives the model's
last link that many kg more (negative: less) than the arm's; ComputedTorque's
model_friction=False leaves friction out of its model.)doc";

}  // namespace

// A law that tracks a joint reference (PD, computed torque): the reference's arguments, one
// switch of its own (`flag`, true by default) and the arguments every law takes.
template <typename T>
py::class_<T, ControllerObject> JointTracker(py::module_& m, const char* name, const char* doc,
                                             ControllerKind kind, const char* flag,
                                             bool ControllerSettings::*member,
                                             const char* flagDoc) {
  py::class_<T, ControllerObject> cls(m, name, Doc(doc));
  cls.def(
         py::init([kind, flag, member](py::handle target, py::handle trajectory,
                                       py::handle duration, py::handle amplitude, py::handle period,
                                       py::handle kp, py::handle kd, py::handle frequency,
                                       py::handle switched, py::handle rate, py::handle massError) {
           T c;
           c.settings.kind = kind;
           Tracking(c.settings, target, trajectory, duration, amplitude, period, kp, kd, frequency);
           c.settings.*member = FlagArgument(switched, flag);
           Common(c.settings, rate, massError);
           c.made = true;
           return c;
         }),
         py::arg("target") = py::none(), py::kw_only(), py::arg("trajectory") = "quintic",
         py::arg("duration") = py::none(), py::arg("amplitude") = py::none(),
         py::arg("period") = kDefaultPeriod, py::arg("kp") = py::none(), py::arg("kd") = py::none(),
         py::arg("frequency") = kDefaultFrequency, py::arg(flag) = true,
         py::arg("rate") = "continuous", py::arg("mass_error") = 0.0)
      .def_property_readonly(
          flag, [member](const ControllerObject& c) { return Made(c).*member; }, Doc(flagDoc))
      .def(py::pickle([](const T& c) { return State(c); },
                      [](const py::tuple& t) { return FromState<T>(t); }));
  return cls;
}

void BindControl(py::module_& m) {
  using C = ControllerObject;
  py::class_<C>(m, "Controller", Doc(kControllerDoc))
      .def_property_readonly(
          "law", [](const C& c) { return std::string(ControllerName(Made(c).kind)); },
          Doc("'gravity', 'pd', 'computed-torque' or 'task-pd', as velmoth-sim --controller "
              "names it."))
      .def_property_readonly(
          "target", [](const C& c) { return Array(Made(c).target); },
          Doc("The target (n,) or a frame's position (3,); None: where the arm starts."))
      .def_property_readonly(
          "trajectory", [](const C& c) { return std::string(TrajectoryName(Made(c).trajectory)); },
          Doc("'step', 'quintic', 'trapezoid' or 'sine'."))
      .def_property_readonly(
          "duration",
          [](const C& c) {
            return Made(c).duration > 0.0 ? py::object(py::float_(c.settings.duration))
                                          : py::object(py::none());
          },
          Doc("The quintic's or trapezoid's duration, s; None: the default."))
      .def_property_readonly(
          "rate",
          [](const C& c) {
            return Made(c).samples == kContinuous ? py::object(py::str("continuous"))
                                                  : py::object(py::int_(100 * c.settings.samples));
          },
          Doc("'continuous', or the samples per second (100 to 1000)."))
      .def_property_readonly(
          "kp", [](const C& c) { return Array(Made(c).kp); }, Doc("The gains given, or None."))
      .def_property_readonly(
          "kd", [](const C& c) { return Array(Made(c).kd); }, Doc("The gains given, or None."))
      .def_property_readonly(
          "frequency", [](const C& c) { return Made(c).frequency; },
          Doc("The default gains' natural frequency, rad/s."))
      .def_property_readonly(
          "mass_error", [](const C& c) { return Made(c).massError; },
          Doc("How many kg more the model gives the last link than the arm has."))
      .def("__eq__",
           [](const C& a, py::handle b) {
             return py::isinstance<C>(b) && Made(a) == Made(b.cast<const C&>());
           })
      .def("__repr__", [](const C& c) { return Repr(c); });

  const auto tracking = [](auto& cls) {
    cls.def_property_readonly(
        "amplitude", [](const C& c) { return Array(Made(c).amplitude); },
        Doc("The sine's amplitude given, or None (0.2 rad, 0.02 m)."));
    cls.def_property_readonly(
        "period", [](const C& c) { return Made(c).period; }, Doc("The sine's period, s."));
  };

  py::class_<GravityObject, C>(m, "Gravity",
                               Doc("Gravity(*, rate='continuous', mass_error=0.0)\n\ntau = g(q) "
                                   "+ the torques typed: the arm floats where it is put."))
      .def(py::init([](py::handle rate, py::handle massError) {
             GravityObject c;
             c.settings.kind = ControllerKind::kGravity;
             Common(c.settings, rate, massError);
             c.made = true;
             return c;
           }),
           py::kw_only(), py::arg("rate") = "continuous", py::arg("mass_error") = 0.0)
      .def(py::pickle([](const GravityObject& c) { return State(c); },
                      [](const py::tuple& t) { return FromState<GravityObject>(t); }));

  auto pd = JointTracker<PdObject>(
      m, "PD",
      "PD(target=None, *, trajectory='quintic', duration=None, amplitude=None, period=2.0, "
      "kp=None, kd=None, frequency=10.0, compensate=True, rate='continuous', "
      "mass_error=0.0)\n\ntau = Kp (q* - q) + Kd (qd* - qd) + g(q): PD with gravity "
      "compensation (compensate=False: without, where the arm sags by Kp^-1 g).",
      ControllerKind::kPd, "compensate", &ControllerSettings::compensate, "Whether g(q) is added.");
  tracking(pd);

  auto ct = JointTracker<ComputedTorqueObject>(
      m, "ComputedTorque",
      "ComputedTorque(target=None, *, trajectory='quintic', duration=None, amplitude=None, "
      "period=2.0, kp=None, kd=None, frequency=10.0, model_friction=True, "
      "rate='continuous', mass_error=0.0)\n\ntau = M(q) (qdd* + Kd e' + Kp e) + C(q, qd) qd "
      "+ g(q) + F(qd), one Newton-Euler pass of the model: with the exact model, the error "
      "follows e'' + Kd e' + Kp e = 0 whatever the arm. mass_error and "
      "model_friction=False make the model wrong.",
      ControllerKind::kComputedTorque, "model_friction", &ControllerSettings::modelFriction,
      "Whether the model has the joints' friction.");
  tracking(ct);

  auto task = py::class_<TaskPdObject, C>(
      m, "TaskPD",
      Doc("TaskPD(target=None, *, frame=None, trajectory='quintic', duration=None, "
          "amplitude=None, period=2.0, kp=None, kd=None, kn=None, frequency=10.0, "
          "compensate=True, rate='continuous', mass_error=0.0)\n\nA spring and damper on the "
          "position of `frame` (default: the arm's last frame), through its Jacobian: tau = J^T "
          "(Kx (x* - x) + Dx (xd* - xd)) + N (-Kn qd) + g(q); target is x* in the base frame "
          "(3,), kp and kd per axis, kn per joint."));
  task.def(py::init([](py::handle target, py::handle frame, py::handle trajectory,
                       py::handle duration, py::handle amplitude, py::handle period, py::handle kp,
                       py::handle kd, py::handle kn, py::handle frequency, py::handle compensate,
                       py::handle rate, py::handle massError) {
             TaskPdObject c;
             c.settings.kind = ControllerKind::kTaskPd;
             Tracking(c.settings, target, trajectory, duration, amplitude, period, kp, kd,
                      frequency);
             if (!c.settings.target.empty() && c.settings.target.size() != 3) {
               throw py::value_error("target must be a position, 3 numbers, not " +
                                     std::to_string(c.settings.target.size()));
             }
             c.settings.kn = Values(kn, "kn", true);
             c.settings.frame = frame.is_none() ? "" : TextArgument(frame, "frame");
             c.settings.compensate = FlagArgument(compensate, "compensate");
             Common(c.settings, rate, massError);
             c.made = true;
             return c;
           }),
           py::arg("target") = py::none(), py::kw_only(), py::arg("frame") = py::none(),
           py::arg("trajectory") = "quintic", py::arg("duration") = py::none(),
           py::arg("amplitude") = py::none(), py::arg("period") = kDefaultPeriod,
           py::arg("kp") = py::none(), py::arg("kd") = py::none(), py::arg("kn") = py::none(),
           py::arg("frequency") = kDefaultFrequency, py::arg("compensate") = true,
           py::arg("rate") = "continuous", py::arg("mass_error") = 0.0)
      .def_property_readonly(
          "frame",
          [](const C& c) {
            return Made(c).frame.empty() ? py::object(py::none())
                                         : py::object(py::str(c.settings.frame));
          },
          Doc("The frame moved, or None: the arm's last."))
      .def_property_readonly(
          "compensate", [](const C& c) { return Made(c).compensate; },
          Doc("Whether g(q) is added."))
      .def(py::pickle([](const TaskPdObject& c) { return State(c); },
                      [](const py::tuple& t) { return FromState<TaskPdObject>(t); }));
  tracking(task);

  // The references.
  using R = ReferenceObject;
  const char* const callDoc =
      "__call__(t) -> (q, qd, qdd)\n\nThe reference's position, velocity and acceleration at "
      "time t (s) since it started: arrays (n,) for a number t, (len(t), n) for an array.";
  py::class_<R>(m, "Reference",
                Doc("A reference the controllers follow, as a function of time: "
                    "Step(target), Quintic(start, target, duration=None), Trapezoid(start, "
                    "target, duration=None), Sine(center, amplitude=0.2, period=2.0). Each is "
                    "called with t: ref(t) -> (q, qd, qdd)."))
      .def("__call__", &R::At, py::arg("t"), Doc(callDoc))
      .def_property_readonly(
          "duration", [](const R& r) { return r.Path().Duration(); },
          Doc("The quintic's or trapezoid's duration, s (the default: the largest distance at "
              "a peak speed of 1 per second, at least 0.5 s)."))
      .def_property_readonly(
          "kind", [](const R& r) { return std::string(TrajectoryName(r.Path().Kind())); },
          Doc("'step', 'quintic', 'trapezoid' or 'sine'."))
      .def("__repr__", [](const R& r) {
        return std::string("<velmoth.Reference: ") + TrajectoryName(r.Path().Kind()) + " of " +
               std::to_string(r.Path().Size()) + ">";
      });
  m.def(
      "Step",
      [](py::handle target) {
        return MakeReference(TrajectoryKind::kStep, py::none(), target, py::none(), py::none(),
                             py::none());
      },
      py::arg("target"), Doc("Step(target) -> Reference\n\nThe target from the start, at rest."));
  m.def(
      "Quintic",
      [](py::handle start, py::handle target, py::handle duration) {
        return MakeReference(TrajectoryKind::kQuintic, start, target, duration, py::none(),
                             py::none());
      },
      py::arg("start"), py::arg("target"), py::arg("duration") = py::none(),
      Doc("Quintic(start, target, duration=None) -> Reference\n\nFrom start to target along "
          "s(u) = 10 u^3 - 15 u^4 + 6 u^5, u = t / duration: rest to rest with no acceleration "
          "at either end, the path of least jerk; at the target after it."));
  m.def(
      "Trapezoid",
      [](py::handle start, py::handle target, py::handle duration) {
        return MakeReference(TrajectoryKind::kTrapezoid, start, target, duration, py::none(),
                             py::none());
      },
      py::arg("start"), py::arg("target"), py::arg("duration") = py::none(),
      Doc("Trapezoid(start, target, duration=None) -> Reference\n\nFrom start to target with a "
          "trapezoidal velocity: a constant acceleration for a third of the duration, the "
          "cruising speed 1.5 (target - start) / duration for a third, braking for the last."));
  m.def(
      "Sine",
      [](py::handle center, py::handle amplitude, py::handle period) {
        return MakeReference(TrajectoryKind::kSine, py::none(), center, py::none(), amplitude,
                             period);
      },
      py::arg("center"), py::arg("amplitude") = kDefaultAmplitude,
      py::arg("period") = kDefaultPeriod,
      Doc("Sine(center, amplitude=0.2, period=2.0) -> Reference\n\ncenter + amplitude sin(2 pi "
          "t / period), amplitude one number or one per element."));
}

ControllerSettings CheckedController(py::handle controller, const ArmModel& arm) {
  if (controller.is_none()) {
    return ControllerSettings{};
  }
  if (!py::isinstance<ControllerObject>(controller)) {
    throw py::type_error(
        "controller must be a velmoth.Controller (Gravity, PD, ComputedTorque, "
        "TaskPD) or None, not " +
        py::str(py::type::of(controller).attr("__name__")).cast<std::string>());
  }
  ControllerSettings s = Made(controller.cast<const ControllerObject&>());
  const std::size_t n = arm.Dof();
  const std::size_t size = s.kind == ControllerKind::kTaskPd ? 3 : n;
  const auto check = [](const std::vector<double>& values, std::size_t count, bool single,
                        const char* what) {
    if (!values.empty() && values.size() != count && !(single && values.size() == 1)) {
      throw py::value_error(std::string(what) + " has " + std::to_string(values.size()) +
                            " elements; the arm's controller takes " + std::to_string(count) +
                            (single ? " (or one for all)" : ""));
    }
  };
  check(s.target, size, false, "target");
  check(s.amplitude, size, true, "amplitude");
  check(s.kp, size, true, "kp");
  check(s.kd, size, true, "kd");
  check(s.kn, n, true, "kn");
  if (!s.frame.empty()) {
    arm.Frame(s.frame);  // ValueError naming the frames there are
  }
  return s;
}

py::object ControllerObjectOf(const ControllerSettings& s) {
  const auto made = [&](auto c) {
    c.settings = s;
    c.made = true;
    return py::cast(std::move(c));
  };
  switch (s.kind) {
    case ControllerKind::kGravity:
      return made(GravityObject{});
    case ControllerKind::kPd:
      return made(PdObject{});
    case ControllerKind::kComputedTorque:
      return made(ComputedTorqueObject{});
    case ControllerKind::kTaskPd:
      return made(TaskPdObject{});
    case ControllerKind::kTorque:
      break;
  }
  return py::none();
}
