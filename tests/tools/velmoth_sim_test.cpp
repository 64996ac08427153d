// velmoth-sim as a program, run through the shell: the golden runs byte for byte, the built-in arm
// written as URDF printing what the built-in arm prints, the documented status and output for bad
// arguments, bad URDF files, odd input and failures, and a long run that leaves nothing behind.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct SimResult {
  int status = -1;
  std::string out, err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The fields of text between the separators.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(text);
  for (std::string field; std::getline(in, field, separator);) {
    fields.push_back(field);
  }
  return fields;
}

// The fields of the last row of a run's output.
std::vector<std::string> LastRow(const std::string& csv) {
  const std::size_t end = csv.size() - 1, start = csv.rfind('\n', end - 1) + 1;
  return Split(csv.substr(start, end - start), ',');
}

// Runs velmoth-sim after prefix (e.g. a ulimit); args may redirect standard output elsewhere.
SimResult RunSim(const std::string& args, const std::string& prefix = "") {
  const std::string errPath = ::testing::TempDir() + "velmoth_sim_" + std::to_string(getpid());
  FILE* out = popen((prefix + VELMOTH_SIM + " 2>" + errPath + " " + args).c_str(), "r");
  SimResult r;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
    r.out += static_cast<char>(c);
  }
  const int status = pclose(out);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadFile(errPath);
  std::remove(errPath.c_str());
  return r;
}

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

// The arm of a file takes the recursive engine and the dopri5 step unless told otherwise; on the
// built-in arm's step it prints what the built-in arm prints, and either arm prints the same on the
// same step.
TEST(VelmothSim, BuiltInArmAsUrdfPrintsWhatTheBuiltInArmPrints) {
  const std::string file = std::string(" --urdf ") + VELMOTH_URDF_TESTS + "/builtin_arm.urdf";
  const std::string start = "--q0 '0.3, -0.2, 0.1' --qd0 '1, 0, -0.5' --ticks 200 --every 7 ";
  const std::string torque = "--torque '0.4, -0.3, 0.2, 0, -0.1, 0.05'";
  const std::string inverse =
      "run " + start + "--mode inverse --accel '1, -2, 0.5, 3, -1, 2' --gravity '0.5, 0, -9.81'";
  const std::string closed = " --engine closed-form --integrator euler";
  const std::string recursive =
      " --engine recursive --integrator dopri5 --substeps 1 --tolerance 1e-9";
  const struct {
    std::string builtIn, loaded;
  } cases[] = {
      {"run " + start + torque, "run " + start + torque + closed},
      {inverse + closed, inverse + closed},
      {"terms --q '0.3, -0.2' --qd '1, 2, 3' --torque 1 --accel '0, 2' --engine recursive",
       "terms --q '0.3, -0.2' --qd '1, 2, 3' --torque 1 --accel '0, 2'"},
      {"run " + start + torque + recursive, "run " + start + torque},
      {"run " + start + torque + " --integrator rk4 --substeps 3 --engine recursive",
       "run " + start + torque + " --integrator rk4 --substeps 3"},
  };
  for (const auto& c : cases) {
    const SimResult builtIn = RunSim(c.builtIn), loaded = RunSim(c.loaded + file);
    ASSERT_EQ(builtIn.status, 0) << builtIn.err;
    EXPECT_TRUE(loaded.status == 0 && loaded.err.empty()) << loaded.err;
    EXPECT_EQ(loaded.out, builtIn.out) << c.loaded;
  }
  // The steps differ where the closed form's damped solve and the exact one do.
  EXPECT_NE(RunSim("run " + start + torque).out, RunSim("run " + start + torque + recursive).out);
  // Without acceleration a tick moves q by qd dt: the run starts at q0 with qd0.
  char row[100];
  std::snprintf(row, sizeof row, "\n1,0.01,%.17g,%.17g,1,0.5,0,0,", 0.01 + 0.3, 0.5 * 0.01 - 0.2);
  EXPECT_PRED_FORMAT2(
      testing::IsSubstring, row,
      RunSim("--links 2 --mode inverse --q0 '0.3, -0.2' --qd0 '1, 0.5' --ticks 1").out);
}

// --balance adds the columns work,dissipated to what run prints without it, and they keep the
// energy balance: total - work + dissipated stays at the first tick's total (to the tolerance of
// the dopri5 step, within its rounding for an inverse run, where both are 0).
TEST(VelmothSim, TheBalanceColumnsKeepTheEnergyBalance) {
  const std::string run = std::string("run --urdf ") + VELMOTH_URDF_TESTS +
                          "/builtin_arm.urdf --torque '2, -1, 0.5' --q0 '0.3, 1' --ticks 300";
  const SimResult plain = RunSim(run), balanced = RunSim(run + " --balance");
  ASSERT_EQ(balanced.status, 0);
  const std::vector<std::string> plainRows = Split(plain.out, '\n'),
                                 rows = Split(balanced.out, '\n');
  ASSERT_EQ(rows.size(), 301u);
  ASSERT_EQ(plainRows.size(), rows.size());
  EXPECT_EQ(rows[0], plainRows[0] + ",work,dissipated");
  double start = NAN;
  for (std::size_t t = 1; t < rows.size(); ++t) {
    ASSERT_EQ(rows[t].compare(0, plainRows[t].size(), plainRows[t]), 0) << t;
    // total, work, dissipated are the last three numbers of the row.
    const std::vector<std::string> v = Split(rows[t], ',');
    const double dissipated = std::stod(v.back()), work = std::stod(v[v.size() - 2]);
    const double energy = std::stod(v[v.size() - 3]) - work + dissipated;
    start = t == 1 ? energy : start;
    EXPECT_NEAR(energy, start, 1e-7) << t;
    EXPECT_GT(dissipated, t > 9 ? 0.0 : -1.0);
  }
}

// The documented status and one line on standard error for each way a run can go wrong. (Why a
// file cannot be read, in the loader's words, is checked in tests/python/test_errors.py.)
TEST(VelmothSim, StatusAndOneLineOnStandardErrorNameWhatWentWrong) {
  const std::string x200(200, 'x'), x77(77, 'x');
  const std::string missing = ::testing::TempDir() + "bad_missing_" + std::to_string(getpid());
  struct Case {
    std::string args;
    int status;
    std::string message;  // what standard error contains
    std::string prefix = "";
    std::size_t lines = 1;  // its lines (none where it is empty)
  };
  std::vector<Case> cases = {
    {"terms --ticks 3", 2, "--ticks belongs to run, not to terms"},
    {"run --q=1", 2, "--q belongs to terms, not to run"},
    {"kinematics --torque 1", 2, "--torque belongs to run, not to kinematics"},
    {"run --frame tool --frame tool0", 2,
     "the arm has no frame 'tool0'; its frames are 'base', 'link0', 'link1', 'link2', 'link3', "
     "'link4', 'link5', 'tool'\n"},
    {"''", 2, "run takes no empty argument ('')"},
    {"terms 1 ''", 2, "terms does not take '1'"},
    {"--ticks " + x200, 2, "not '" + x77 + "...'\n"},
    {"--mode " + x200, 2, "not '" + x77 + "...'\n"},
    {x200, 2, "'" + x77 + "...'\n"},
    {"terms --urdf " + missing, 2,
     "velmoth-sim: " + missing + ": cannot open: No such file or directory\n"},
    {"--links 6 --urdf " + missing, 2,
     "velmoth-sim: --links and --urdf cannot be given together\n"},
    {"--urdf ''", 2, "velmoth-sim: --urdf: expects a file name, not ''\n"},
    {"--links 6 --links 7", 2, "velmoth-sim: --links is given 2 times; give it once\n"},
    {"terms --q 1 --q 2 --q 3", 2, "velmoth-sim: --q is given 3 times; give it once\n"},
    // A state that stops being finite is reported once, and the run goes on.
    {"--torque '1e308, -1e308, 1e308' --ticks 4 >/dev/null", 0,
     "diverged at tick 1 (t = 0.01 s): the fixed 0.01 s step (closed-form, euler) is too coarse"},
    {"--engine fast", 2, "--engine: expects closed-form or recursive, not 'fast'"},
    {"--integrator verlet", 2,
     "--integrator: expects euler, implicit, rk4 or dopri5, not 'verlet'"},
    {"terms --integrator rk4", 2, "--integrator belongs to run, not to terms"},
    // M so large that the closed form's damped solve is singular: a divergence, not an end.
    {"--urdf " VELMOTH_URDF_TESTS "/../../examples/scara.urdf --engine closed-form --integrator "
     "euler --torque 1000,1000,1000,1000 --ticks 20 >/dev/null",
     0, "diverged at tick 12 (t = 0.12 s)"},
    {"--tolerance 1e-13", 2, "--tolerance: expects a number from 1e-12 to 0.01, not '1e-13'"},
    {"--tolerance 1e-6x", 2, "--tolerance: expects a number from 1e-12 to 0.01, not '1e-6x'"},
    {"terms --tolerance 1e-6", 2, "--tolerance belongs to run, not to terms"},
    // What every front end refuses (the window, the panel and the Python module, in the same
    // words), before any tick.
    {"--viscous -1", 2, "velmoth-sim: --viscous must be finite and 0 or more, not -1\n"},
    {"--coulomb=-1e-300", 2, "velmoth-sim: --coulomb must be finite and 0 or more, not -1e-300\n"},
    {"--viscous inf", 2, "velmoth-sim: --viscous must be finite and 0 or more, not inf\n"},
    {"--links 2 --q0 0,nan", 2, "velmoth-sim: --q0 must be finite, not nan at index 1\n"},
    {"--qd0=-inf", 2, "velmoth-sim: --qd0 must be finite, not -inf at index 0\n"},
    {"--urdf " VELMOTH_EXAMPLES "/scara.urdf --coulomb nan", 2,
     "velmoth-sim: --coulomb must be finite and 0 or more, not nan\n"},
    {"--viscous 0 --coulomb -0 --ticks 1 >/dev/null", 0, ""},
    // Options the chosen control law does not take.
    {"--target 1", 2, "velmoth-sim: --target needs --controller pd, computed-torque or task-pd"},
    {"--controller gravity --kp 3", 2,
     "velmoth-sim: --kp needs --controller pd, computed-torque or task-pd"},
    {"--controller pd --kn 1", 2, "velmoth-sim: --kn needs --controller task-pd"},
    {"--controller pd --amplitude 1", 2, "velmoth-sim: --amplitude needs --trajectory sine"},
    {"--reference", 2,
     "velmoth-sim: --reference needs --controller pd, computed-torque or task-pd"},
    {"--controller pd --control-rate 150", 2,
     "velmoth-sim: --control-rate: expects continuous or 100, 200, ..., 1000 (samples per second), "
     "not '150'"},
    {"--controller task-pd --tool hand", 2, "velmoth-sim: --tool: the arm has no frame 'hand'"},
    {"--cut", 2, "velmoth-sim: --cut repeats a cut recording and needs --replay\n"},
    {"--replay " + missing, 2,
     "velmoth-sim: " + missing + ": cannot open: No such file or directory\n"},
    {"--limits maybe", 2, "velmoth-sim: --limits: expects on or off, not 'maybe'\n"},
    {"--friction own", 2, "velmoth-sim: --friction: expects file or uniform, not 'own'\n"},
    {"terms --limits off", 2, "--limits belongs to run, not to terms"},
    {"--force tool:1,2", 2,
     "velmoth-sim: --force: expects FRAME:fx,fy,fz[@px,py,pz], not 'tool:1,2'\n"},
    {"--force nowhere:1,2,3", 2,
     "velmoth-sim: --force nowhere:1,2,3: the arm has no frame 'nowhere'; its frames are 'base'"},
    {"--payload base:1", 2, "the frame 'base' is fixed to the base, which never moves\n"},
    {"--payload tool:-1", 2, "velmoth-sim: --payload: expects a mass of 0 kg or more, not"},
    {"terms --force tool:1,2,3", 2, "--force belongs to run, not to terms"},
    // A tick that reaches the cap of internal steps is reported once, and the run goes on.
    {"--engine recursive --integrator dopri5 --torque '1e4, 1e4, 1e4, 1e4, 1e4, 1e4' "
     "--ticks 5 >/dev/null",
     0, "velmoth-sim: warning: tick 1 (t = 0.01 s) reached the cap of internal steps per tick"},
    // Stiff damping of a light wrist: the default step stays finite, without a word.
    {"--urdf " VELMOTH_URDF_TESTS "/../../examples/industrial6.urdf --viscous 60 --ticks 20 "
     ">/dev/null",
     0, ""},
    // A fixed step that makes energy without work: a divergence, though finite, with its remedy,
    // after the tick before it found the balance off.
    {"--links 2 --engine recursive --integrator euler --qd0=1e4,-1e4 --ticks 5 >/dev/null", 0,
     "\nvelmoth-sim: warning: the state diverged at tick 2 (t = 0.02 s): the fixed 0.01 s step "
     "(recursive, euler) is too coarse for motion this fast (it made",
     "", 2},
    // A balance off by more than a thousandth, once; the built-in arm's own step is not checked.
    {"--engine recursive --integrator euler --ticks 50 >/dev/null", 0,
     "velmoth-sim: warning: tick 1 (t = 0.01 s) left the energy balance off by -0.0265 J, -0.494 "
     "of the motion's energy (0.0537 J): the fixed 0.01 s step (recursive, euler) is too coarse "
     "for this motion; more substeps, or the error-controlled step (dopri5); the run goes on\n"},
    {"--ticks 300 >/dev/null", 0, ""},
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizers need far more address space than this
    {"--links 100 --ticks 1 >/dev/null", 1, "velmoth-sim: out of memory (", "ulimit -v 20000;"},
#endif
  };
  // A bad option or value names the option.
  for (const std::string args :
       {"--frobnicate", "--ticks", "--ticks ten", "--ticks -1", "--ticks 2.5", "--ticks 0x10",
        "--every 0", "--links 101", "--links=", "--mode sideways", "--substeps 0",
        "--tolerance nan"}) {
    cases.push_back({args, 2, args.substr(0, args.find_first_of(" ="))});
  }
  for (const char* args : {"--ticks 100000 >/dev/full", "--help >/dev/full", "run --help >&-",
                           "terms --help >/dev/full", "--version >/dev/full"}) {
    cases.push_back({args, 1, "cannot write standard output"});
  }
  for (const auto& c : cases) {
    const SimResult r = RunSim(c.args, c.prefix);
    EXPECT_TRUE(r.status == c.status && r.out.empty() &&
                static_cast<std::size_t>(std::count(r.err.begin(), r.err.end(), '\n')) ==
                    (r.err.empty() ? 0 : c.lines) &&
                (r.err.empty() || r.err.back() == '\n') && r.err.find(c.message) != r.err.npos)
        << c.args.substr(0, 40) << ": status " << r.status << ", " << r.err;
  }
}

// A link of 1 kg and unit inertia, or without inertial data.
std::string Link(const std::string& name, bool inertial = true) {
  return "<link name='" + name + "'>" +
         (inertial ? "<inertial><mass value='1'/><inertia ixx='1' iyy='1' izz='1' ixy='0' "
                     "ixz='0' iyz='0'/></inertial>"
                   : "") +
         "</link>";
}

std::string Joint(const std::string& name, const std::string& parent, const std::string& child) {
  return "<joint name='" + name + "' type='continuous'><parent link='" + parent +
         "'/><child link='" + child + "'/></joint>\n";
}

// A bad file is refused with its name, status 2 and one line. (What else a file is refused for,
// in these words, is checked on the loader in tests/python/test_errors.py and tests/urdf.)
TEST(VelmothSim, BadUrdfFilesGiveStatus2AndOneLine) {
  const std::string files[][2] = {
      // The URDF parser would read past a comment cut in a character.
      {"<?xml version='1.0'?>\n<robot name='r'>\n" + Link("a") + "</robot>\n<!-- \xec",
       "not UTF-8 text at line 4"},
      // Without an encoding declared, a link named by a character reference is the one the URDF
      // parser reads ('A'): a loop with no root, which the parser would keep alive.
      {"<robot name='r'>" + Link("A") + Link("b") + Joint("j1", "A", "b") +
           Joint("j2", "b", "&#x141;") + "</robot>",
       "the joints form a closed loop through link 'A'"},
      // A control character of the file is shown escaped.
      {"<robot name='r'>" + Link("base", false) + Link("a&#x1b;[31m", false) +
           Joint("j", "base", "a&#x1b;[31m") + "</robot>",
       "link 'a\\x1b[31m', moved by joint 'j', has no inertial data"},
  };
  int row = 0;
  for (const auto& [text, problem] : files) {
    const std::string path = ::testing::TempDir() + "bad_" + std::to_string(getpid()) + "_" +
                             std::to_string(++row) + ".urdf";
    std::ofstream(path, std::ios::binary) << text;
    const SimResult r = RunSim("--urdf " + path);
    EXPECT_TRUE(r.status == 2 && r.out.empty()) << problem << ": status " << r.status;
    EXPECT_EQ(r.err, "velmoth-sim: " + path + ": " + problem + "\n");
    std::remove(path.c_str());
  }
}

// What the loader decided is said on standard error, one line each, and the run goes on; --tip
// chooses the chain.
TEST(VelmothSim, RobotFilesWithBranchesLoadWithTheirNotices) {
  const std::string examples = VELMOTH_URDF_TESTS "/../../examples/";
  const std::string gripper = examples + "arm7_gripper.urdf";
  const struct {
    std::string args;
    int status;
    int columns;      // q columns of the header
    std::string err;  // standard error, after "velmoth-sim: "
  } cases[] = {
      {"--urdf " + gripper, 0, 7,
       gripper + ": 2 joints off the chain are held fixed (finger_left_joint, finger_right_joint); "
                 "the chain ends at hand; --tip chooses another end\n"},
      {"--urdf " + gripper + " --tip link4", 0, 4,
       gripper + ": 5 joints off the chain are held fixed (joint5, joint6, joint7, "
                 "finger_left_joint, finger_right_joint)\n"},
      {"--urdf " + examples + "industrial6.urdf", 0, 6, ""},
      {"--tip hand", 2, 0, "--tip chooses the end of a URDF file's chain and needs --urdf\n"},
      {"--urdf " + gripper + " --tip base", 2, 0,
       gripper + ": --tip: 'base' is fixed to the root link 'world' by fixed joints only; the "
                 "chain must end below a moving joint\n"},
  };
  for (const auto& c : cases) {
    const SimResult r = RunSim("run --ticks 3 " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    std::string err = r.err;
    // Lines naming implausible inertias may follow.
    if (c.status == 0 && !c.err.empty()) {
      err = err.substr(0, err.find('\n') + 1);
    }
    EXPECT_EQ(err, c.err.empty() ? std::string() : std::string("velmoth-sim: ").append(c.err))
        << c.args;
    const std::string header = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(std::count(header.begin(), header.end(), 'q'), 3 * c.columns) << header;
  }
}

// A run that follows frames prints their positions after total; kinematics at a row's joint
// positions places them where the run did, bit for bit, and prints its five lines per frame.
TEST(VelmothSim, RunsFollowFramesWhereKinematicsPlacesThem) {
  const SimResult run = RunSim("run --links 3 --ticks 30 --every 30 --frame tool --frame link1");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string header = run.out.substr(0, run.out.find('\n'));
  EXPECT_EQ(header.substr(header.find(",total")),
            ",total,tool.x,tool.y,tool.z,link1.x,link1.y,link1.z");
  const std::vector<std::string> row = LastRow(run.out);
  ASSERT_EQ(row.size(), 2 + 4 * 3 + 3 + 6u);
  const SimResult k = RunSim("kinematics --links 3 --frame tool --frame link1 --q " + row[2] + "," +
                             row[3] + "," + row[4]);
  ASSERT_EQ(k.status, 0) << k.err;
  std::string names;
  std::vector<std::vector<std::string>> values;  // each line's words, its name first
  for (const std::string& line : Split(k.out, '\n')) {
    values.push_back(Split(line, ' '));
    names += values.back()[0] + " ";
  }
  EXPECT_EQ(
      names,
      "pose:tool jacobian:tool jdot_qd:tool jacobian_frame:tool jdot_qd_frame:tool pose:link1 "
      "jacobian:link1 jdot_qd:link1 jacobian_frame:link1 jdot_qd_frame:link1 ");
  // pose: 4 4, then row-major: the origin is entries 3, 7 and 11.
  for (int f = 0; f < 2; ++f) {
    ASSERT_EQ(values[5 * f].size(), 19u);
    ASSERT_EQ(values[5 * f + 1][1] + " " + values[5 * f + 1][2], "6 3");
    for (int axis = 0; axis < 3; ++axis) {
      EXPECT_EQ(values[5 * f][1 + 2 + 3 + 4 * axis], row[row.size() - 6 + 3 * f + axis]);
    }
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
            "M 0 0\nC 0 0\nG 0 1\nF 0 1\nkinetic 1 1 0\npotential 1 1 0\nqdd 0 1\ntau 0 1\n"
            "qdd_engine 0 1\ntau_engine 0 1\n");
  EXPECT_EQ(RunSim("--version").out, std::string("velmoth-sim ") + VELMOTH_VERSION + "\n");

  // A command line's vector is read to its end: 100 numbers at full precision (over 2000
  // characters), the arm at rest without gravity, so that the row's q columns are q0 itself.
  std::string q0;
  for (int i = 0; i < 100; ++i) {
    q0 += std::to_string(i) + ".012345678901234567, ";
  }
  const std::string out = RunSim("--links 100 --ticks 1 --gravity 0,0,0 --q0 '" + q0 + "'").out;
  const std::vector<std::string> fields = LastRow(out);
  ASSERT_GT(fields.size(), 101u) << out.substr(0, 200);
  EXPECT_EQ(fields[101].substr(0, 15), "99.012345678901");  // the last q column
}

// A replay that cannot be read is refused with its line (the window's recordings and their
// replays are compared byte for byte in tests/app).
TEST(VelmothSim, ABadReplayGivesStatus2AndOneLine) {
  const std::string path =
      ::testing::TempDir() + "velmoth_sim_bad_" + std::to_string(getpid()) + ".replay";
  const struct {
    std::string text, args, message;
  } cases[] = {
      {"0 torque 1, x\n", "", path + ": line 1: cannot read the torque '1, x'"},
      {"arm --links 2\n0 q 1, 2, 3\n3 end\n", "",
       path + ": line 2: 3 values of q for an arm of 2 joints"},
      {"5 reset\n3 reset\n", "", path + ": line 2: expected a tick number no smaller"},
      {"0 jump\n", "", path + ": line 1: unknown entry 'jump'"},
      {"0 step --engine fast\n", "", "line 1: cannot read the step '--engine fast'"},
      {"4 end\n5 reset\n", "", "line 2: nothing may follow the end"},
      {"arm --links 101\n0 end\n", "", "--links expects a whole number from 0 to 100, not '101'"},
      {"", " --torque 1", "--torque cannot be given with --replay, which sets it"},
      {"", " --substeps 2", "--substeps cannot be given with --replay, which sets it"},
      {"", " --tolerance 1e-6", "--tolerance cannot be given with --replay, which sets it"},
      {"0 friction panel\n", "", "line 1: cannot read the friction 'panel'"},
      {"arm --links 1\n0 viscous -2\n1 end\n", "",
       path + ": line 2: viscous must be finite and 0 or more, not -2\n"},
      {"arm --links 1\n0 limits on\n0 end\n", " --limits off",
       "--limits cannot be given with --replay, which sets it"},
      // What is not a whole replay: an empty file, one without its arm, one cut before its end.
      {"", "", path + ": no arm line (arm --links N or arm --urdf FILE): not a recording's replay"},
      {"0 q 0\n3 end\n", "", "no arm line"},
      {"arm --tip a\n3 end\n", "", "no arm line"},
      {"arm --links 1\n0 q 0\n", "",
       path + ": no end line: the recording was cut before it ended (the program was killed or "
              "crashed); --cut replays it up to its last complete tick"},
      {"arm --links 1\n0 q 0\n", " --cut",
       path + ": no end line, and no recording beside it (" + path.substr(0, path.size() - 7) +
           ") to tell its length: give --ticks"},
  };
  for (const auto& c : cases) {
    std::ofstream(path) << c.text;
    const SimResult r = RunSim("--replay " + path + c.args);
    EXPECT_TRUE(r.status == 2 && r.out.empty() && r.err.find(c.message) != r.err.npos &&
                r.err.find('\n') == r.err.size() - 1)
        << c.text << ": status " << r.status << ", " << r.err;
  }
  std::remove(path.c_str());
}

// A recording cut short (its last row and replay line half written, no end line) is repeated with
// --cut up to its last complete row, as the same run from the command line prints it.
TEST(VelmothSim, ACutRecordingReplaysToItsLastCompleteRow) {
  const std::string csv =
      ::testing::TempDir() + "velmoth_sim_cut_" + std::to_string(getpid()) + ".csv";
  const std::string whole = RunSim("--links 2 --torque 1,0 --ticks 3").out;
  ASSERT_EQ(std::count(whole.begin(), whole.end(), '\n'), 4);
  std::ofstream(csv) << whole << "4,0.04,0.1";
  std::ofstream(csv + ".replay")
      << "# cut\narm --links 2\n0 q 0, 0\n0 qd 0, 0\n0 torque 1, 0\n3 tor";
  const SimResult cut = RunSim("--replay " + csv + ".replay --cut");
  EXPECT_EQ(cut.status, 0) << cut.err;
  EXPECT_EQ(cut.out, whole);
  EXPECT_EQ(RunSim("--replay " + csv + ".replay --cut --ticks 2").out,
            whole.substr(0, whole.rfind('\n', whole.size() - 2) + 1));
  std::remove(csv.c_str());
  std::remove((csv + ".replay").c_str());
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

// The file's own physics. A start outside the limits is put at the nearest with one line, and the
// SCARA's quill rests at its end (--limits off: it falls through); terms' F takes each joint's
// coefficients (the elbow's own in planar_3link), or the panel's everywhere with --friction
// uniform or --viscous given; with --effort-limits the tau columns are the torques applied, and
// the first tick that saturates one says which.
TEST(VelmothSim, TheFilesLimitsFrictionAndEfforts) {
  const std::string scara = std::string(VELMOTH_EXAMPLES) + "/scara.urdf";
  SimResult r = RunSim("--urdf " + scara + " --q0 '0, 0, 0.3' --ticks 50 --every 50");
  EXPECT_EQ(r.err, "velmoth-sim: " + scara +
                       ": the start is outside the joint limits: 'quill' starts at 0.2 (limits 0 "
                       "to 0.2) instead of 0.3\n");
  EXPECT_EQ(LastRow(r.out)[4], "0.20000000000000001");
  r = RunSim("--urdf " + scara + " --q0 '0, 0, 0.3' --limits off --ticks 50 --every 50");
  EXPECT_EQ(r.err, "");
  EXPECT_GT(std::stod(LastRow(r.out)[4]), 1.0);

  const std::string planar = " --urdf " + std::string(VELMOTH_EXAMPLES) + "/planar_3link.urdf";
  const std::string p2 = "0.20000000000000001", p4 = "0.40000000000000002",
                    own = "0.59999999999999998";  // the elbow's 0.5 viscous and 0.1 Coulomb
  const struct {
    std::string options, friction;
  } terms[] = {
      {"", p2 + " " + own + " " + p2},
      {" --friction uniform", p2 + " " + p2 + " " + p2},
      {" --viscous 0.3", p4 + " " + p4 + " " + p4},
      {" --viscous 0.3 --friction file", p4 + " " + own + " " + p4},
  };
  for (const auto& t : terms) {
    r = RunSim("terms --qd '1, 1, 1'" + planar + t.options);
    EXPECT_NE(r.out.find("\nF 3 1 " + t.friction + "\n"), std::string::npos) << t.options;
  }

  r = RunSim("--torque '100, -50, 0, 7' --effort-limits --ticks 3 --urdf " + scara);
  EXPECT_EQ(r.err,
            "velmoth-sim: tick 1 (t = 0.01 s): the torques of 'shoulder', 'elbow' saturate at "
            "their efforts; later ticks are not reported\n");
  const std::vector<std::string> tau = LastRow(r.out);
  EXPECT_EQ(tau[14] + " " + tau[15] + " " + tau[17], "80 -40 7");
}

// A controller's options: the reference's columns only with --reference (the error the reference
// less the positions of the same row), and a replay whose controller lines change the law prints
// what the command line prints up to the change and goes on otherwise after it.
TEST(VelmothSim, ControllersTheirColumnsAndTheirReplayLines) {
  const std::string pd =
      "--links 2 --controller pd --target '0.3, -0.2' --duration 0.15 --ticks 20 ";
  const SimResult plain = RunSim(pd);
  EXPECT_EQ(plain.out.substr(0, plain.out.find('\n')),
            "tick,time,q0,q1,qd0,qd1,qdd0,qdd1,tau0,tau1,kinetic,potential,total");
  const SimResult columns = RunSim(pd + "--reference");
  ASSERT_EQ(columns.status, 0) << columns.err;
  const std::vector<std::string> rows = Split(columns.out, '\n');
  EXPECT_EQ(rows[0],
            "tick,time,q0,q1,qd0,qd1,qdd0,qdd1,tau0,tau1,kinetic,potential,total,qref0,qref1,"
            "e0,e1");
  for (std::size_t t = 1; t < rows.size(); ++t) {
    std::vector<double> v;
    for (const std::string& field : Split(rows[t], ',')) {
      v.push_back(std::stod(field));
    }
    ASSERT_EQ(v.size(), 17u);
    EXPECT_DOUBLE_EQ(v[15], v[13] - v[2]) << t;
    EXPECT_DOUBLE_EQ(v[16], v[14] - v[3]) << t;
    if (t == 20) {
      EXPECT_EQ(v[13], 0.3);  // the quintic has arrived
    }
  }

  const std::string path = ::testing::TempDir() + "sim_control_" + std::to_string(getpid());
  std::ofstream(path) << "arm --links 2\n0 q 0, 0\n0 qd 0, 0\n0 controller " +
                             std::string("--controller pd --target 0.3,-0.2 --duration 0.15\n") +
                             "10 controller --controller computed-torque --control-rate 1000 "
                             "--trajectory step --target 0.3,-0.2\n20 end\n";
  const SimResult replayed = RunSim("--replay " + path);
  ASSERT_EQ(replayed.status, 0) << replayed.err;
  const std::vector<std::string> a = Split(replayed.out, '\n'), b = Split(plain.out, '\n');
  ASSERT_EQ(a.size(), 21u);
  EXPECT_EQ(std::vector(a.begin(), a.begin() + 11), std::vector(b.begin(), b.begin() + 11));
  EXPECT_NE(a, b);
  EXPECT_EQ(RunSim("--replay " + path + " --controller gravity").err,
            "velmoth-sim: --controller cannot be given with --replay, which sets it\n");
  std::remove(path.c_str());
}

}  // namespace
