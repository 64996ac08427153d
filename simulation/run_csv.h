// The run format: one CSV row per tick, as velmoth-sim prints a run and the window records one.
// Header tick,time,q0..,qd0..,qdd0..,tau0..,kinetic,potential,total; every number written with
// %.17g, so that it reads back exactly and a recording can be compared with a batch run byte for
// byte.
#pragma once

#include <cstdint>
#include <string>

#include "matrix/matrix.h"
#include "robot/robot.h"

// With the balance, two more columns, work,dissipated: the robot's energy balance at the instant of
// its energies (see Robot).

// The header line of an arm with n joints, with its line end.
std::string RunCsvHeader(uint32_t n, bool balance = false);

// Appends the row of tick number `tick` (its time is tick x the time step): the arm's joint state
// and energies as the tick left them, the tick's torques (n x 1), and a line end.
void AppendRunCsvRow(std::string& line, uint64_t tick, const Robot& robot,
                     const matrix<double>& torque, bool balance = false);

// Appends value with %.17g, after the separator unless it is '\0'.
void AppendCsvNumber(std::string& line, double value, char separator);

// The columns of a controller's reference and error, after the run format's own (and before any
// frame's): qref0..,e0.. for a reference of the n joints, xref,yref,zref,ex,ey,ez for a frame's
// position (task). Added to a header or row line that ends in its line end, before it.
void AppendReferenceHeader(std::string& line, uint32_t size, bool task);
void AppendReferenceColumns(std::string& line, const double* reference, const double* error,
                            uint32_t size);
