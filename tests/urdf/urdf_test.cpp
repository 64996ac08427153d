// The loader and the dynamics: M, G and C qd of a loaded arm agree within 1e-10 with Orocos KDL's
// ChainDynParam (recursive Newton-Euler and composite bodies, a different method written by
// others) on the chain that KDL's own URDF parser builds from the same text, for the samples, the
// built-in arm and random chains with everything the loader folds away (arbitrary axes, turned
// joint and inertial origins, prismatic joints, fixed joints before, between and after the moving
// ones, moving links whose mass comes only from links fixed to them); and what the view needs from
// the samples.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <kdl/chaindynparam.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "dynamics/dynamics.h"
#include "urdf/urdf_loader.h"

namespace {

// Loads text and compares M, G and C qd at 10 random states with KDL on the chain that KDL's own
// parser builds from it.
void ExpectLoadedTextAgreesWithKdl(const std::string& text, std::mt19937_64& random) {
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(text, "text", error);
  ASSERT_TRUE(robot) << error;
  KDL::Tree tree;
  ASSERT_TRUE(kdl_parser::treeFromString(text, tree));
  std::string tip;  // the one leaf of the serial tree
  for (const auto& [name, element] : tree.getSegments()) {
    tip = GetTreeElementChildren(element).empty() ? name : tip;
  }
  KDL::Chain chain;
  ASSERT_TRUE(tree.getChain(tree.getRootSegment()->first, tip, chain));
  const auto n = static_cast<uint32_t>(robot->links.size());
  ASSERT_EQ(chain.getNrOfJoints(), n);
  const matrix<double>& g = robot->gravity;
  KDL::ChainDynParam kdl(chain, KDL::Vector(g(0, 0), g(1, 0), g(2, 0)));
  KDL::JntArray q(n), qd(n), coriolis(n), gravity(n);
  KDL::JntSpaceInertiaMatrix mass(n);
  // Joint positions in [-pi, pi] (in [-0.5, 0.5] m when sliding), velocities in [-2, 2].
  std::uniform_real_distribution<double> angle(-3.14159, 3.14159), length(-0.5, 0.5), rate(-2, 2);
  for (int state = 0; state < 10; ++state) {
    SCOPED_TRACE(testing::Message() << "state " << state);
    for (uint32_t i = 0; i < n; ++i) {
      Link& link = *robot->links[i];
      q(i) = link.q = link.jointType == Prismatic ? length(random) : angle(random);
      qd(i) = link.qd = rate(random);
    }
    ASSERT_EQ(
        kdl.JntToMass(q, mass) | kdl.JntToGravity(q, gravity) | kdl.JntToCoriolis(q, qd, coriolis),
        0);
    const EquationTerms t = EvaluateEquationTerms(*robot);
    const matrix<double> cqd = t.C * t.qd;
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t j = 0; j < n; ++j) {
        EXPECT_NEAR(t.M(i, j), mass(i, j), 1e-10) << "M(" << i << ", " << j << ")";
      }
      EXPECT_NEAR(t.G(i, 0), gravity(i), 1e-10) << "G(" << i << ")";
      EXPECT_NEAR(cqd(i, 0), coriolis(i), 1e-10) << "(C qd)(" << i << ")";
    }
  }
}

// A random serial chain of `moving` moving joints: each followed by up to two fixed joints, and
// up to two before the first; every tenth origin pitched by exactly a quarter turn.
std::string RandomChain(std::mt19937_64& random, int moving) {
  const auto num = [&](double low, double high) {  // %.17g: both parsers read the same double
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", std::uniform_real_distribution(low, high)(random));
    return std::string(text);
  };
  const auto three = [&](double low, double high) {
    return num(low, high) + " " + num(low, high) + " " + num(low, high);
  };
  const auto origin = [&](double r) {
    const bool quarter = std::uniform_int_distribution<int>(0, 9)(random) == 0;
    const std::string pitch = quarter ? "1.5707963267948966" : num(-3.1, 3.1);
    return "<origin xyz='" + three(-r, r) + "' rpy='" + num(-3.1, 3.1) + " " + pitch + " " +
           num(-3.1, 3.1) + "'/>";
  };
  const auto inertial = [&] {  // diagonally dominant, so positive definite
    return "<inertial>" + origin(0.2) + "<mass value='" + num(0.1, 3) + "'/><inertia ixx='" +
           num(0.04, 0.3) + "' iyy='" + num(0.04, 0.3) + "' izz='" + num(0.04, 0.3) + "' ixy='" +
           num(-0.01, 0.01) + "' ixz='" + num(-0.01, 0.01) + "' iyz='" + num(-0.01, 0.01) +
           "'/></inertial>";
  };
  std::string text = "<robot name='random'><link name='l0'/>";
  int links = 0;
  const auto joint = [&](const std::string& type, bool mass) {
    const std::string parent = "l" + std::to_string(links), child = "l" + std::to_string(++links);
    const std::string axes[] = {"1 0 0", "0 1 0", "0 0 1", "-1 0 0", "0 -1 0", "0 0 -1"};
    const int kind = std::uniform_int_distribution<int>(0, 7)(random);
    const std::string axis = kind < 6 ? axes[kind] : three(-3, 3);
    text += "<joint name='j" + child + "' type='" + type + "'><parent link='" + parent +
            "'/><child link='" + child + "'/>" + origin(0.4) +
            (type == "fixed" ? "" : "<axis xyz='" + axis + "'/>") +
            (type == "revolute" || type == "prismatic"
                 ? "<limit lower='-1' upper='1' effort='1' velocity='1'/>"
                 : "") +
            "</joint><link name='" + child + "'>" + (mass ? inertial() : "") + "</link>";
  };
  const auto count = [&] { return std::uniform_int_distribution<int>(0, 2)(random); };
  for (int f = count(); f > 0; --f) {
    joint("fixed", count() == 0);
  }
  for (int j = 0; j < moving; ++j) {
    const bool own = count() > 0;  // else its mass comes only from a fixed link
    joint(j % 3 == 2 ? "prismatic" : j % 3 == 1 ? "revolute" : "continuous", own);
    for (int f = own ? count() : 1 + count() % 2; f > 0; --f) {
      joint("fixed", true);
    }
  }
  return text + "</robot>";
}

TEST(Urdf, SamplesAgreeWithKdlAndGiveTheViewItsFramesAndSizes) {
  struct {
    const char* name;
    const char* joints;    // per link its kind and axis code
    double baseZ;          // the first joint's height
    double lastOffset[3];  // the last link's drawing extent, in its own frame
    double firstRadius;
  } const samples[] = {
      // The lower rod reaches twice as far as its centre of mass; the rods' cylinders give the
      // radius.
      {"double_pendulum", "RY RY", 2, {0, 0, -1}, 0.02},
      // Axes of -y turn the link frames so that x is the axis; the gripper joins the hand, and
      // its frame, 0.3 m along the hand's URDF x, lies along the turned y.
      {"planar_3link", "RX RX RX", 1, {0, 0.3, 0}, 0.05},
      // The tool frame 12 cm down the -z axis lies along the turned x.
      {"scara", "RZ RZ PX RX", 0.4, {0.12, 0, 0}, 0.05},
      // The first link has no length: a hundredth of the arm's reach.
      {"puma560",
       "RZ RZ RZ RZ RZ RZ",
       0.67,
       {0, 0, 0.05},
       0.01 * (0.4318 + std::hypot(0.0203, 0.15005) + 0.4318 + 0.05)},
  };
  std::mt19937_64 random(11);
  for (const auto& s : samples) {
    SCOPED_TRACE(s.name);
    const std::string path = std::string(VELMOTH_EXAMPLES) + "/" + s.name + ".urdf";
    std::ifstream file(path);
    ExpectLoadedTextAgreesWithKdl(std::string(std::istreambuf_iterator<char>(file), {}), random);
    std::string error;
    const std::unique_ptr<Robot> robot = LoadUrdfRobot(path, error);
    ASSERT_TRUE(robot) << error;
    EXPECT_TRUE(robot->name == s.name && robot->coulombFriction == 0.1 &&
                robot->viscousFriction == 0.1 && robot->gravity(2, 0) == -9.81);
    std::string joints;
    for (const auto& link : robot->links) {
      joints += std::string(joints.empty() ? "" : " ") +
                (link->jointType == Prismatic ? 'P' : 'R') + static_cast<char>('X' + link->axis);
    }
    EXPECT_EQ(joints, s.joints);
    EXPECT_NEAR(robot->basePose(2, 3), s.baseZ, 1e-12);
    const Link& last = *robot->links.back();
    EXPECT_NEAR(std::hypot(last.offsetX - s.lastOffset[0], last.offsetY - s.lastOffset[1],
                           last.offsetZ - s.lastOffset[2]),
                0, 1e-12);
    EXPECT_NEAR(robot->links[0]->radius, s.firstRadius, 1e-12);
  }
}

// The built-in arm (written as URDF; it loads into the arm velmoth-sim builds) and random chains.
TEST(Urdf, BuiltInArmAndRandomChainsAgreeWithKdl) {
  std::mt19937_64 random(11);
  std::ifstream builtIn(VELMOTH_URDF_TESTS "/builtin_arm.urdf");
  ExpectLoadedTextAgreesWithKdl(std::string(std::istreambuf_iterator<char>(builtIn), {}), random);
  for (int chain = 0; chain < 60; ++chain) {
    const std::string text = RandomChain(random, 1 + chain % 7);
    SCOPED_TRACE(text);
    ExpectLoadedTextAgreesWithKdl(text, random);
  }
}

}  // namespace
