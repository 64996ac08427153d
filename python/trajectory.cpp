#include "python/trajectory.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "dynamics/dynamics.h"
#include "python/bindings.h"
#include "python/convert.h"
#include "robot/robot.h"
#include "simulation/run_csv.h"

namespace {

py::array_t<double> Table(std::size_t rows, std::size_t n) {
  return py::array_t<double>({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(n)});
}

py::array_t<double> Column(std::size_t rows) {
  return py::array_t<double>(static_cast<py::ssize_t>(rows));
}

const char* const kTrajectoryDoc =
    R"doc(The rows of a run: what ``velmoth-sim run`` prints, as NumPy arrays.

One row per recorded tick (every `every`-th tick of Simulation.run). With m
rows and n moving joints: tick (m,) int64, time (m,) in s (tick x 0.01), q,
qd, qdd, tau (m, n), kinetic, potential, total, work, dissipated (m,) in J.
As in velmoth-sim, qdd is the tick's change of velocity over 0.01 s; tau is
the torque the tick applied (forward) or found (inverse); the energies are
those of the state at the start of a forward tick and at the end of an
inverse one. work and dissipated are the energy balance at the same instant:
the work of the torques and the energy friction took since the balance
started, so that between two rows of one balance
total[j] - total[i] = (work[j] - work[i]) - (dissipated[j] - dissipated[i]).
csv() gives the text velmoth-sim prints for the same rows, byte for byte
(csv(balance=True) that of velmoth-sim run --balance). Trajectories pickle.)doc";

}  // namespace

Trajectory::Trajectory(std::size_t rows_, std::size_t n_, std::string step_)
    : rows(rows_),
      n(n_),
      step(std::move(step_)),
      tick(static_cast<py::ssize_t>(rows_)),
      time(Column(rows_)),
      q(Table(rows_, n_)),
      qd(Table(rows_, n_)),
      qdd(Table(rows_, n_)),
      tau(Table(rows_, n_)),
      kinetic(Column(rows_)),
      potential(Column(rows_)),
      total(Column(rows_)),
      work(Column(rows_)),
      dissipated(Column(rows_)) {}

TrajectoryWriter::TrajectoryWriter(Trajectory& t)
    : tick(t.tick.mutable_data()),
      time(t.time.mutable_data()),
      q(t.q.mutable_data()),
      qd(t.qd.mutable_data()),
      qdd(t.qdd.mutable_data()),
      tau(t.tau.mutable_data()),
      kinetic(t.kinetic.mutable_data()),
      potential(t.potential.mutable_data()),
      total(t.total.mutable_data()),
      work(t.work.mutable_data()),
      dissipated(t.dissipated.mutable_data()) {}

std::string Trajectory::Csv(bool balance) const {
  if (!tick) {
    ThrowUnmade("Trajectory");
  }
  const auto joints = static_cast<uint32_t>(n);
  std::string text = RunCsvHeader(joints, balance);
  // The row code reads an arm's joint state and energies: a scratch arm carries each row.
  const std::unique_ptr<Robot> arm = MakeBuiltInRobot(static_cast<int>(n));
  matrix<double> torque(joints, 1);
  const auto ticks = tick.unchecked<1>();
  const auto qs = q.unchecked<2>(), qds = qd.unchecked<2>(), qdds = qdd.unchecked<2>(),
             taus = tau.unchecked<2>();
  const auto ks = kinetic.unchecked<1>(), ps = potential.unchecked<1>(), ws = work.unchecked<1>(),
             ds = dissipated.unchecked<1>();
  for (py::ssize_t r = 0; r < static_cast<py::ssize_t>(rows); ++r) {
    for (uint32_t i = 0; i < joints; ++i) {
      Link& link = *arm->links[i];
      link.q = qs(r, i);
      link.qd = qds(r, i);
      link.qdd = qdds(r, i);
      torque(i, 0) = taus(r, i);
    }
    arm->kineticEnergy = ks(r);
    arm->potentialEnergy = ps(r);
    arm->work = ws(r);
    arm->dissipated = ds(r);
    AppendRunCsvRow(text, static_cast<uint64_t>(ticks(r)), *arm, torque, balance);
  }
  return text;
}

void BindTrajectory(py::module_& m) {
  py::class_<Trajectory>(m, "Trajectory", Doc(kTrajectoryDoc))
      .def_readonly("tick", &Trajectory::tick, Doc("Tick numbers, (m,) int64."))
      .def_readonly("time", &Trajectory::time, Doc("Simulated time at the end of each tick, s."))
      .def_readonly("q", &Trajectory::q, Doc("Joint positions after each tick, (m, n): rad or m."))
      .def_readonly("qd", &Trajectory::qd, Doc("Joint velocities after each tick, (m, n)."))
      .def_readonly("qdd", &Trajectory::qdd,
                    Doc("Each tick's acceleration, (m, n): its change of velocity over 0.01 s."))
      .def_readonly("tau", &Trajectory::tau,
                    Doc("Each tick's joint torques (forces on sliding joints), (m, n): applied "
                        "(forward) or found (inverse)."))
      .def_readonly("kinetic", &Trajectory::kinetic, Doc("Kinetic energy, J, (m,)."))
      .def_readonly("potential", &Trajectory::potential, Doc("Potential energy, J, (m,)."))
      .def_readonly("total", &Trajectory::total, Doc("kinetic + potential, J, (m,)."))
      .def_readonly("work", &Trajectory::work,
                    Doc("The work of the joint torques since the energy balance started, at the "
                        "instant of the energies, J, (m,); 0 in inverse runs."))
      .def_readonly("dissipated", &Trajectory::dissipated,
                    Doc("The energy friction took since the energy balance started, at the "
                        "instant of the energies, J, (m,); 0 in inverse runs."))
      .def_readonly(
          "diverged_at", &Trajectory::divergedAt,
          Doc("The first tick of the run whose state or torques were not finite, or None."))
      .def_property_readonly(
          "dof", [](const Trajectory& t) { return t.n; }, Doc("The number of moving joints, n."))
      .def_readonly("step", &Trajectory::step,
                    Doc("The step the run started with, as velmoth-sim names it, e.g. "
                        "'recursive, dopri5, tolerance 1e-09' or 'closed-form, rk4 x 4'."))
      .def(
          "__len__", [](const Trajectory& t) { return t.rows; }, "The number of rows, m.")
      .def(
          "csv", [](const Trajectory& t, bool balance) { return t.Csv(balance); },
          py::arg("balance") = false,
          Doc("csv(balance=False) -> str\n\nThe rows as ``velmoth-sim run`` prints them: the "
              "header tick,time,q0..,qd0..,qdd0..,tau0..,kinetic,potential,total and a row per "
              "tick, every number written with %.17g by the project's own row code, so that it "
              "reads back exactly. A run from a new Simulation gives velmoth-sim's output byte for "
              "byte. balance=True adds the columns work,dissipated, as ``velmoth-sim run "
              "--balance``."))
      .def("__repr__",
           [](const Trajectory& t) {
             if (!t.tick) {
               ThrowUnmade("Trajectory");
             }
             return "<velmoth.Trajectory: " + std::to_string(t.rows) + " rows, " +
                    std::to_string(t.n) + " joints, " + t.step + ">";
           })
      .def(py::pickle(
          [](const Trajectory& t) {
            return py::make_tuple(t.n, t.step, t.tick, t.time, t.q, t.qd, t.qdd, t.tau, t.kinetic,
                                  t.potential, t.total, t.divergedAt, t.work, t.dissipated);
          },
          [](const py::tuple& s) {
            // Trajectories pickled before the balance was kept have 12 parts; their work and
            // dissipated energy were not recorded (NaN).
            if (s.size() != 14 && s.size() != 12) {
              throw py::value_error("not a pickled velmoth.Trajectory");
            }
            const auto n = s[0].cast<std::size_t>();
            auto tick = s[2].cast<py::array_t<int64_t>>();
            Trajectory t(static_cast<std::size_t>(tick.shape(0)), n, s[1].cast<std::string>());
            t.tick = tick;
            t.time = s[3].cast<py::array_t<double>>();
            t.q = s[4].cast<py::array_t<double>>();
            t.qd = s[5].cast<py::array_t<double>>();
            t.qdd = s[6].cast<py::array_t<double>>();
            t.tau = s[7].cast<py::array_t<double>>();
            t.kinetic = s[8].cast<py::array_t<double>>();
            t.potential = s[9].cast<py::array_t<double>>();
            t.total = s[10].cast<py::array_t<double>>();
            t.divergedAt = s[11];
            if (s.size() == 14) {
              t.work = s[12].cast<py::array_t<double>>();
              t.dissipated = s[13].cast<py::array_t<double>>();
            } else {
              for (py::array_t<double>* c : {&t.work, &t.dissipated}) {
                double* values = c->mutable_data();
                std::fill(values, values + c->size(), NAN);
              }
            }
            // csv() reads the arrays without bounds checks: they must fit one another.
            const auto rows = static_cast<py::ssize_t>(t.rows),
                       joints = static_cast<py::ssize_t>(n);
            bool fits = tick.ndim() == 1;
            for (const py::array_t<double>* c :
                 {&t.time, &t.kinetic, &t.potential, &t.total, &t.work, &t.dissipated}) {
              fits = fits && c->ndim() == 1 && c->shape(0) == rows;
            }
            for (const py::array_t<double>* c : {&t.q, &t.qd, &t.qdd, &t.tau}) {
              fits = fits && c->ndim() == 2 && c->shape(0) == rows && c->shape(1) == joints;
            }
            if (!fits) {
              throw py::value_error("not a pickled velmoth.Trajectory: its arrays do not fit");
            }
            return t;
          }));
}
