// velmoth-sim with --urdf: the built-in arm written as URDF prints byte for byte what the built-in
// arm prints, --q0 and --qd0 start the run there, and every kind of bad file or option gives
// status 2, nothing on standard output and one line naming the file and the problem.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/tools/sim_runner.h"

namespace {

TEST(UrdfSim, BuiltInArmAsUrdfPrintsWhatTheBuiltInArmPrints) {
  const std::string file = std::string(" --urdf ") + VELMOTH_URDF_TESTS + "/builtin_arm.urdf";
  const std::string start = "--q0 '0.3, -0.2, 0.1' --qd0 '1, 0, -0.5' --ticks 200 --every 7 ";
  for (const std::string& args :
       {"run " + start + "--torque '0.4, -0.3, 0.2, 0, -0.1, 0.05'",
        "run " + start + "--mode inverse --accel '1, -2, 0.5, 3, -1, 2' --gravity '0.5, 0, -9.81'",
        std::string("terms --q '0.3, -0.2' --qd '1, 2, 3' --torque 1 --accel '0, 2'")}) {
    const SimResult builtIn = RunSim(args), loaded = RunSim(args + file);
    ASSERT_EQ(builtIn.status, 0) << builtIn.err;
    EXPECT_TRUE(loaded.status == 0 && loaded.err.empty()) << loaded.err;
    EXPECT_EQ(loaded.out, builtIn.out) << args;
  }
  // Without acceleration a tick moves q by qd dt: the run starts at q0 with qd0.
  char row[100];
  std::snprintf(row, sizeof row, "\n1,0.01,%.17g,%.17g,1,0.5,0,0,", 0.01 + 0.3, 0.5 * 0.01 - 0.2);
  EXPECT_PRED_FORMAT2(
      testing::IsSubstring, row,
      RunSim("--links 2 --mode inverse --q0 '0.3, -0.2' --qd0 '1, 0.5' --ticks 1").out);
}

// A link with inertial data (unless mass is empty) of that mass and that Ixy.
std::string Link(const std::string& name, const std::string& mass = "1",
                 const std::string& ixy = "0") {
  return "<link name='" + name + "'>" +
         (mass.empty() ? ""
                       : "<inertial><mass value='" + mass + "'/><inertia ixx='1' iyy='1' " +
                             "izz='1' ixy='" + ixy + "' ixz='0' iyz='0'/></inertial>") +
         "</link>";
}

std::string Joint(const std::string& name, const std::string& type, const std::string& parent,
                  const std::string& child, const std::string& more = "") {
  return "<joint name='" + name + "' type='" + type + "'><parent link='" + parent +
         "'/><child link='" + child + "'/>" + more + "</joint>\n";
}

std::string Arm(const std::string& body) {
  return "<?xml version='1.0'?>\n<robot name='r'>\n" + body + "</robot>\n";
}

TEST(UrdfSim, BadFilesAndOptionsGiveStatus2AndOneLine) {
  std::string longChain = Link("l0"), manyLinks;
  for (int i = 1; i <= 1001; ++i) {
    const std::string l = "l" + std::to_string(i);
    longChain +=
        i <= 101 ? Joint("j" + l, "continuous", "l" + std::to_string(i - 1), l) + Link(l) : "";
    manyLinks += Link(l, "");
  }
  const std::string ab = Link("base", "") + Link("a") + Link("b");
  const std::string ja = Joint("j", "continuous", "base", "a");
  const std::string files[][2] = {
      {"", "the file is empty"},
      {Arm(ab) + '\0', "malformed XML (a NUL character)"},
      {Arm(ab) + "<!-- \xec", "not UTF-8 text at line 4"},  // the URDF parser would read past it
      {Arm("<link name='a'>"), "malformed XML at line 3 (mismatched element)"},
      {"<model/>", "the top element is not <robot>"},
      {Arm(ab + Joint("j1", "continuous", "base", "a") + Joint("j2", "continuous", "base", "b")),
       "link 'base' has two child joints ('j1' and 'j2'); only a serial chain can be loaded"},
      {Arm(ab + Joint("j1", "continuous", "base", "a") + Joint("j2", "continuous", "b", "a") +
           Joint("j3", "continuous", "base", "b")),
       "link 'a' is the child of two joints ('j1' and 'j2'), which closes a loop"},
      {Arm(ab + Joint("j1", "continuous", "a", "b") + Joint("j2", "continuous", "b", "a")),
       "the joints form a closed loop through link 'a'"},
      {Arm(Link("base", "") + Link("a") + Joint("j", "floating", "base", "a")),
       "joint 'j' is floating; only revolute, continuous, prismatic and fixed joints can be "
       "simulated"},
      {Arm(Link("base", "") + Link("a", "") + ja),
       "link 'a', moved by joint 'j', has no inertial data"},
      {Arm(Link("base", "") + Link("a", "1", "2") + ja),
       "link 'a' has an inertia tensor that is not positive semi-definite"},
      {Arm(Link("base", "") + Link("a", "-1") + ja), "link 'a' has a negative mass"},
      // The URDF parser reports this one, yet returns a model with the mass left at 0.
      {Arm(Link("base", "") + Link("a", "nan") + ja),
       "Inertial: mass [nan] is not a float; Could not parse inertial element for Link [a]"},
      {Arm(Link("base", "") + Link("a") +
           Joint("j", "continuous", "base", "a", "<axis xyz='0 0 0'/>")),
       "joint 'j' has no usable axis"},
      {Arm(longChain), "more than 100 moving joints"},
      {Arm(manyLinks), "more than 1000 links or joints"},
  };
  int row = 0;
  for (const auto& [text, problem] : files) {
    const std::string path = ::testing::TempDir() + "bad_" + std::to_string(++row) + ".urdf";
    std::ofstream(path, std::ios::binary) << text;
    const SimResult r = RunSim("--urdf " + path);
    EXPECT_TRUE(r.status == 2 && r.out.empty()) << problem << ": status " << r.status;
    EXPECT_EQ(r.err, "velmoth-sim: " + path + ": " + problem + "\n");
    std::remove(path.c_str());
  }

  // Files that cannot be read, and wrong uses of the option (which name it).
  const std::string big = ::testing::TempDir() + "bad_big.urdf", dir = ::testing::TempDir();
  std::ofstream(big).close();
  ASSERT_EQ(truncate(big.c_str(), 17 << 20), 0);
  const std::string missing = dir + "bad_missing.urdf";
  const std::string unreadable[][2] = {
      {"terms --urdf " + missing,
       "velmoth-sim: " + missing + ": cannot open: No such file or directory\n"},
      {"run --urdf " + dir, "velmoth-sim: " + dir + ": cannot read: Is a directory\n"},
      {"--urdf " + big, "velmoth-sim: " + big + ": larger than 16 MiB\n"},
      {"--links 6 --urdf " + big, "velmoth-sim: --links and --urdf cannot be given together\n"},
      {"--urdf ''", "velmoth-sim: --urdf: expects a file name, not ''\n"},
  };
  for (const auto& [args, err] : unreadable) {
    const SimResult r = RunSim(args);
    EXPECT_TRUE(r.status == 2 && r.out.empty() && r.err == err) << args << ": " << r.err;
  }
  std::remove(big.c_str());
}

}  // namespace
