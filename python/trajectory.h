// velmoth.Trajectory: the rows of a run, the columns of velmoth-sim run as NumPy arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "python/bindings.h"

namespace py = pybind11;

struct Trajectory {
  VELMOTH_ZEROED_NEW

  // Arrays of `rows` rows for an arm with these joints, with the positions of these frames and,
  // if exact, the accelerations at each row's state; made with the GIL held.
  Trajectory(std::size_t rows, std::vector<std::string> joints, std::string step,
             std::vector<std::string> frames = {}, bool exact = false);

  std::size_t rows = 0;
  std::size_t n = 0;
  std::string step;  // "recursive, rk4 x 2", as velmoth-sim names the step
  std::vector<std::string> jointNames, frameNames;
  py::array_t<int64_t> tick;
  py::array_t<double> time, q, qd, qdd, tau, kinetic, potential, total, work, dissipated;
  py::array_t<double> positions;       // (rows, frames, 3)
  py::object exactQdd = py::none();    // (rows, n) or None
  py::object divergedAt = py::none();  // the first tick whose state was not finite

  // The velmoth-sim run text of these rows: header and one row each, by the project's own row code;
  // with the balance, as velmoth-sim run --balance prints them.
  std::string Csv(bool balance = false) const;
};

// Where a run writes row r, with the GIL released: plain pointers into the arrays.
struct TrajectoryWriter {
  explicit TrajectoryWriter(Trajectory& t);

  int64_t* tick;
  double *time, *q, *qd, *qdd, *tau, *kinetic, *potential, *total, *work, *dissipated;
  double* positions;  // 3 per frame and row
  double* exact;      // null unless the accelerations at each row's state are kept
};
