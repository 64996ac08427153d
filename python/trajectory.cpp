#include "python/trajectory.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "dynamics/dynamics.h"
#include "python/bindings.h"
#include "python/convert.h"
#include "robot/robot.h"
#include "simulation/frame_columns.h"
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

One row per recorded tick (every `every`-th tick of Simulation.run, and with
run(..., start=True) first the state it started from). With m rows and n
moving joints: tick (m,) int64, time (m,) in s (tick x 0.01), q, qd, qdd,
tau (m, n), kinetic, potential, total, work, dissipated (m,) in J. As in
velmoth-sim, tau is the torque the tick applied (forward) or found
(inverse); the energies are those of the state at the start of a forward
tick and at the end of an inverse one (of the row's own state in a start
row). work and dissipated are the energy balance at the same instant: the
work of the torques and the energy friction took since the balance
started, so that between two rows of one balance
total[j] - total[i] = (work[j] - work[i]) - (dissipated[j] - dissipated[i]).

qdd is NOT the acceleration at the row's state: it is the tick's mean
acceleration, its change of velocity over 0.01 s, which on a fast or stiff
arm can be far from it. run(..., exact_qdd=True) adds exact_qdd, the
accelerations the engine gives at each row's state under the row's torques.
run(..., frames=[...]) adds the chosen frames' positions: frames['tool0'] is
(m, 3). A run with a controller that follows a reference adds reference and
error (the reference less the positions; both zero in a start row taken
before the reference has started, which the next tick does), as velmoth-sim
run --reference. csv() gives the text velmoth-sim prints for the same rows (and
frames), byte for byte (csv(balance=True) that of velmoth-sim run
--balance); dataframe() a pandas DataFrame. Trajectories pickle.)doc";

}  // namespace

Trajectory::Trajectory(std::size_t rows_, std::vector<std::string> joints, std::string step_,
                       std::vector<std::string> frames, bool exact)
    : rows(rows_),
      n(joints.size()),
      step(std::move(step_)),
      jointNames(std::move(joints)),
      frameNames(std::move(frames)),
      tick(static_cast<py::ssize_t>(rows_)),
      time(Column(rows_)),
      q(Table(rows_, n)),
      qd(Table(rows_, n)),
      qdd(Table(rows_, n)),
      tau(Table(rows_, n)),
      kinetic(Column(rows_)),
      potential(Column(rows_)),
      total(Column(rows_)),
      work(Column(rows_)),
      dissipated(Column(rows_)),
      positions({static_cast<py::ssize_t>(rows_), static_cast<py::ssize_t>(frameNames.size()),
                 static_cast<py::ssize_t>(3)}) {
  if (exact) {
    exactQdd = Table(rows_, n);
  }
}

void Trajectory::KeepReference(std::size_t size, bool task) {
  reference = Table(rows, size);
  error = Table(rows, size);
  taskReference = task;
}

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
      dissipated(t.dissipated.mutable_data()),
      positions(t.positions.mutable_data()),
      exact(t.exactQdd.is_none() ? nullptr : t.exactQdd.cast<py::array_t<double>>().mutable_data()),
      reference(t.reference.is_none() ? nullptr
                                      : t.reference.cast<py::array_t<double>>().mutable_data()),
      error(t.error.is_none() ? nullptr : t.error.cast<py::array_t<double>>().mutable_data()) {}

std::string Trajectory::Csv(bool balance, bool withReference) const {
  if (!tick) {
    ThrowUnmade("Trajectory");
  }
  if (withReference && reference.is_none()) {
    throw py::value_error("csv(reference=True): the run had no controller's reference");
  }
  const auto joints = static_cast<uint32_t>(n);
  std::string text = RunCsvHeader(joints, balance);
  const py::array_t<double> refs =
      withReference ? reference.cast<py::array_t<double>>() : py::array_t<double>();
  const py::array_t<double> errors =
      withReference ? error.cast<py::array_t<double>>() : py::array_t<double>();
  const auto size = withReference ? static_cast<uint32_t>(refs.shape(1)) : 0u;
  if (withReference) {
    AppendReferenceHeader(text, size, taskReference);
  }
  AppendFrameHeader(text, frameNames);
  const std::size_t frames = frameNames.size();
  const double* const where = positions.data();
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
    if (withReference) {
      AppendReferenceColumns(text, refs.data() + r * size, errors.data() + r * size, size);
    }
    AppendFramePositions(text, where + 3 * frames * static_cast<std::size_t>(r), frames);
  }
  return text;
}

namespace {

py::object TrajectoryFrame(const Trajectory& t) {
  if (!t.tick) {
    ThrowUnmade("Trajectory");
  }
  const py::module_ pandas = py::module_::import("pandas");
  const py::object copy = py::module_::import("numpy").attr("array");
  py::dict columns;
  const auto column = [&](const std::string& name, const std::string& sub, py::object values) {
    columns[py::make_tuple(name, sub)] = copy(values);
  };
  const auto table = [&](const char* name, const py::object& values) {
    for (std::size_t i = 0; i < t.n; ++i) {
      column(name, t.jointNames[i],
             values[py::make_tuple(py::slice(py::none(), py::none(), py::none()), i)]);
    }
  };
  column("tick", "", t.tick);
  table("q", t.q);
  table("qd", t.qd);
  table("qdd", t.qdd);
  table("tau", t.tau);
  column("kinetic", "", t.kinetic);
  column("potential", "", t.potential);
  column("total", "", t.total);
  column("work", "", t.work);
  column("dissipated", "", t.dissipated);
  if (!t.exactQdd.is_none()) {
    table("exact_qdd", t.exactQdd);
  }
  if (!t.reference.is_none()) {
    const py::array_t<double> refs = t.reference.cast<py::array_t<double>>();
    for (const char* name : {"reference", "error"}) {
      const py::object values = name[0] == 'r' ? t.reference : t.error;
      for (py::ssize_t i = 0; i < refs.shape(1); ++i) {
        const std::string sub = t.taskReference ? std::string(1, static_cast<char>('x' + i))
                                                : t.jointNames[static_cast<std::size_t>(i)];
        column(name, sub, values[py::make_tuple(py::slice(py::none(), py::none(), py::none()), i)]);
      }
    }
  }
  for (std::size_t k = 0; k < t.frameNames.size(); ++k) {
    for (std::size_t c = 0; c < 3; ++c) {
      column(t.frameNames[k], std::string(1, static_cast<char>('x' + c)),
             t.positions[py::make_tuple(py::slice(py::none(), py::none(), py::none()), k, c)]);
    }
  }
  return pandas.attr("DataFrame")(
      columns, py::arg("index") = pandas.attr("Index")(copy(t.time), py::arg("name") = "time"));
}

}  // namespace

void BindTrajectory(py::module_& m) {
  py::class_<Trajectory>(m, "Trajectory", Doc(kTrajectoryDoc))
      .def_readonly("tick", &Trajectory::tick, Doc("Tick numbers, (m,) int64."))
      .def_readonly("time", &Trajectory::time, Doc("Simulated time at the end of each tick, s."))
      .def_readonly("q", &Trajectory::q, Doc("Joint positions after each tick, (m, n): rad or m."))
      .def_readonly("qd", &Trajectory::qd, Doc("Joint velocities after each tick, (m, n)."))
      .def_readonly("qdd", &Trajectory::qdd,
                    Doc("Each tick's mean acceleration, (m, n): its change of velocity over 0.01 "
                        "s, the run format's qdd; not the acceleration at the row's state (see "
                        "exact_qdd)."))
      .def_readonly("exact_qdd", &Trajectory::exactQdd,
                    Doc("The accelerations at each row's state, (m, n): M qdd = tau - C qd - G - F "
                        "solved exactly by the run's engine with the row's torques; None unless "
                        "run(..., exact_qdd=True)."))
      .def_property_readonly(
          "frames",
          [](const Trajectory& t) {
            if (!t.tick) {
              ThrowUnmade("Trajectory");
            }
            py::dict frames;
            const auto p = t.positions.unchecked<3>();
            for (std::size_t k = 0; k < t.frameNames.size(); ++k) {
              py::array_t<double> xyz(
                  {static_cast<py::ssize_t>(t.rows), static_cast<py::ssize_t>(3)});
              auto a = xyz.mutable_unchecked<2>();
              for (py::ssize_t r = 0; r < static_cast<py::ssize_t>(t.rows); ++r) {
                for (py::ssize_t c = 0; c < 3; ++c) {
                  a(r, c) = p(r, static_cast<py::ssize_t>(k), c);
                }
              }
              frames[py::str(t.frameNames[k])] = xyz;
            }
            return frames;
          },
          Doc("The positions of the frames run(..., frames=[...]) followed, in the base frame: a "
              "dict of (m, 3) arrays (x, y, z) by frame name; empty when it followed none."))
      .def_readonly("joint_names", &Trajectory::jointNames,
                    Doc("The moving joints' names, base first, as Robot.joint_names."))
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
      .def_readonly("reference", &Trajectory::reference,
                    Doc("The controller's reference at each row, (m, n) (TaskPD: its frame's "
                        "x*, (m, 3)), or None when the run had no controller with one."))
      .def_readonly("error", &Trajectory::error,
                    Doc("The reference less the row's joint positions (TaskPD: less the frame's "
                        "position), (m, n) or (m, 3), or None. A start row taken before the "
                        "reference has started (the next tick starts it) has zeros in both."))
      .def_readonly(
          "diverged_at", &Trajectory::divergedAt,
          Doc("The first tick of the run whose state or torques were not finite, or whose step "
              "made energy without work (a divergence though finite), or None."))
      .def_property_readonly(
          "dof", [](const Trajectory& t) { return t.n; }, Doc("The number of moving joints, n."))
      .def_readonly("step", &Trajectory::step,
                    Doc("The step the run started with, as velmoth-sim names it, e.g. "
                        "'recursive, dopri5, tolerance 1e-09' or 'closed-form, rk4 x 4'."))
      .def(
          "__len__", [](const Trajectory& t) { return t.rows; }, "The number of rows, m.")
      .def(
          "csv",
          [](const Trajectory& t, bool balance, bool reference) {
            return t.Csv(balance, reference);
          },
          py::arg("balance") = false, py::arg("reference") = false,
          Doc("csv(balance=False, reference=False) -> str\n\nThe rows as ``velmoth-sim run`` "
              "prints them: the "
              "header tick,time,q0..,qd0..,qdd0..,tau0..,kinetic,potential,total and a row per "
              "tick, every number written with %.17g by the project's own row code, so that it "
              "reads back exactly. A run from a new Simulation gives velmoth-sim's output byte for "
              "byte. balance=True adds the columns work,dissipated, as ``velmoth-sim run "
              "--balance``; reference=True the controller's reference and error, as "
              "``--reference``."))
      .def("dataframe", &TrajectoryFrame,
           Doc("dataframe() -> pandas.DataFrame\n\nThe rows as a pandas DataFrame indexed by "
               "time (s), with two levels of column names: ('tick', ''), ('q', JOINT), ('qd', "
               "JOINT), ('qdd', JOINT), ('tau', JOINT), ('kinetic', ''), ('potential', ''), "
               "('total', ''), ('work', ''), ('dissipated', ''), then ('exact_qdd', JOINT) and "
               "(FRAME, 'x'/'y'/'z') where the run "
               "kept them, JOINT and FRAME being the names of the arm's file (joint0, joint1, "
               "... for the built-in arm): df['q'] is a table of the joint positions, "
               "df['total'] a series. Needs pandas."))
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
            return py::make_tuple(t.jointNames, t.step, t.tick, t.time, t.q, t.qd, t.qdd, t.tau,
                                  t.kinetic, t.potential, t.total, t.divergedAt, t.frameNames,
                                  t.positions, t.exactQdd, t.work, t.dissipated, t.reference,
                                  t.error, t.taskReference);
          },
          [](const py::tuple& s) {
            // Trajectories pickled before the balance was kept have 15 parts; their work and
            // dissipated energy were not recorded (NaN). Before the reference was, 17.
            if (s.size() != 20 && s.size() != 17 && s.size() != 15) {
              throw py::value_error("not a pickled velmoth.Trajectory");
            }
            auto tick = s[2].cast<py::array_t<int64_t>>();
            Trajectory t(static_cast<std::size_t>(tick.shape(0)),
                         s[0].cast<std::vector<std::string>>(), s[1].cast<std::string>(),
                         s[12].cast<std::vector<std::string>>());
            const std::size_t n = t.n;
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
            t.positions = s[13].cast<py::array_t<double>>();
            if (!s[14].is_none()) {
              t.exactQdd = s[14].cast<py::array_t<double>>();
            }
            if (s.size() >= 17) {
              t.work = s[15].cast<py::array_t<double>>();
              t.dissipated = s[16].cast<py::array_t<double>>();
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
            fits = fits && t.positions.ndim() == 3 && t.positions.shape(0) == rows &&
                   t.positions.shape(1) == static_cast<py::ssize_t>(t.frameNames.size()) &&
                   t.positions.shape(2) == 3;
            if (s.size() == 20 && !s[17].is_none()) {
              const auto refs = s[17].cast<py::array_t<double>>();
              const auto errors = s[18].cast<py::array_t<double>>();
              t.taskReference = s[19].cast<bool>();
              const py::ssize_t size = t.taskReference ? 3 : joints;
              fits = fits && refs.ndim() == 2 && refs.shape(0) == rows && refs.shape(1) == size &&
                     errors.ndim() == 2 && errors.shape(0) == rows && errors.shape(1) == size;
              t.reference = refs;
              t.error = errors;
            }
            if (!fits) {
              throw py::value_error("not a pickled velmoth.Trajectory: its arrays do not fit");
            }
            return t;
          }));
}
