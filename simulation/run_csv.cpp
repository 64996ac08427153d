#include "simulation/run_csv.h"

#include <cstdio>

#include "dynamics/dynamics.h"

std::string RunCsvHeader(uint32_t n, bool balance) {
  std::string line = "tick,time";
  for (const char* name : {"q", "qd", "qdd", "tau"}) {
    for (uint32_t i = 0; i < n; ++i) {
      line += ',';
      line += name;
      line += std::to_string(i);
    }
  }
  line += balance ? ",kinetic,potential,total,work,dissipated\n" : ",kinetic,potential,total\n";
  return line;
}

void AppendCsvNumber(std::string& line, double value, char separator) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  if (separator != '\0') {
    line += separator;
  }
  line += text;
}

void AppendRunCsvRow(std::string& line, uint64_t tick, const Robot& robot,
                     const matrix<double>& torque, bool balance) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  line += std::to_string(tick);
  AppendCsvNumber(line, static_cast<double>(tick) * kTimeStep, ',');
  for (double Link::*field : {&Link::q, &Link::qd, &Link::qdd}) {
    for (uint32_t i = 0; i < n; ++i) {
      AppendCsvNumber(line, (*robot.links[i]).*field, ',');
    }
  }
  for (uint32_t i = 0; i < n; ++i) {
    AppendCsvNumber(line, torque(i, 0), ',');
  }
  AppendCsvNumber(line, robot.kineticEnergy, ',');
  AppendCsvNumber(line, robot.potentialEnergy, ',');
  AppendCsvNumber(line, robot.kineticEnergy + robot.potentialEnergy, ',');
  if (balance) {
    AppendCsvNumber(line, robot.work, ',');
    AppendCsvNumber(line, robot.dissipated, ',');
  }
  line += '\n';
}

void AppendReferenceHeader(std::string& line, uint32_t size, bool task) {
  line.pop_back();
  static const char* const kAxes[] = {"x", "y", "z"};
  for (const bool reference : {true, false}) {
    for (uint32_t i = 0; i < size; ++i) {
      const std::string index = task ? kAxes[i % 3] : std::to_string(i);
      line += ',';
      if (task) {
        line += reference ? index + "ref" : "e" + index;
      } else {
        line += (reference ? "qref" : "e") + index;
      }
    }
  }
  line += '\n';
}

void AppendReferenceColumns(std::string& line, const double* reference, const double* error,
                            uint32_t size) {
  line.pop_back();
  for (const double* values : {reference, error}) {
    for (uint32_t i = 0; i < size; ++i) {
      AppendCsvNumber(line, values[i], ',');
    }
  }
  line += '\n';
}
