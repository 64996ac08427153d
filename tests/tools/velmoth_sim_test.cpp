// velmoth-sim as a program: its CSV reads back to exactly the numbers of the library called
// directly, bad arguments and odd input give the documented status and output, and a long run
// leaves nothing behind.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "tests/matrix/matrix_literal.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs velmoth-sim through the shell; args may redirect standard output elsewhere.
Result RunSim(const std::string& args, const std::string& environment = "") {
  const std::string errPath = ::testing::TempDir() + "velmoth_sim_" + std::to_string(getpid());
  FILE* out = popen((environment + VELMOTH_SIM + " 2>" + errPath + " " + args).c_str(), "r");
  Result r;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
    r.out += static_cast<char>(c);
  }
  const int status = pclose(out);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errPath);
  r.err.assign(std::istreambuf_iterator<char>(err), {});
  std::remove(errPath.c_str());
  return r;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    parts.push_back(part);
  }
  return parts;
}

TEST(VelmothSim, RunsReadBackAsTheLibrarysTicks) {
  const matrix<double> torque = V({0.4, -0.3, 0.2, 0, -0.1, 0.05}),
                       accel = V({1, -2, 0.5, 3, -1, 2});
  for (const int every : {1, 3}) {  // forward printing every tick, inverse every third
    const bool forward = every == 1;
    const Result r =
        RunSim(std::string("--torque '0.4, -0.3, 0.2, 0, -0.1, 0.05' ") +
               "--accel '1, -2, 0.5, 3, -1, 2' --viscous 0.2 --coulomb 0.05 " +
               "--gravity '0.5, 0, -9.81' --ticks 10 --every " + std::to_string(every) +
               (forward ? " --mode forward" : " --mode inverse"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Split(r.out, '\n');
    ASSERT_EQ(lines.size(), 1u + 10 / every);
    EXPECT_EQ(lines[0],
              "tick,time,q0,q1,q2,q3,q4,q5,qd0,qd1,qd2,qd3,qd4,qd5,qdd0,qdd1,qdd2,qdd3,qdd4,qdd5,"
              "tau0,tau1,tau2,tau3,tau4,tau5,kinetic,potential,total");
    std::unique_ptr<Robot> robot = MakeBuiltInRobot();
    robot->viscousFriction = 0.2;
    robot->coulombFriction = 0.05;
    robot->gravity(0, 0) = 0.5;
    for (int tick = 1; tick <= 10; ++tick) {
      matrix<double> tau = torque;
      if (forward) {
        IntegrateStep(*robot, ForwardDynamics(*robot, torque), kTimeStep);
      } else {
        IntegrateStep(*robot, accel, kTimeStep);
        tau = InverseDynamics(*robot);
      }
      if (tick % every != 0) {
        continue;
      }
      std::vector<double> row = {static_cast<double>(tick), tick * kTimeStep};
      for (auto field : {&Link::q, &Link::qd, &Link::qdd}) {
        for (const auto& link : robot->links) {
          row.push_back((*link).*field);
        }
      }
      const double kinetic = robot->kineticEnergy, potential = robot->potentialEnergy;
      row.insert(row.end(), {tau(0, 0), tau(1, 0), tau(2, 0), tau(3, 0), tau(4, 0), tau(5, 0),
                             kinetic, potential, kinetic + potential});
      // Every printed number reads back, as a whole, to exactly the computed one.
      const std::vector<std::string> printed = Split(lines[tick / every], ',');
      ASSERT_EQ(printed.size(), row.size());
      for (std::size_t i = 0; i < row.size(); ++i) {
        char* end = nullptr;
        const double x = std::strtod(printed[i].c_str(), &end);
        EXPECT_TRUE(*end == '\0' && x == row[i] && std::signbit(x) == std::signbit(row[i]))
            << "tick " << tick << ", column " << i << ": " << printed[i] << " vs " << row[i];
      }
    }
  }
}

TEST(VelmothSim, BadArgumentsGiveStatus2AndOneLineNamingTheOption) {
  const char* const cases[][2] = {
      {"--frobnicate", "--frobnicate"}, {"--ticks", "--ticks"},         {"--ticks ten", "--ticks"},
      {"--ticks -1", "--ticks"},        {"--ticks 2.5", "--ticks"},     {"--ticks 0x10", "--ticks"},
      {"--every 0", "--every"},         {"--links 101", "--links"},     {"--links -1", "--links"},
      {"--mode sideways", "--mode"},    {"terms --ticks 3", "--ticks"}, {"run --q 1", "--q"}};
  for (const auto& [args, option] : cases) {
    const Result r = RunSim(args);
    EXPECT_TRUE(r.status == 2 && r.out.empty() && r.err.find('\n') == r.err.size() - 1 &&
                r.err.find(option) != r.err.npos)
        << args << ": status " << r.status << ", " << r.err;
  }
}

TEST(VelmothSim, OddInputsAndFailuresAreHandledAsDocumented) {
  // Unreadable vector and coefficient text is 0, never an error; the columns follow --links.
  EXPECT_EQ(RunSim("--torque abc --viscous x --links 2 --ticks 0").out,
            "tick,time,q0,q1,qd0,qd1,qdd0,qdd1,tau0,tau1,kinetic,potential,total\n");
  EXPECT_EQ(RunSim("--links 0 --ticks 1").out, "tick,time,kinetic,potential,total\n1,0.01,0,0,0\n");
  EXPECT_EQ(RunSim("terms --links 0").out,
            "M 0 0\nC 0 0\nG 0 1\nF 0 1\nkinetic 1 1 0\npotential 1 1 0\nqdd 0 1\ntau 0 1\n");
  // A state that stops being finite is reported once, and the run goes on.
  Result r = RunSim("--torque '1e308, -1e308, 1e308' --ticks 4");
  EXPECT_TRUE(r.status == 0 && Split(r.out, '\n').size() == 5 && Split(r.err, '\n').size() == 1 &&
              r.err.find("tick 1;") != r.err.npos)
      << r.err;
  r = RunSim("--ticks 100000 >/dev/full");
  EXPECT_TRUE(r.status == 1 && r.err.find("cannot write standard output") != r.err.npos) << r.err;
}

// The largest resident set of any program this test has run so far, in kilobytes.
long PeakOfChildren() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}

TEST(VelmothSim, LongRunLeavesNothingBehindAndDoesNotGrow) {
  // 100 000 ticks. In the sanitizer build the leak checker fails the program at exit if any
  // allocation is left; in every build its peak memory stays that of a short run (with
  // AddressSanitizer keeping no freed memory back, so that the peak is the program's own).
  const std::string noQuarantine = "ASAN_OPTIONS=\"$ASAN_OPTIONS:quarantine_size_mb=0\" ";
  EXPECT_EQ(RunSim("--ticks 1000 >/dev/null", noQuarantine).status, 0);
  const long shortRun = PeakOfChildren();
  const Result r = RunSim("--ticks 100000 --every 100000", noQuarantine);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Split(r.out, '\n').at(1).substr(0, 12), "100000,1000,");
  EXPECT_LT(PeakOfChildren(), shortRun + 4096) << "kB at most, after 1000 ticks " << shortRun;
}

}  // namespace
