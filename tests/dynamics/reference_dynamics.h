// The tick written directly in matrix operations, one new matrix per intermediate result: the
// yardstick for the bit-for-bit tests of the library's loops.
#pragma once

#include "dynamics/dynamics.h"

namespace reference {

EquationTerms EvaluateEquationTerms(Robot& robot);
matrix<double> ForwardDynamics(Robot& robot, const matrix<double>& torque);
matrix<double> InverseDynamics(Robot& robot);

}  // namespace reference
