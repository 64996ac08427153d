// Python values checked before they reach the simulation: joint vectors of the right length, finite
// numbers, engine and integrator names. Every refusal is a Python exception (TypeError for a value
// that is not numbers at all, ValueError for a wrong shape, length or value), never a matrix
// library error, which would end the process.
#pragma once

#include <cstddef>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "robot/robot.h"
#include "simulation/step_options.h"

namespace py = pybind11;

// Reads a vector of n finite real numbers (any sequence or array of shape (n,)) into out; None
// gives zeros. what names the argument in messages. Complex numbers, structured arrays, text and
// times are refused (TypeError), and so are masked arrays with masked elements (ValueError).
void ReadJointVector(py::handle value, std::size_t n, const char* what, double* out);

// The same for a gravity vector, (x, y, z).
void ReadGravity(py::handle value, double* out);
// The same for any vector of n numbers, each element named by each ("x, y, z").
void ReadNumbers(py::handle value, std::size_t n, const char* what, const char* each, double* out);

// A finite number, or TypeError / ValueError naming what.
double FiniteNumber(py::handle value, const char* what);
// A friction coefficient: a number, finite and 0 or more (FrictionProblem's message otherwise).
double FrictionNumber(py::handle value, const char* what);

// A new float64 array of shape (n,) holding values.
py::array_t<double> VectorArray(const double* values, std::size_t n);

// "closed-form" or "recursive"; "euler", "implicit", "rk4" or "dopri5"; else ValueError listing
// them.
EngineKind EngineFromName(const std::string& name);
IntegratorKind IntegratorFromName(const std::string& name);

// Which friction coefficients the joints take: the friction argument ('file' or 'uniform'), or
// when it is None, 'uniform' if the panel's coefficients were given (panelGiven), else 'file'.
FrictionSource FrictionArgument(py::handle friction, bool panelGiven);
const char* FrictionName(FrictionSource source);

// True or False, else TypeError naming what.
bool FlagArgument(py::handle value, const char* what);

// Substeps from 1 to kMaxSubsteps, else ValueError.
int CheckedSubsteps(long long substeps);

// A tolerance from kMinTolerance to kMaxTolerance, else TypeError or ValueError.
double CheckedTolerance(py::handle value);

// A str argument, or TypeError naming what.
std::string TextArgument(py::handle value, const char* what);

// An int argument, Python's or NumPy's (not a float or a bool), or TypeError naming what.
long long WholeArgument(py::handle value, const char* what);

// A docstring with every line longer than 79 characters wrapped at blanks, its continuation lines
// indented as it was; kept for the life of the module.
const char* Doc(const char* text);
