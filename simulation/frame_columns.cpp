#include "simulation/frame_columns.h"

#include "simulation/run_csv.h"

namespace {

// A header field as CSV readers take it back: a name that holds a comma, a quote or a line end is
// put between quotes, its quotes doubled.
void AppendField(std::string& line, const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) {
    line += field;
    return;
  }
  line += '"';
  for (char c : field) {
    line += c;
    if (c == '"') {
      line += '"';
    }
  }
  line += '"';
}

}  // namespace

void AppendFrameHeader(std::string& line, const std::vector<std::string>& names) {
  if (names.empty()) {
    return;
  }
  line.pop_back();
  for (const std::string& name : names) {
    for (const char* axis : {".x", ".y", ".z"}) {
      line += ',';
      AppendField(line, name + axis);
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
