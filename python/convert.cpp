#include "python/convert.h"

#include "python/bindings.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>

#include "robot/input_checks.h"

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

// A NumPy type, looked up once and kept for the interpreter's life.
py::handle NumpyType(const char* module, const char* name) {
  return py::object(py::module_::import(module).attr(name)).release();
}

py::handle NdarrayType() {
  static const py::handle type = NumpyType("numpy", "ndarray");
  return type;
}

py::handle MaskedArrayType() {
  static const py::handle type = NumpyType("numpy.ma", "MaskedArray");
  return type;
}

py::handle IntegerType() {
  static const py::handle type = NumpyType("numpy", "integer");
  return type;
}

std::string Count(std::size_t n) {
  return std::to_string(n) + (n == 1 ? " element" : " elements");
}

// The values of a masked array without masked elements; ValueError naming the first masked one.
py::object Unmasked(py::handle value, const char* what) {
  const py::module_ ma = py::module_::import("numpy.ma");
  const py::object masked = ma.attr("getmaskarray")(value).attr("ravel")();
  if (py::bool_(masked.attr("any")())) {
    const long first = py::int_(masked.attr("argmax")());
    throw py::value_error(std::string(what) + " has masked elements (the first at index " +
                          std::to_string(first) + "); fill them first (.filled(value))");
  }
  return ma.attr("getdata")(value);
}

// Reads n finite numbers; each names what one element is ("one per moving joint").
void ReadVector(py::handle value, std::size_t n, const char* what, const char* each, double* out) {
  if (value.is_none()) {
    for (std::size_t i = 0; i < n; ++i) {
      out[i] = 0.0;
    }
    return;
  }
  const std::string numbers =
      std::string(what) + " must be a sequence of " + std::to_string(n) + " real numbers, not ";
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value)) {
    throw py::type_error(numbers + "text");
  }
  py::object source = py::reinterpret_borrow<py::object>(value);
  // A masked array would give its masked elements' values as if they were set.
  if (Py_TYPE(value.ptr()) != reinterpret_cast<PyTypeObject*>(NdarrayType().ptr()) &&
      PyObject_IsInstance(value.ptr(), MaskedArrayType().ptr()) == 1) {
    source = Unmasked(value, what);
  }
  // Numbers of any NumPy kind but complex ones (whose imaginary part a conversion would drop),
  // structured records, text and times; a float64 array is read as it is.
  const py::array any = py::array::ensure(source);
  const char kind = any ? any.dtype().kind() : 'O';
  const char* refused = kind == 'c'                  ? "complex numbers"
                        : kind == 'V'                ? "a structured array"
                        : kind == 'U' || kind == 'S' ? "text"
                        : kind == 'M' || kind == 'm' ? "dates or times"
                                                     : nullptr;
  if (refused != nullptr) {
    throw py::type_error(numbers + refused);
  }
  auto array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(source);
  if (!array) {
    throw py::type_error(numbers +
                         py::str(py::type::of(value).attr("__name__")).cast<std::string>());
  }
  if (array.ndim() != 1 || static_cast<std::size_t>(array.shape(0)) != n) {
    throw py::value_error(std::string(what) + " must have " + Count(n) + " (" + each +
                          "), not shape " + ShapeText(array));
  }
  const double* data = array.data();
  if (const std::string problem = StartProblem(what, data, n); !problem.empty()) {
    throw py::value_error(problem);
  }
  if (n > 0) {
    std::memcpy(out, data, n * sizeof(double));
  }
}

}  // namespace

void ReadJointVector(py::handle value, std::size_t n, const char* what, double* out) {
  ReadVector(value, n, what, "one per moving joint", out);
}

void ReadGravity(py::handle value, double* out) {
  ReadVector(value, 3, "gravity", "x, y, z", out);
}

void ReadNumbers(py::handle value, std::size_t n, const char* what, const char* each, double* out) {
  ReadVector(value, n, what, each, out);
}

namespace {

// A real number, not text: a float, an int or any other number type.
double AnyNumber(py::handle value, const char* what) {
  if (py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
      !PyNumber_Check(value.ptr())) {
    throw py::type_error(std::string(what) + " must be a number");
  }
  const double x = PyFloat_AsDouble(value.ptr());
  if (x == -1.0 && PyErr_Occurred()) {
    throw py::error_already_set();
  }
  return x;
}

}  // namespace

double FiniteNumber(py::handle value, const char* what) {
  const double x = AnyNumber(value, what);
  if (!std::isfinite(x)) {
    throw py::value_error(std::string(what) + " must be finite, not " + NumberText(x));
  }
  return x;
}

double FrictionNumber(py::handle value, const char* what) {
  const double x = AnyNumber(value, what);
  if (const std::string problem = FrictionProblem(what, x); !problem.empty()) {
    throw py::value_error(problem);
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

FrictionSource FrictionArgument(py::handle friction, bool panelGiven) {
  if (friction.is_none()) {
    return panelGiven ? FrictionSource::kUniform : FrictionSource::kFile;
  }
  const std::string name = TextArgument(friction, "friction");
  if (name != "file" && name != "uniform") {
    throw py::value_error("friction must be 'file' or 'uniform', not '" + name + "'");
  }
  return name == "file" ? FrictionSource::kFile : FrictionSource::kUniform;
}

const char* FrictionName(FrictionSource source) {
  return source == FrictionSource::kFile ? "file" : "uniform";
}

bool FlagArgument(py::handle value, const char* what) {
  if (!PyBool_Check(value.ptr())) {
    throw py::type_error(std::string(what) + " must be True or False");
  }
  return value.ptr() == Py_True;
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
  const bool integer =
      PyLong_Check(value.ptr()) || PyObject_IsInstance(value.ptr(), IntegerType().ptr()) == 1;
  if (!integer || PyBool_Check(value.ptr())) {
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
