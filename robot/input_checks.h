// The numbers every front end refuses, checked here once so that the panel, velmoth and
// velmoth-sim's command lines, the Python module, replays and the URDF loader refuse them alike,
// in the same words, before any tick: a friction coefficient must be finite and 0 or more (a
// negative one feeds energy in, and the step would be blamed for what follows), and a start must
// be finite. Each check returns "" or the problem, naming the value as the caller calls it.
#pragma once

#include <cstddef>
#include <string>

// "viscous must be finite and 0 or more, not -1".
std::string FrictionProblem(const std::string& what, double value);

// "q0 must be finite, not nan at index 1" for the first value that is not.
std::string StartProblem(const std::string& what, const double* values, std::size_t n);
