// The columns a run adds for the frames it follows: NAME.x, NAME.y, NAME.z of each, after the run
// format's own columns (run_csv.h), in the base frame, with %.17g. A name that holds a comma, a
// quote or a line end is quoted as CSV quotes it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Adds the frames' columns to a header or row line that ends in its line end, before it.
void AppendFrameHeader(std::string& line, const std::vector<std::string>& names);
void AppendFramePositions(std::string& line, const double* positions, std::size_t frames);
