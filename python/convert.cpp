#include "python/convert.h"

#include "python/bindings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>

namespace {

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < a.ndim(); ++d) {
    text += (d == 0 ? "" : ", ") + std::to_string(a.shape(d));
  }
  return text + (a.ndim() == 1 ? ",)" : ")");
}

std::string NumberText(double value) {
  return py::str(py::float_(value)).cast<std::string>();
}

}  // namespace

void ReadJointVector(py::handle value, std::size_t n, const char* what, double* out) {
  if (value.is_none()) {
    for (std::size_t i = 0; i < n; ++i) {
      out[i] = 0.0;
    }
    return;
  }
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)) {
    throw py::type_error(std::string(what) + " must be a sequence of " + std::to_string(n) +
                         " numbers, not text");
  }
  // A float64 array is read as it is; anything else is converted by NumPy first.
  auto array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(value);
  if (!array) {
    throw py::type_error(std::string(what) + " must be a sequence of " + std::to_string(n) +
                         " numbers, not " +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
  }
  if (array.ndim() != 1 || static_cast<std::size_t>(array.shape(0)) != n) {
    throw py::value_error(std::string(what) + " must have " + std::to_string(n) +
                          (n == 1 ? " element" : " elements") +
                          " (one per moving joint), not shape " + ShapeText(array));
  }
  const double* data = array.data();
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(data[i])) {
      throw py::value_error(std::string(what) + " must be finite, not " + NumberText(data[i]) +
                            " at index " + std::to_string(i));
    }
  }
  if (n > 0) {
    std::memcpy(out, data, n * sizeof(double));
  }
}

double FiniteNumber(py::handle value, const char* what) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
      !PyNumber_Check(value.ptr())) {
    throw py::type_error(std::string(what) + " must be a number");
  }
  const double x = PyFloat_AsDouble(value.ptr());
  if (x == -1.0 && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  if (!std::isfinite(x)) {
    throw py::value_error(std::string(what) + " must be finite, not " + NumberText(x));
  }
  return x;
}

py::array_t<double> VectorArray(const double* values, std::size_t n) {
  py::array_t<double> array(static_cast<py::ssize_t>(n));
  if (n > 0) {
    std::memcpy(array.mutable_data(), values, n * sizeof(double));
  }
  return array;
}

EngineKind EngineFromName(const std::string& name) {
  if (const auto engine = EngineNamed(name)) {
    return *engine;
  }
  std::string names;
  for (EngineKind kind : kEngineKinds) {
    names += std::string(names.empty() ? "'" : " or '") + EngineName(kind) + "'";
  }
  throw py::value_error("engine must be " + names + ", not '" + name + "'");
}

IntegratorKind IntegratorFromName(const std::string& name) {
  if (const auto integrator = IntegratorNamed(name)) {
    return *integrator;
  }
  std::string names;
  for (IntegratorKind kind : kIntegratorKinds) {
    names += std::string(names.empty() ? "'" : ", '") + IntegratorName(kind) + "'";
  }
  throw py::value_error("integrator must be one of " + names + ", not '" + name + "'");
}

int CheckedSubsteps(long long substeps) {
  if (substeps < 1 || substeps > kMaxSubsteps) {
    throw py::value_error("substeps must be from 1 to " + std::to_string(kMaxSubsteps) + ", not " +
                          std::to_string(substeps));
  }
  return static_cast<int>(substeps);
}

double CheckedTolerance(py::handle value) {
  const double tolerance = FiniteNumber(value, "tolerance");
  if (!(tolerance >= kMinTolerance && tolerance <= kMaxTolerance)) {
    throw py::value_error("tolerance must be from " + ToleranceText(kMinTolerance) + " to " +
                          ToleranceText(kMaxTolerance) + ", not " + NumberText(tolerance));
  }
  return tolerance;
}

void ThrowUnmade(const char* type) {
  throw py::type_error(std::string("this ") + type +
                       " was made without __init__; make one with velmoth." + type + "(...)");
}

std::string TextArgument(py::handle value, const char* what) {
  if (!py::isinstance<py::str>(value)) {
    throw py::type_error(std::string(what) + " must be a str");
  }
  return value.cast<std::string>();
}

long long WholeArgument(py::handle value, const char* what) {
  if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) {
    throw py::type_error(std::string(what) + " must be an int");
  }
  const long long whole = PyLong_AsLongLong(value.ptr());
  if (whole == -1 && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  return whole;
}

const char* Doc(const char* text) {
  constexpr std::size_t kWidth = 79;
  static std::deque<std::string> docs;
  std::string out;
  std::string_view rest = text;
  for (bool first = true; first || !rest.empty(); first = false) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    const std::size_t indent = std::min(line.find_first_not_of(' '), line.size());
    while (line.size() > kWidth) {
      const std::size_t cut = line.rfind(' ', kWidth);
      if (cut == std::string_view::npos || cut <= indent) {
        break;
      }
      out.append(line.substr(0, cut)).append("\n").append(indent, ' ');
      line.remove_prefix(cut + 1);
    }
    out.append(line);
    if (end != std::string_view::npos) {
      out += '\n';
    }
  }
  return docs.emplace_back(std::move(out)).c_str();
}
