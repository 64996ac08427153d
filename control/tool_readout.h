// The teach panel's readout of a tool frame: its position and roll-pitch-yaw, as the window's and
// the page's panels show it.
#pragma once

#include <string>

#include "recursive/spatial.h"

// "tool0  x 0.512  y 0.000  z 0.800 m" and "roll 0.0°  pitch 90.0°  yaw 0.0°" on two lines: the
// frame's pose in the base frame, millimetres and tenths of degrees, never "-0".
std::string ToolReadout(const std::string& frame, const spatial::Transform& pose);

// value rounded to 1/scale, without a negative zero.
double ShownRounded(double value, double scale);
