// velmoth.Terms: the equation of motion for one state, as velmoth-sim terms evaluates it.
#include <cstdint>
#include <memory>
#include <vector>

#include "dynamics/dynamics.h"
#include "python/bindings.h"
#include "python/convert.h"
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

const char* const kTermsDoc =
    R"doc(The equation of motion of one state.

tau = M(q) qdd + C(q, qd) qd + G(q) + F(qd).

Made by Simulation.terms(), with the numbers ``velmoth-sim terms`` prints,
bit for bit: M and C (n, n), G and F (n,), the energies kinetic and
potential, in closed form; qdd, the accelerations of the torques given, by
the closed form's damped pseudo-inverse, and tau, the torques of the
accelerations given; then qdd_engine and tau_engine, the same by `engine`,
solved exactly.)doc";

}  // namespace

Terms EvaluateTerms(const Robot& arm, EngineKind engineKind, const double* q, const double* qd,
                    const double* torqueIn, const double* accelIn) {
  // velmoth-sim terms, step by step, on a copy of the arm.
  const std::unique_ptr<Robot> robot = CloneRobot(arm);
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

  std::vector<double> qv(n), qdv(n), qddEngine(n), tauEngine(n), accelv(n), tauOut(n);
  for (uint32_t i = 0; i < n; ++i) {
    qv[i] = q[i];
    qdv[i] = qd[i];
    accelv[i] = accel(i, 0);
    tauEngine[i] = torque(i, 0) - FrictionTorque(*robot, qdv[i]);
  }
  const std::unique_ptr<Equation> engine = MakeEquation(engineKind, *robot);
  engine->Evaluate(*robot, qv.data(), qdv.data());
  engine->Solve(0.0, tauEngine.data(), nullptr, qddEngine.data());
  engine->Inverse(accelv.data(), tauEngine.data());
  for (uint32_t i = 0; i < n; ++i) {
    tauOut[i] = tauEngine[i] + FrictionTorque(*robot, qdv[i]);
  }

  out.engine = EngineName(engineKind);
  out.M = Square(terms.M);
  out.C = Square(terms.C);
  out.G = Vector(terms.G);
  out.F = Vector(terms.F);
  out.qdd = Vector(qdd);
  out.tau = Vector(tau);
  out.qddEngine = VectorArray(qddEngine.data(), n);
  out.tauEngine = VectorArray(tauOut.data(), n);
  return out;
}

void BindTerms(py::module_& m) {
  py::class_<Terms>(m, "Terms", Doc(kTermsDoc))
      .def_readonly("M", &Terms::M, Doc("The mass matrix, (n, n), symmetric."))
      .def_readonly("C", &Terms::C,
                    Doc("The Coriolis and centrifugal matrix, (n, n), from the Christoffel symbols "
                        "of M."))
      .def_readonly("G", &Terms::G, Doc("The gravity torques, (n,)."))
      .def_readonly("F", &Terms::F,
                    Doc("The friction torques, (n,): viscous qd + coulomb sign(qd), sign(0) = 0."))
      .def_readonly("kinetic", &Terms::kinetic, Doc("The kinetic energy 1/2 qd' M qd, J."))
      .def_readonly("potential", &Terms::potential, Doc("The potential energy, J."))
      .def_readonly("qdd", &Terms::qdd,
                    Doc("The accelerations of the torques given, by the closed form's damped "
                        "pseudo-inverse M'(M M' + 1e-8 I)^-1 (tau - C qd - G - F)."))
      .def_readonly("tau", &Terms::tau,
                    Doc("The torques of the accelerations given: M qdd + C qd + G + F."))
      .def_readonly("qdd_engine", &Terms::qddEngine,
                    Doc("The accelerations of the torques given by `engine`, solved exactly."))
      .def_readonly("tau_engine", &Terms::tauEngine,
                    Doc("The torques of the accelerations given by `engine`."))
      .def_readonly("engine", &Terms::engine,
                    Doc("The engine of qdd_engine and tau_engine: 'closed-form' or 'recursive'."))
      .def("__repr__", [](const Terms& t) {
        if (!t.G) {
          ThrowUnmade("Terms");
        }
        return "<velmoth.Terms: " + std::to_string(t.G.shape(0)) + " joints, " + t.engine + ">";
      });
}
