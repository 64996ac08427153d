#include "simulation/frame_columns.h"

#include "simulation/run_csv.h"

void AppendFrameHeader(std::string& line, const std::vector<std::string>& names) {
  if (names.empty()) {
    return;
  }
  line.pop_back();
  for (const std::string& name : names) {
    for (const char* axis : {".x", ".y", ".z"}) {
      line += ',';
      line += name;
      line += axis;
    }
  }
  line += '\n';
}

void AppendFramePositions(std::string& line, const double* positions, std::size_t frames) {
  if (frames == 0) {
    return;
  }
  line.pop_back();
  for (std::size_t k = 0; k < 3 * frames; ++k) {
    AppendCsvNumber(line, positions[k], ',');
  }
  line += '\n';
}
