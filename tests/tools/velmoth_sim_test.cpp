// velmoth-sim as a program: its CSV and terms read back to exactly the numbers of the library
// called directly, bad arguments give status 2 and one line on standard error, failures are not
// reported as success, and a long run leaves nothing behind.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/text_fields.h"
#include "dynamics/dynamics.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::remove(path.c_str());
  return s.str();
}

// Runs velmoth-sim through the shell with the given arguments (shell syntax) and environment
// assignments, standard output and error going to files (standard output to stdoutPath instead,
// when given).
Result RunSim(const std::string& args, const char* stdoutPath = nullptr,
              const std::string& environment = "") {
  const std::string base = ::testing::TempDir() + "velmoth_sim_" + std::to_string(getpid());
  const std::string outPath = stdoutPath != nullptr ? stdoutPath : base + ".out";
  const std::string command =
      environment + VELMOTH_SIM + " " + args + " >" + outPath + " 2>" + base + ".err";
  const int status = std::system(command.c_str());
  Result r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = stdoutPath != nullptr ? "" : Slurp(outPath);
  r.err = Slurp(base + ".err");
  return r;
}

// The largest resident set of any program this test has run so far, in kilobytes.
long PeakOfChildren() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) {
    parts.push_back(part);
  }
  return parts;
}

// The printed field reads back, as a whole, to exactly the computed number.
void ExpectReadsBackAs(const std::string& field, double computed, const std::string& what) {
  char* end = nullptr;
  const double printed = std::strtod(field.c_str(), &end);
  EXPECT_EQ(*end, '\0') << what << ": '" << field << "'";
  EXPECT_TRUE((printed == computed && std::signbit(printed) == std::signbit(computed)) ||
              (std::isnan(printed) && std::isnan(computed)))
      << what << ": printed " << field << ", computed " << computed;
}

// The inputs of a run, given as options and applied to an arm as the panel's "Set" does.
const char* const kTorque = "0.4, -0.3, 0.2, 0, -0.1, 0.05";
const char* const kAccel = "1, -2, 0.5, 3, -1, 2";
const std::string kInputs = std::string("--torque '") + kTorque + "' --accel '" + kAccel +
                            "' --viscous 0.2 --coulomb 0.05 --gravity '0.5, 0, -9.81'";

std::unique_ptr<Robot> InputArm() {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  robot->viscousFriction = ReadCoefficientText("0.2");
  robot->coulombFriction = ReadCoefficientText("0.05");
  ReadVectorText("0.5, 0, -9.81", robot->gravity);
  return robot;
}

matrix<double> InputVector(const std::string& text) {
  matrix<double> v(6, 1);
  ReadVectorText(text, v);
  return v;
}

void ExpectRunMatchesLibrary(bool forward, int ticks, int every) {
  const Result r = RunSim(kInputs + " --mode " + (forward ? "forward" : "inverse") + " --ticks " +
                          std::to_string(ticks) + " --every " + std::to_string(every));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> lines = Split(r.out, '\n');
  ASSERT_EQ(lines.size(), 1u + ticks / every);
  EXPECT_EQ(lines[0],
            "tick,time,q0,q1,q2,q3,q4,q5,qd0,qd1,qd2,qd3,qd4,qd5,qdd0,qdd1,qdd2,qdd3,qdd4,qdd5,"
            "tau0,tau1,tau2,tau3,tau4,tau5,kinetic,potential,total");

  const std::vector<std::string> names = Split(lines[0], ',');
  std::unique_ptr<Robot> robot = InputArm();
  const matrix<double> torque = InputVector(kTorque), accel = InputVector(kAccel);
  for (int tick = 1; tick <= ticks; ++tick) {
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
    const std::vector<std::string> f = Split(lines.at(tick / every), ',');
    ASSERT_EQ(f.size(), 29u);
    EXPECT_EQ(f[0], std::to_string(tick));
    std::vector<double> computed = {tick * kTimeStep};
    for (auto field : {&Link::q, &Link::qd, &Link::qdd}) {
      for (const auto& link : robot->links) {
        computed.push_back((*link).*field);
      }
    }
    for (uint32_t i = 0; i < 6; ++i) {
      computed.push_back(tau(i, 0));
    }
    computed.insert(computed.end(), {robot->kineticEnergy, robot->potentialEnergy,
                                     robot->kineticEnergy + robot->potentialEnergy});
    for (std::size_t c = 1; c < f.size(); ++c) {
      ExpectReadsBackAs(f[c], computed[c - 1], names[c]);
    }
  }
}

TEST(VelmothSim, ForwardRunReadsBackAsTheLibrarysTicks) {
  ExpectRunMatchesLibrary(true, 10, 1);
}

TEST(VelmothSim, InverseRunReadsBackAsTheLibrarysTicks) {
  ExpectRunMatchesLibrary(false, 10, 3);
}

TEST(VelmothSim, TermsReadBackAsTheLibrarysEvaluation) {
  const std::string q = "0.3, -1.2, 2.0, 0.1, -0.4, 0.9", qd = "-1, 0.5, 2, -0.3, 0, 1.5";
  const Result r = RunSim("terms --q '" + q + "' --qd '" + qd + "' " + kInputs);
  ASSERT_EQ(r.status, 0) << r.err;

  std::unique_ptr<Robot> robot = InputArm();
  for (uint32_t i = 0; i < 6; ++i) {
    robot->links[i]->q = InputVector(q)(i, 0);
    robot->links[i]->qd = InputVector(qd)(i, 0);
    robot->links[i]->qdd = InputVector(kAccel)(i, 0);  // read by InverseDynamics only
  }
  const EquationTerms t = EvaluateEquationTerms(*robot);
  matrix<double> kinetic(1, 1), potential(1, 1);
  kinetic(0, 0) = robot->kineticEnergy;
  potential(0, 0) = robot->potentialEnergy;
  const std::vector<std::pair<std::string, matrix<double>>> expected = {
      {"M", t.M},
      {"C", t.C},
      {"G", t.G},
      {"F", t.F},
      {"kinetic", kinetic},
      {"potential", potential},
      {"qdd", ForwardDynamics(*robot, InputVector(kTorque))},
      {"tau", InverseDynamics(*robot)}};
  const std::vector<std::string> lines = Split(r.out, '\n');
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t l = 0; l < lines.size(); ++l) {
    const auto& [name, m] = expected[l];
    const std::vector<std::string> f = Split(lines[l], ' ');
    ASSERT_EQ(f.size(), 3 + m.RowCount() * m.ColCount()) << lines[l];
    EXPECT_EQ(f[0] + " " + f[1] + " " + f[2],
              name + " " + std::to_string(m.RowCount()) + " " + std::to_string(m.ColCount()));
    for (uint32_t e = 0; e < m.RowCount() * m.ColCount(); ++e) {
      ExpectReadsBackAs(f[3 + e], m(e / m.ColCount(), e % m.ColCount()), name);
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
    SCOPED_TRACE(args);
    const Result r = RunSim(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(option), std::string::npos) << r.err;
  }
}

TEST(VelmothSim, TextsAreForgivingAndSizesAreKept) {
  // Unreadable vector and coefficient text is 0, never an error; no ticks print only the header.
  const Result r = RunSim("--torque abc --viscous x --links 2 --ticks 0");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "tick,time,q0,q1,qd0,qd1,qdd0,qdd1,tau0,tau1,kinetic,potential,total\n");
  EXPECT_EQ(RunSim("--links 0 --ticks 1").out, "tick,time,kinetic,potential,total\n1,0.01,0,0,0\n");
}

TEST(VelmothSim, StateThatStopsBeingFiniteIsReportedOnceAndTheRunGoesOn) {
  const Result r = RunSim("--torque '1e308, -1e308, 1e308' --ticks 4");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Split(r.out, '\n').size(), 5u);
  EXPECT_EQ(Split(r.err, '\n').size(), 1u) << r.err;
  EXPECT_NE(r.err.find("tick 1;"), std::string::npos) << r.err;
}

TEST(VelmothSim, OutputThatCannotBeWrittenIsAFailure) {
  const Result r = RunSim("--ticks 100000", "/dev/full");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write standard output"), std::string::npos) << r.err;
}

TEST(VelmothSim, HelpDocumentsEveryOptionWithItsDefault) {
  const Result r = RunSim("--help");
  EXPECT_EQ(r.status, 0);
  const std::vector<std::string> lines = Split(r.out, '\n');
  for (const std::string option : {"--mode", "--torque", "--accel", "--viscous", "--coulomb",
                                   "--gravity", "--ticks", "--every", "--links", "--q", "--qd"}) {
    bool documented = false;
    for (std::size_t l = 0; l + 1 < lines.size(); ++l) {
      // The description follows on the same line, or on the next when the name is long.
      const std::size_t at = lines[l].find_first_not_of(' ');
      documented =
          documented || (at != std::string::npos && lines[l].find(option + " ") == at &&
                         (lines[l] + lines[l + 1]).find("(default: ") != std::string::npos);
    }
    EXPECT_TRUE(documented) << option;
  }
}

TEST(VelmothSim, LongRunLeavesNothingBehindAndDoesNotGrow) {
  // 100 000 ticks. In the sanitizer build the leak checker fails the program at exit if any
  // allocation is left; in every build its peak memory stays that of a short run (with
  // AddressSanitizer keeping no freed memory back, so that the peak is the program's own).
  const std::string noQuarantine = "ASAN_OPTIONS=\"$ASAN_OPTIONS:quarantine_size_mb=0\" ";
  EXPECT_EQ(std::system((noQuarantine + VELMOTH_SIM " --ticks 1000 >/dev/null").c_str()), 0);
  const long shortRun = PeakOfChildren();
  const Result r = RunSim("--ticks 100000 --every 100000", nullptr, noQuarantine);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 12), "100000,1000,");
  EXPECT_LT(PeakOfChildren(), shortRun + 4096) << "kB at most, after 1000 ticks " << shortRun;
}

}  // namespace
