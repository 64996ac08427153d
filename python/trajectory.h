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
  // With a controller's reference of `size` components (the joints', or a frame's x, y, z when
  // task): the arrays reference and error, (rows, size).
  void KeepReference(std::size_t size, bool task);

  std::size_t rows = 0;
  std::size_t n = 0;
  std::string step;  // "recursive, rk4 x 2", as velmoth-sim names the step
  std::vector<std::string> jointNames, frameNames;
  py::array_t<int64_t> tick;
  py::array_t<double> time, q, qd, qdd, tau, kinetic, potential, total, work, dissipated;
  py::array_t<double> positions;       // (rows, frames, 3)
  py::object exactQdd = py::none();    // (rows, n) or None
  py::object divergedAt = py::none();  // the first tick whose state was not finite
  // The controller's reference and error at each row, (rows, size), or None; task: of a frame's
  // position.
  py::object reference = py::none(), error = py::none();
  bool taskReference = false;

  // The velmoth-sim run text of these rows: header and one row each, by the project's own row code;
  // with the balance, as velmoth-sim run --balance prints them, and with the reference as
  // --reference does.
  std::string Csv(bool balance = false, bool reference = false) const;
};

// Where a run writes row r, with the GIL released: plain pointers into the arrays.
struct TrajectoryWriter {
  explicit TrajectoryWriter(Trajectory& t);

  int64_t* tick;
  double *time, *q, *qd, *qdd, *tau, *kinetic, *potential, *total, *work, *dissipated;
  double* positions;          // 3 per frame and row
  double* exact;              // null unless the accelerations at each row's state are kept
  double *reference, *error;  // null unless a controller's reference is kept
};
