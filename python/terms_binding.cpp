// velmoth.Terms: the equation of motion for one state, as velmoth-sim terms evaluates it.
#include <cstdint>
#include <memory>
#include <vector>

#include "dynamics/dynamics.h"
#include "python/bindings.h"
#include "python/convert.h"
#include "python/forces.h"
#include "simulation/equation.h"
#include "simulation/integrators.h"

namespace {

py::array_t<double> Square(const matrix<double>& m) {
  const py::ssize_t n = m.RowCount();
  py::array_t<double> array({n, static_cast<py::ssize_t>(m.ColCount())});
  auto a = array.mutable_unchecked<2>();
  for (uint32_t r = 0; r < m.RowCount(); ++r) {
    for (uint32_t c = 0; c < m.ColCount(); ++c) {
      a(r, c) = m(r, c);
    }
  }
  return array;
}

py::array_t<double> Vector(const matrix<double>& m) {
  py::array_t<double> array(static_cast<py::ssize_t>(m.RowCount()));
  auto a = array.mutable_unchecked<1>();
  for (uint32_t r = 0; r < m.RowCount(); ++r) {
    a(r) = m(r, 0);
  }
  return array;
}

// The engine's exact accelerations of the torques `torque` (friction taken off first), as
// velmoth-sim terms finds qdd_engine.
void EngineForward(Robot& robot, EngineKind kind, const double* q, const double* qd,
                   const double* torque, double* qdd) {
  const std::size_t n = robot.links.size();
  std::vector<double> net(n);
  for (std::size_t i = 0; i < n; ++i) {
    net[i] = torque[i] - FrictionTorque(robot, i, qd[i]);
  }
  const std::unique_ptr<Equation> engine = MakeEquation(kind, robot);
  engine->Evaluate(robot, q, qd);
  engine->Solve(nullptr, net.data(), nullptr, qdd);
}

// The engine's torques of the accelerations `accel`, friction added, as velmoth-sim terms finds
// tau_engine.
void EngineInverse(Robot& robot, EngineKind kind, const double* q, const double* qd,
                   const double* accel, double* tau) {
  const std::size_t n = robot.links.size();
  const std::unique_ptr<Equation> engine = MakeEquation(kind, robot);
  engine->Evaluate(robot, q, qd);
  engine->Inverse(accel, tau);
  for (std::size_t i = 0; i < n; ++i) {
    tau[i] += FrictionTorque(robot, i, qd[i]);
  }
}

const char* const kTermsDoc =
    R"doc(The equation of motion of one state.

tau = M(q) qdd + C(q, qd) qd + G(q) + F(qd).

Made by velmoth.terms() and Simulation.terms(), with the numbers
``velmoth-sim terms`` prints, bit for bit: M and C (n, n), G and F (n,), the
energies kinetic and potential, in closed form; qdd, the exact accelerations
of the torques given, and tau, the torques of the accelerations given, both
by `engine` (velmoth-sim's qdd_engine and tau_engine). qdd_damped is what the
closed form's Euler tick integrates instead of the accelerations: its damped
pseudo-inverse, which can be far from them on arms with light links; and
tau_closed_form the torques summed as the closed form's inverse tick sums
them (velmoth-sim's qdd and tau).)doc";

}  // namespace

Terms EvaluateTerms(std::unique_ptr<Robot> robot, EngineKind engineKind, const double* q,
                    const double* qd, const double* torqueIn, const double* accelIn,
                    const double* external) {
  // velmoth-sim terms, step by step, on the copy.
  const auto n = static_cast<uint32_t>(robot->links.size());
  matrix<double> torque(n, 1), accel(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    robot->links[i]->q = q[i];
    robot->links[i]->qd = qd[i];
    robot->links[i]->qdd = 0.0;
    torque(i, 0) = torqueIn[i];
    accel(i, 0) = accelIn[i];
  }
  const EquationTerms terms = EvaluateEquationTerms(*robot);
  Terms out;
  out.kinetic = robot->kineticEnergy;
  out.potential = robot->potentialEnergy;
  const matrix<double> qdd = ForwardDynamics(*robot, torque);
  for (uint32_t i = 0; i < n; ++i) {
    robot->links[i]->qdd = accel(i, 0);
  }
  const matrix<double> tau = InverseDynamics(*robot);

  std::vector<double> qddEngine(n), tauEngine(n), pushed(torqueIn, torqueIn + n), ext(n, 0.0);
  if (external != nullptr) {
    for (uint32_t i = 0; i < n; ++i) {
      ext[i] = external[i];
      pushed[i] = torqueIn[i] + external[i];
    }
  }
  EngineForward(*robot, engineKind, q, qd, pushed.data(), qddEngine.data());
  EngineInverse(*robot, engineKind, q, qd, accelIn, tauEngine.data());
  for (uint32_t i = 0; i < n && external != nullptr; ++i) {
    tauEngine[i] -= external[i];  // what the joints must add to the loads
  }

  out.engine = EngineName(engineKind);
  out.M = Square(terms.M);
  out.C = Square(terms.C);
  out.G = Vector(terms.G);
  out.F = Vector(terms.F);
  out.qddDamped = Vector(qdd);
  out.tauClosedForm = Vector(tau);
  out.qdd = VectorArray(qddEngine.data(), n);
  out.tau = VectorArray(tauEngine.data(), n);
  out.tauExternal = VectorArray(ext.data(), n);
  return out;
}

namespace {

// A copy of robot's arm with the friction and gravity given (None: the arm's own), its joints
// taking their friction as `friction` says (FrictionArgument).
std::unique_ptr<Robot> ArmWith(const ArmModel& robot, py::handle viscous, py::handle coulomb,
                               py::handle gravity, py::handle friction) {
  std::unique_ptr<Robot> arm = CloneRobot(robot.Arm());
  arm->frictionSource = FrictionArgument(friction, !viscous.is_none() || !coulomb.is_none());
  if (!viscous.is_none()) {
    arm->viscousFriction = FrictionNumber(viscous, "viscous");
  }
  if (!coulomb.is_none()) {
    arm->coulombFriction = FrictionNumber(coulomb, "coulomb");
  }
  if (!gravity.is_none()) {
    double g[3];
    ReadGravity(gravity, g);
    for (uint32_t k = 0; k < 3; ++k) {
      arm->gravity(k, 0) = g[k];
    }
  }
  return arm;
}

EngineKind EngineOf(const ArmModel& robot, py::handle engine) {
  return engine.is_none() ? robot.DefaultStep().engine
                          : EngineFromName(TextArgument(engine, "engine"));
}

// One joint vector of the arm's length, checked.
std::vector<double> Joints(const ArmModel& robot, py::handle value, const char* what) {
  std::vector<double> v(robot.Dof());
  ReadJointVector(value, v.size(), what, v.data());
  return v;
}

// The joint torques of the loads of a wrench argument at q; empty without loads.
std::vector<double> External(const ArmModel& robot, py::handle wrench,
                             const std::vector<double>& q) {
  const std::vector<ExternalForce> loads = ReadLoads(wrench, robot, "wrench");
  if (loads.empty()) {
    return {};
  }
  std::vector<double> tau(q.size());
  LoadTorques(robot, loads, q.data(), tau.data());
  return tau;
}

Terms TermsFunction(const ArmModel& robot, py::handle q, py::handle qd, py::handle torque,
                    py::handle accel, py::handle engine, py::handle viscous, py::handle coulomb,
                    py::handle gravity, py::handle friction, py::handle wrench) {
  const auto qs = Joints(robot, q, "q"), qds = Joints(robot, qd, "qd");
  const auto t = Joints(robot, torque, "torque"), a = Joints(robot, accel, "accel");
  const EngineKind kind = EngineOf(robot, engine);
  const std::vector<double> ext = External(robot, wrench, qs);
  return EvaluateTerms(ArmWith(robot, viscous, coulomb, gravity, friction), kind, qs.data(),
                       qds.data(), t.data(), a.data(), ext.empty() ? nullptr : ext.data());
}

// The engine of a function with euler_tick: the closed form's own dynamics exist only in it.
EngineKind EulerTickEngine(const ArmModel& robot, py::handle engine, bool eulerTick) {
  if (!eulerTick) {
    return EngineOf(robot, engine);
  }
  if (!engine.is_none() && EngineOf(robot, engine) != EngineKind::kClosedForm) {
    throw py::value_error(
        "euler_tick=True is the closed form's own dynamics: engine must be "
        "'closed-form' or None");
  }
  return EngineKind::kClosedForm;
}

// A copy of the arm in the state (q, qd) with the accelerations qdd on its links.
void PlaceState(Robot& arm, const std::vector<double>& q, const std::vector<double>& qd,
                const std::vector<double>& qdd) {
  for (std::size_t i = 0; i < q.size(); ++i) {
    arm.links[i]->q = q[i];
    arm.links[i]->qd = qd[i];
    arm.links[i]->qdd = qdd[i];
  }
}

py::array_t<double> ForwardFunction(const ArmModel& robot, py::handle q, py::handle qd,
                                    py::handle tau, py::handle engine, bool eulerTick,
                                    py::handle viscous, py::handle coulomb, py::handle gravity,
                                    py::handle friction, py::handle wrench) {
  const auto qs = Joints(robot, q, "q"), qds = Joints(robot, qd, "qd");
  auto t = Joints(robot, tau, "tau");
  const std::vector<double> ext = External(robot, wrench, qs);
  for (std::size_t i = 0; i < ext.size(); ++i) {
    t[i] += ext[i];
  }
  const EngineKind kind = EulerTickEngine(robot, engine, eulerTick);
  const std::unique_ptr<Robot> arm = ArmWith(robot, viscous, coulomb, gravity, friction);
  const std::size_t n = qs.size();
  if (!eulerTick) {
    std::vector<double> qdd(n);
    EngineForward(*arm, kind, qs.data(), qds.data(), t.data(), qdd.data());
    return VectorArray(qdd.data(), n);
  }
  PlaceState(*arm, qs, qds, std::vector<double>(n, 0.0));
  matrix<double> torque(static_cast<uint32_t>(n), 1);
  for (std::size_t i = 0; i < n; ++i) {
    torque(static_cast<uint32_t>(i), 0) = t[i];
  }
  return Vector(ForwardDynamics(*arm, torque));
}

py::array_t<double> InverseFunction(const ArmModel& robot, py::handle q, py::handle qd,
                                    py::handle qdd, py::handle engine, bool eulerTick,
                                    py::handle viscous, py::handle coulomb, py::handle gravity,
                                    py::handle friction, py::handle wrench) {
  const auto qs = Joints(robot, q, "q"), qds = Joints(robot, qd, "qd");
  const auto a = Joints(robot, qdd, "qdd");
  const EngineKind kind = EulerTickEngine(robot, engine, eulerTick);
  const std::unique_ptr<Robot> arm = ArmWith(robot, viscous, coulomb, gravity, friction);
  const std::size_t n = qs.size();
  const std::vector<double> ext = External(robot, wrench, qs);
  std::vector<double> tau(n);
  if (eulerTick) {
    PlaceState(*arm, qs, qds, a);
    const matrix<double> closed = InverseDynamics(*arm);
    for (std::size_t i = 0; i < n; ++i) {
      tau[i] = closed(static_cast<uint32_t>(i), 0);
    }
  } else {
    EngineInverse(*arm, kind, qs.data(), qds.data(), a.data(), tau.data());
  }
  // What the joints add to the loads.
  for (std::size_t i = 0; i < ext.size(); ++i) {
    tau[i] -= ext[i];
  }
  return VectorArray(tau.data(), n);
}

// The friction and gravity arguments of the functions, as Simulation takes them, and the loads
// from outside.
#define VELMOTH_ARM_SETTINGS                                                              \
  py::arg("viscous") = py::none(), py::arg("coulomb") = py::none(),                       \
  py::arg("gravity") = py::make_tuple(0.0, 0.0, -9.81), py::arg("friction") = py::none(), \
  py::arg("wrench") = py::none()

}  // namespace

void BindTerms(py::module_& m) {
  py::class_<Terms>(m, "Terms", Doc(kTermsDoc))
      .def_readonly("M", &Terms::M, Doc("The mass matrix, (n, n), symmetric."))
      .def_readonly("C", &Terms::C,
                    Doc("The Coriolis and centrifugal matrix, (n, n), from the Christoffel symbols "
                        "of M."))
      .def_readonly("G", &Terms::G, Doc("The gravity torques, (n,)."))
      .def_readonly(
          "F", &Terms::F,
          Doc("The friction torques, (n,): viscous_i qd + coulomb_i sign(qd), sign(0) = 0, "
              "with the coefficients each joint takes."))
      .def_readonly("kinetic", &Terms::kinetic, Doc("The kinetic energy 1/2 qd' M qd, J."))
      .def_readonly("potential", &Terms::potential, Doc("The potential energy, J."))
      .def_readonly("qdd", &Terms::qdd,
                    Doc("The accelerations of the torques given, (n,): M qdd = torque - C qd - G - "
                        "F solved exactly by `engine` (velmoth-sim terms' qdd_engine)."))
      .def_readonly("tau", &Terms::tau,
                    Doc("The torques of the accelerations given, (n,): M accel + C qd + G + F by "
                        "`engine` (velmoth-sim terms' tau_engine)."))
      .def_readonly("qdd_damped", &Terms::qddDamped,
                    Doc("Not the accelerations: the closed form's damped pseudo-inverse "
                        "M'(M M' + 1e-8 I)^-1 (torque - C qd - G - F), what its Euler tick "
                        "integrates (velmoth-sim terms' qdd). On light links it can be far from "
                        "qdd, even in sign."))
      .def_readonly("tau_closed_form", &Terms::tauClosedForm,
                    Doc("The torques of the accelerations given, M accel + C qd + G + F summed as "
                        "the closed form's inverse Euler tick sums them (velmoth-sim terms' tau)."))
      .def_readonly("tau_external", &Terms::tauExternal,
                    Doc("The joint torques of the loads of `wrench`, (n,): J_p^T F + J_w^T N "
                        "(zeros without)."))
      .def_readonly("engine", &Terms::engine,
                    Doc("The engine of qdd and tau: 'closed-form' or 'recursive'."))
      .def(
          "__iter__",
          [](const Terms& t) {
            if (!t.G) {
              ThrowUnmade("Terms");
            }
            return py::iter(py::make_tuple(t.M, t.C, t.G, t.F));
          },
          Doc("Unpacks as M, C, G, F = terms."))
      .def("__repr__", [](const Terms& t) {
        if (!t.G) {
          ThrowUnmade("Terms");
        }
        return "<velmoth.Terms: " + std::to_string(t.G.shape(0)) + " joints, " + t.engine + ">";
      });

  m.def(
      "terms",
      [](const ArmModel& robot, py::handle q, py::handle qd, py::handle torque, py::handle accel,
         py::handle engine, py::handle viscous, py::handle coulomb, py::handle gravity,
         py::handle friction, py::handle wrench) {
        return TermsFunction(robot, q, qd, torque, accel, engine, viscous, coulomb, gravity,
                             friction, wrench);
      },
      py::arg("robot"), py::arg("q") = py::none(), py::arg("qd") = py::none(),
      py::arg("torque") = py::none(), py::arg("accel") = py::none(), py::kw_only(),
      py::arg("engine") = py::none(), VELMOTH_ARM_SETTINGS,
      Doc("terms(robot, q=None, qd=None, torque=None, accel=None, *, engine=None, viscous=None, "
          "coulomb=None, gravity=(0, 0, -9.81), friction=None, wrench=None) -> Terms\n\n"
          "The equation of motion tau = M qdd + C qd + G + F of `robot` in the state (q, qd) "
          "(None: zeros), as ``velmoth-sim terms`` evaluates it, bit for bit: M, C, G, F and the "
          "energies in closed form; unpacks as M, C, G, F = velmoth.terms(robot, q, qd). qdd and "
          "tau are the exact accelerations of `torque` and the torques of `accel` by `engine` "
          "(None: the robot's default engine); qdd_damped is the closed form's damped "
          "pseudo-inverse, what its Euler tick integrates. viscous and coulomb (None: 0.1) and "
          "friction as Simulation takes them: F takes the coefficients each joint takes. wrench: "
          "loads from outside, one (frame, vector[, point[, axes]]) or a list of them (vector: "
          "a force (3,) in N, or a force and a moment (6,); point in the frame's coordinates, m; "
          "axes 'world' or 'frame'); their joint torques J_p^T F + J_w^T N are tau_external, "
          "which qdd takes with `torque` and tau leaves to them (tau + tau_external is what the "
          "state needs)."));
  m.def(
      "forward_dynamics",
      [](const ArmModel& robot, py::handle q, py::handle qd, py::handle tau, py::handle engine,
         bool eulerTick, py::handle viscous, py::handle coulomb, py::handle gravity,
         py::handle friction, py::handle wrench) {
        return ForwardFunction(robot, q, qd, tau, engine, eulerTick, viscous, coulomb, gravity,
                               friction, wrench);
      },
      py::arg("robot"), py::arg("q"), py::arg("qd"), py::arg("tau"), py::kw_only(),
      py::arg("engine") = py::none(), py::arg("euler_tick") = false, VELMOTH_ARM_SETTINGS,
      Doc("forward_dynamics(robot, q, qd, tau, *, engine=None, euler_tick=False, viscous=None, "
          "coulomb=None, gravity=(0, 0, -9.81), friction=None, wrench=None) -> numpy.ndarray\n\n"
          "The joint accelerations (n,) that the torques `tau` cause in the state (q, qd), with "
          "the loads of `wrench` (as terms() takes them): "
          "M qdd = tau + J_p^T F + J_w^T N - C qd - G - F solved exactly by `engine` "
          "('closed-form' or 'recursive'; "
          "None: the robot's default), Terms.qdd. euler_tick=True gives "
          "what the closed form's Euler tick integrates instead, the damped pseudo-inverse "
          "M'(M M' + 1e-8 I)^-1 (Terms.qdd_damped), which is not the accelerations."));
  m.def(
      "inverse_dynamics",
      [](const ArmModel& robot, py::handle q, py::handle qd, py::handle qdd, py::handle engine,
         bool eulerTick, py::handle viscous, py::handle coulomb, py::handle gravity,
         py::handle friction, py::handle wrench) {
        return InverseFunction(robot, q, qd, qdd, engine, eulerTick, viscous, coulomb, gravity,
                               friction, wrench);
      },
      py::arg("robot"), py::arg("q"), py::arg("qd"), py::arg("qdd"), py::kw_only(),
      py::arg("engine") = py::none(), py::arg("euler_tick") = false, VELMOTH_ARM_SETTINGS,
      Doc("inverse_dynamics(robot, q, qd, qdd, *, engine=None, euler_tick=False, viscous=None, "
          "coulomb=None, gravity=(0, 0, -9.81), friction=None, wrench=None) -> numpy.ndarray\n\n"
          "The joint torques (n,) that give the accelerations `qdd` in the state (q, qd), with "
          "the loads of `wrench` acting too (as terms() takes them): "
          "M qdd + C qd + G + F - J_p^T F - J_w^T N by `engine` ('closed-form' or 'recursive'; "
          "None: the robot's "
          "default), Terms.tau; euler_tick=True sums them as the closed "
          "form's inverse Euler tick does (Terms.tau_closed_form). With qdd a desired "
          "acceleration, the computed-torque law."));
}
