// velmoth-sim as a program: the golden runs byte for byte, the documented status and output for
// bad arguments, odd input and failures, and a long run that leaves nothing behind.
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/tools/sim_runner.h"

namespace {

// Each line of CASES.txt is "FILE: velmoth-sim ARGS"; FILE holds the exact standard output, as an
// independent implementation of the same arithmetic computed it.
TEST(VelmothSim, GoldenRunsMatchByteForByte) {
  std::ifstream cases(VELMOTH_GOLDEN "/CASES.txt");
  int count = 0;
  for (std::string line; std::getline(cases, line); ++count) {
    const std::size_t colon = line.find(": velmoth-sim ");
    ASSERT_NE(colon, line.npos) << line;
    const std::string file = line.substr(0, colon);
    const std::string golden = ReadFile(VELMOTH_GOLDEN "/" + file);
    const SimResult r = RunSim(line.substr(colon + 14));
    EXPECT_EQ(r.status, 0) << file;
    EXPECT_EQ(r.err, "") << file;
    if (r.out != golden) {
      const auto [here, there] = std::mismatch(r.out.begin(), r.out.end(), golden.begin());
      ADD_FAILURE() << file << " differs from line " << 1 + std::count(r.out.begin(), here, '\n')
                    << " on";
    }
  }
  EXPECT_EQ(count, 5);
}

TEST(VelmothSim, StatusAndOneLineOnStandardErrorNameWhatWentWrong) {
  const std::string x200(200, 'x'), x77(77, 'x');
  const char* const unwritable = "cannot write standard output";
  const struct {
    std::string args;
    int status;
    std::string message;  // what the one line on standard error contains
    std::string prefix = "";
  } cases[] = {
    {"--frobnicate", 2, "--frobnicate"},
    {"--ticks", 2, "--ticks"},
    {"--ticks ten", 2, "--ticks"},
    {"--ticks -1", 2, "--ticks"},
    {"--ticks 2.5", 2, "--ticks"},
    {"--ticks 0x10", 2, "--ticks"},
    {"--every 0", 2, "--every"},
    {"--links 101", 2, "--links"},
    {"--links=", 2, "--links"},
    {"--mode sideways", 2, "--mode"},
    {"terms --ticks 3", 2, "--ticks belongs to run, not to terms"},
    {"run --q=1", 2, "--q belongs to terms, not to run"},
    {"''", 2, "run takes no empty argument ('')"},
    {"terms 1 ''", 2, "terms does not take '1'"},
    {"--ticks " + x200, 2, "not '" + x77 + "...'\n"},
    {"--mode " + x200, 2, "not '" + x77 + "...'\n"},
    {x200, 2, "'" + x77 + "...'\n"},
    {"--ticks 100000 >/dev/full", 1, unwritable},
    {"--help >/dev/full", 1, unwritable},
    {"run --help >&-", 1, unwritable},
    {"terms --help >/dev/full", 1, unwritable},
    {"--version >/dev/full", 1, unwritable},
    // A state that stops being finite is reported once, and the run goes on.
    {"--torque '1e308, -1e308, 1e308' --ticks 4 >/dev/null", 0,
     "diverged at tick 1 (t = 0.01 s): the fixed 0.01 s step is too coarse"},
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizers need far more address space than this
    {"--links 100 --ticks 1 >/dev/null", 1, "velmoth-sim: out of memory (", "ulimit -v 20000;"},
#endif
  };
  for (const auto& c : cases) {
    const SimResult r = RunSim(c.args, c.prefix);
    EXPECT_TRUE(r.status == c.status && r.out.empty() && r.err.find('\n') == r.err.size() - 1 &&
                r.err.find(c.message) != r.err.npos)
        << c.args.substr(0, 40) << ": status " << r.status << ", " << r.err;
  }
}

TEST(VelmothSim, OddInputIsReadAsThePanelReadsIt) {
  // Unreadable text is 0, empty text too, given either way; the columns follow --links.
  EXPECT_EQ(RunSim("--torque abc --viscous x --links 2 --ticks 0").out,
            "tick,time,q0,q1,qd0,qd1,qdd0,qdd1,tau0,tau1,kinetic,potential,total\n");
  const std::string zeros = RunSim("--torque 0 --viscous 0 --coulomb 0 --gravity 0,0,0").out;
  EXPECT_EQ(RunSim("--torque= --viscous= --coulomb= --gravity=").out, zeros);
  EXPECT_EQ(RunSim("--torque '' --viscous '' --coulomb '' --gravity ''").out, zeros);
  EXPECT_EQ(RunSim("terms --q= --qd= --accel= --links 2").out, RunSim("terms --links 2").out);
  EXPECT_EQ(RunSim("--links 0 --ticks 1").out, "tick,time,kinetic,potential,total\n1,0.01,0,0,0\n");
  EXPECT_EQ(RunSim("terms --links 0").out,
            "M 0 0\nC 0 0\nG 0 1\nF 0 1\nkinetic 1 1 0\npotential 1 1 0\nqdd 0 1\ntau 0 1\n");
  EXPECT_EQ(RunSim("--version").out, std::string("velmoth-sim ") + VELMOTH_VERSION + "\n");
}

// The largest resident set of any program this test has run so far, in kilobytes.
long PeakOfChildren() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss;
}

TEST(VelmothSim, LongRunLeavesNothingBehindAndDoesNotGrow) {
  // 100 000 ticks. In the sanitizer build the leak checker fails the program at exit if any
  // allocation is left; in the release build the matrix blocks are recycled, and the peak memory
  // must stay that of a short run in both (AddressSanitizer keeping no freed memory back).
  const std::string noQuarantine = "ASAN_OPTIONS=\"$ASAN_OPTIONS:quarantine_size_mb=0\" ";
  EXPECT_EQ(RunSim("--ticks 1000 >/dev/null", noQuarantine).status, 0);
  const long shortRun = PeakOfChildren();
  const SimResult r = RunSim("--ticks 100000 --every 100000", noQuarantine);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, 12), "100000,1000,");
  EXPECT_LT(PeakOfChildren(), shortRun + 4096) << "kB at most, after 1000 ticks " << shortRun;
}

}  // namespace
