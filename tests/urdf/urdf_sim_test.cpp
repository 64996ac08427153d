// velmoth-sim with --urdf: the built-in arm written as URDF ticks bit for bit as the built-in arm,
// --q0 and --qd0 start the run where they say, the columns follow the file's joints, and every
// kind of bad file or option gives status 2, nothing on standard output and one line naming the
// file and the problem on standard error.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

Result RunSim(const std::string& args) {
  const std::string errPath = ::testing::TempDir() + "urdf_sim_err_" + std::to_string(getpid());
  FILE* out = popen((std::string(VELMOTH_SIM) + " 2>" + errPath + " " + args).c_str(), "r");
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

std::string Write(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

const std::string kBuiltInUrdf = std::string(VELMOTH_URDF_TESTS) + "/builtin_arm.urdf";

TEST(UrdfSim, BuiltInArmAsUrdfTicksBitForBitAsTheBuiltInArm) {
  const std::string state = "--q0 '0.3, -0.2, 0.1' --qd0 '1, 0, -0.5' --ticks 200 --every 7 ";
  for (const std::string& args :
       {"run " + state + "--torque '0.4, -0.3, 0.2, 0, -0.1, 0.05'",
        "run " + state + "--mode inverse --accel '1, -2, 0.5, 3, -1, 2' --gravity '0.5, 0, -9.81'",
        std::string("terms --q '0.3, -0.2' --qd '1, 2, 3' --torque 1 --accel '0, 2'")}) {
    const Result builtIn = RunSim(args + " --links 6");
    const Result loaded = RunSim(args + " --urdf " + kBuiltInUrdf);
    ASSERT_EQ(builtIn.status, 0) << builtIn.err;
    EXPECT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(loaded.err, "");
    EXPECT_EQ(loaded.out, builtIn.out) << args;
  }
}

TEST(UrdfSim, StartStateAndColumnsFollowTheOptionsAndTheFile) {
  const Result r = RunSim("--links 2 --q0 '0.3, -0.2' --qd0 '1, 0.5' --ticks 1");
  ASSERT_EQ(r.status, 0) << r.err;
  std::unique_ptr<Robot> robot = MakeBuiltInRobot(2);
  robot->links[0]->q = 0.3;
  robot->links[1]->q = -0.2;
  robot->links[0]->qd = 1.0;
  robot->links[1]->qd = 0.5;
  matrix<double> torque(2, 1);
  torque.SetZero();
  IntegrateStep(*robot, ForwardDynamics(*robot, torque), kTimeStep);
  char expected[200];
  std::snprintf(expected, sizeof expected, "1,0.01,%.17g,%.17g,%.17g,%.17g,", robot->links[0]->q,
                robot->links[1]->q, robot->links[0]->qd, robot->links[1]->qd);
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, std::strlen(expected)), expected);

  EXPECT_EQ(RunSim(std::string("--ticks 0 --urdf ") + VELMOTH_EXAMPLES + "/scara.urdf").out,
            "tick,time,q0,q1,q2,q3,qd0,qd1,qd2,qd3,qdd0,qdd1,qdd2,qdd3,tau0,tau1,tau2,tau3,"
            "kinetic,potential,total\n");
}

// A small arm description: links and joints as given.
std::string Description(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n<robot name=\"r\">\n" + body + "</robot>\n";
}
const std::string kMass =
    "<inertial><mass value=\"1\"/><inertia ixx=\"1\" iyy=\"1\" izz=\"1\" ixy=\"0\" ixz=\"0\" "
    "iyz=\"0\"/></inertial>";
std::string Link(const std::string& name, const std::string& inertial = kMass) {
  return "<link name=\"" + name + "\">" + inertial + "</link>\n";
}
std::string Joint(const std::string& name, const std::string& type, const std::string& parent,
                  const std::string& child, const std::string& more = "") {
  return "<joint name=\"" + name + "\" type=\"" + type + "\"><parent link=\"" + parent +
         "\"/><child link=\"" + child + "\"/>" + more + "</joint>\n";
}

TEST(UrdfSim, BadFilesAndOptionsGiveStatus2AndOneLine) {
  std::string longChain = Link("l0");
  for (int i = 1; i <= 101; ++i) {
    longChain += Joint("j" + std::to_string(i), "continuous", "l" + std::to_string(i - 1),
                       "l" + std::to_string(i)) +
                 Link("l" + std::to_string(i));
  }
  std::string manyLinks;
  for (int i = 0; i <= 1000; ++i) {
    manyLinks += Link("l" + std::to_string(i), "");
  }
  const std::string oneJoint = Link("base", "") + Link("a");
  struct Case {
    const char* what;
    std::string text;  // the file's text
    std::string problem;
  };
  const Case cases[] = {
      {"empty", "", "the file is empty"},
      {"nul", Description(oneJoint) + '\0', "malformed XML (a NUL character)"},
      {"unclosed", Description("<link name=\"a\">"),
       "malformed XML at line 3 (mismatched element)"},
      {"not_robot", "<model/>", "the top element is not <robot>"},
      {"unknown_link", Description(Link("a") + Joint("j", "continuous", "a", "b")),
       "Failed to build tree: child link [b] of joint [j] not found"},
      {"branch",
       Description(oneJoint + Link("b") + Joint("j1", "continuous", "base", "a") +
                   Joint("j2", "continuous", "base", "b")),
       "link 'base' has two child joints ('j1' and 'j2'); only a serial chain can be loaded"},
      {"two_parents",
       Description(oneJoint + Link("b") + Joint("j1", "continuous", "base", "a") +
                   Joint("j2", "continuous", "b", "a") + Joint("j3", "continuous", "base", "b")),
       "link 'a' is the child of two joints ('j1' and 'j2'), which closes a loop"},
      {"cycle",
       Description(oneJoint + Link("b") + Joint("j1", "continuous", "a", "b") +
                   Joint("j2", "continuous", "b", "a")),
       "the joints form a closed loop through link 'a'"},
      {"floating", Description(oneJoint + Joint("j", "floating", "base", "a")),
       "joint 'j' is floating; only revolute, continuous, prismatic and fixed joints can be "
       "simulated"},
      {"planar", Description(oneJoint + Joint("j", "planar", "base", "a")),
       "joint 'j' is planar; only revolute, continuous, prismatic and fixed joints can be "
       "simulated"},
      {"massless",
       Description(Link("base", "") + Link("a", "") + Joint("j", "continuous", "base", "a")),
       "link 'a', moved by joint 'j', has no inertial data"},
      {"negative_mass",
       Description(Link("base", "") +
                   Link("a",
                        "<inertial><mass value=\"-1\"/><inertia ixx=\"1\" "
                        "iyy=\"1\" izz=\"1\" ixy=\"0\" ixz=\"0\" iyz=\"0\"/>"
                        "</inertial>") +
                   Joint("j", "continuous", "base", "a")),
       "link 'a' has a negative mass"},
      {"indefinite",
       Description(Link("base", "") +
                   Link("a",
                        "<inertial><mass value=\"1\"/><inertia ixx=\"1\" "
                        "iyy=\"1\" izz=\"1\" ixy=\"2\" ixz=\"0\" iyz=\"0\"/>"
                        "</inertial>") +
                   Joint("j", "continuous", "base", "a")),
       "link 'a' has an inertia tensor that is not positive semi-definite"},
      // The URDF parser reports this one, yet returns a model with the mass left at 0.
      {"mass_not_a_number",
       Description(Link("base", "") +
                   Link("a",
                        "<inertial><mass value=\"nan\"/><inertia ixx=\"1\" iyy=\"1\" "
                        "izz=\"1\" ixy=\"0\" ixz=\"0\" iyz=\"0\"/></inertial>") +
                   Joint("j", "continuous", "base", "a")),
       "Inertial: mass [nan] is not a float; Could not parse inertial element for Link [a]"},
      {"zero_axis",
       Description(oneJoint + Joint("j", "continuous", "base", "a", "<axis xyz=\"0 0 0\"/>")),
       "joint 'j' has no usable axis"},
      {"too_many_joints", Description(longChain), "more than 100 moving joints"},
      {"too_many_links", Description(manyLinks), "more than 1000 links or joints"},
  };
  for (const Case& c : cases) {
    const std::string path = Write(std::string("bad_") + c.what + ".urdf", c.text);
    const Result r = RunSim("--urdf " + path);
    EXPECT_TRUE(r.status == 2 && r.out.empty()) << c.what << ": status " << r.status;
    EXPECT_EQ(r.err, "velmoth-sim: " + path + ": " + c.problem + "\n") << c.what;
    std::remove(path.c_str());
  }

  // Files that cannot be read, and wrong uses of the option, which name it.
  const std::string big = Write("bad_big.urdf", "");
  ASSERT_EQ(truncate(big.c_str(), 17 << 20), 0);
  const std::string missing = ::testing::TempDir() + "bad_missing.urdf";
  const std::string directory = ::testing::TempDir();
  const std::string unreadable[][2] = {
      {"terms --urdf " + missing, missing + ": cannot open: No such file or directory"},
      {"run --urdf " + directory, directory + ": cannot read: Is a directory"},
      {"--urdf " + big, big + ": larger than 16 MiB"},
      {"--links 6 --urdf " + kBuiltInUrdf, ""},
      {"--urdf ''", ""},
  };
  for (const auto& [args, problem] : unreadable) {
    const Result r = RunSim(args);
    EXPECT_TRUE(r.status == 2 && r.out.empty()) << args << ": status " << r.status;
    if (problem.empty()) {
      EXPECT_TRUE(r.err.find("--urdf") != r.err.npos && r.err.find('\n') == r.err.size() - 1)
          << args << ": " << r.err;
    } else {
      EXPECT_EQ(r.err, "velmoth-sim: " + problem + "\n") << args;
    }
  }
  std::remove(big.c_str());
}

}  // namespace
