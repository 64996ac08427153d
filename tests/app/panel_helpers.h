// What the panel tests compare with: the arm's joint state as one vector, and the row that
// velmoth-sim prints for the same run. VELMOTH_SIM names the velmoth-sim program.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "matrix/matrix.h"
#include "robot/robot.h"
#include "simulation/text_fields.h"

namespace panel_test {

using Vec = std::vector<double>;

inline const std::string kSixZeros = "     0,      0,      0,      0,      0,      0, ";

inline Vec Column(const matrix<double>& m) {
  Vec v;
  for (uint32_t i = 0; i < m.RowCount(); ++i) {
    v.push_back(m(i, 0));
  }
  return v;
}

// The joint state in velmoth-sim's order: every q, then every qd, then every qdd.
inline Vec State(const Robot& arm) {
  Vec state;
  for (double Link::*field : {&Link::q, &Link::qd, &Link::qdd}) {
    for (const auto& link : arm.links) {
      state.push_back((*link).*field);
    }
  }
  return state;
}

// The panel's text of the six numbers of a velmoth-sim row from column `first` on.
inline std::string RowText(const Vec& row, std::size_t first) {
  matrix<double> v(6);
  for (uint32_t i = 0; i < 6; ++i) {
    v(i, 0) = row.at(first + i);
  }
  return VectorText(v);
}

// The numbers of the row that velmoth-sim prints after its header, empty when it fails.
inline Vec SimRow(const std::string& arguments) {
  FILE* pipe = popen((VELMOTH_SIM " run " + arguments).c_str(), "r");
  Vec row;
  char header[512];
  double x = 0.0;
  if (pipe != nullptr && std::fgets(header, sizeof header, pipe) != nullptr) {
    while (std::fscanf(pipe, "%lf%*c", &x) == 1) {
      row.push_back(x);
    }
  }
  return pipe != nullptr && pclose(pipe) == 0 ? row : Vec();
}

}  // namespace panel_test
