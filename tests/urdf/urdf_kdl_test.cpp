// A loaded arm against Orocos KDL: M, G and C qd of the Robot the loader makes from a URDF text
// agree with KDL's ChainDynParam on the chain that KDL's own URDF parser builds from the same
// text, at random states. The texts are the samples and random serial chains with every feature
// the loader folds away: arbitrary axes, turned joint and inertial origins, prismatic joints,
// fixed joints before, between and after the moving ones, and links whose mass comes only from
// links fixed to them.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <kdl/chain.hpp>
#include <kdl/chaindynparam.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "dynamics/dynamics.h"
#include "tests/dynamics/arms.h"
#include "urdf/urdf_loader.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The serial chain of KDL's tree from its root to its one leaf.
KDL::Chain KdlChain(const KDL::Tree& tree) {
  const KDL::SegmentMap& segments = tree.getSegments();
  std::string tip;
  for (const auto& [name, element] : segments) {
    if (GetTreeElementChildren(element).empty()) {
      tip = name;
    }
  }
  KDL::Chain chain;
  EXPECT_TRUE(
      tree.getChain(GetTreeElementSegment(tree.getRootSegment()->second).getName(), tip, chain));
  return chain;
}

void ExpectAgreesWithKdl(const std::string& text, std::mt19937_64& random) {
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(text, "text", error);
  ASSERT_TRUE(robot) << error;
  KDL::Tree tree;
  ASSERT_TRUE(kdl_parser::treeFromString(text, tree));
  const KDL::Chain chain = KdlChain(tree);
  const auto n = static_cast<uint32_t>(robot->links.size());
  ASSERT_EQ(chain.getNrOfJoints(), n);

  const matrix<double>& g = robot->gravity;
  KDL::ChainDynParam kdl(chain, KDL::Vector(g(0, 0), g(1, 0), g(2, 0)));
  KDL::JntArray q(n), qd(n), coriolis(n), gravity(n);
  KDL::JntSpaceInertiaMatrix mass(n);
  for (int state = 0; state < 10; ++state) {
    SCOPED_TRACE(testing::Message() << "state " << state);
    RandomState(*robot, random);
    for (uint32_t i = 0; i < n; ++i) {
      q(i) = robot->links[i]->q;
      qd(i) = robot->links[i]->qd;
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

// ---- Random serial chains as URDF text --------------------------------------------------------

class ChainWriter {
 public:
  explicit ChainWriter(std::mt19937_64& random) : random_(random) {}

  // A chain of `moving` moving joints, with fixed joints before, between and after them.
  std::string Write(int moving) {
    links_ = 0;
    text_ = "<robot name=\"random\">\n<link name=\"l0\"/>\n";
    Fixed(Count(0, 2), true);
    for (int j = 0; j < moving; ++j) {
      const bool ownMass = Uniform(0, 1) < 0.8;
      Joint(Pick({"revolute", "continuous", "prismatic"}), ownMass);
      // A moving link without mass of its own gets it from a link fixed to it.
      Fixed(ownMass ? Count(0, 2) : Count(1, 2), false);
    }
    return text_ + "</robot>\n";
  }

 private:
  double Uniform(double a, double b) {
    return std::uniform_real_distribution<double>(a, b)(random_);
  }
  int Count(int a, int b) { return std::uniform_int_distribution<int>(a, b)(random_); }
  template <typename T>
  T Pick(std::initializer_list<T> choices) {
    return choices.begin()[Count(0, static_cast<int>(choices.size()) - 1)];
  }

  // Numbers as %.17g, so that both parsers read the same doubles.
  std::string Numbers(std::initializer_list<double> values) {
    std::string s;
    for (double v : values) {
      char text[32];
      std::snprintf(text, sizeof text, "%s%.17g", s.empty() ? "" : " ", v);
      s += text;
    }
    return s;
  }

  // Turned or not, and exactly at a quarter turn now and then.
  std::string Origin(double reach) {
    const double angle = Pick({0.0, 1.0, 1.0, 1.0}) * Uniform(-3.14159, 3.14159);
    const double pitch = Pick({angle, 1.5707963267948966, -1.5707963267948966, angle});
    return "<origin xyz=\"" +
           Numbers({Uniform(-reach, reach), Uniform(-reach, reach), Uniform(-reach, reach)}) +
           "\" rpy=\"" + Numbers({Uniform(-3.14, 3.14), pitch, Uniform(-3.14, 3.14)}) + "\"/>";
  }

  // Diagonally dominant, so positive definite; the origin turns it further.
  std::string Inertial() {
    const double xx = Uniform(0.01, 0.3), yy = Uniform(0.01, 0.3), zz = Uniform(0.01, 0.3);
    const double d = std::min({xx, yy, zz}) / 4;
    return "<inertial>" + Origin(0.2) + "<mass value=\"" + Numbers({Uniform(0.1, 3.0)}) +
           "\"/><inertia ixx=\"" + Numbers({xx}) + "\" iyy=\"" + Numbers({yy}) + "\" izz=\"" +
           Numbers({zz}) + "\" ixy=\"" + Numbers({Uniform(-d, d)}) + "\" ixz=\"" +
           Numbers({Uniform(-d, d)}) + "\" iyz=\"" + Numbers({Uniform(-d, d)}) + "\"/></inertial>";
  }

  // The coordinate axes both ways, and unit and longer vectors in any direction.
  std::string Axis() {
    const int kind = Count(0, 7);
    if (kind < 6) {
      double v[3] = {0, 0, 0};
      v[kind % 3] = kind < 3 ? 1.0 : -1.0;
      return Numbers({v[0], v[1], v[2]});
    }
    const double x = Uniform(-1, 1), y = Uniform(-1, 1), z = Uniform(-1, 1);
    const double scale = kind == 6 ? 1.0 / std::sqrt(x * x + y * y + z * z) : 3.0;
    return Numbers({x * scale, y * scale, z * scale});
  }

  void Link(bool mass) {
    text_ += "<link name=\"l" + std::to_string(++links_) + "\">" + (mass ? Inertial() : "") +
             "</link>\n";
  }

  void JointHead(const std::string& type) {
    text_ += "<joint name=\"j" + std::to_string(links_) + "\" type=\"" + type +
             "\"><parent link=\"l" + std::to_string(links_) + "\"/><child link=\"l" +
             std::to_string(links_ + 1) + "\"/>" + Origin(0.4);
  }

  void Joint(const std::string& type, bool mass) {
    JointHead(type);
    text_ += "<axis xyz=\"" + Axis() + "\"/>";
    if (type != "continuous") {
      text_ += "<limit lower=\"-1\" upper=\"1\" effort=\"10\" velocity=\"1\"/>";
    }
    text_ += "</joint>\n";
    Link(mass);
  }

  void Fixed(int count, bool beforeFirst) {
    for (int i = 0; i < count; ++i) {
      JointHead("fixed");
      text_ += "</joint>\n";
      Link(beforeFirst ? Uniform(0, 1) < 0.3 : true);
    }
  }

  std::mt19937_64& random_;
  std::string text_;
  int links_ = 0;
};

TEST(UrdfKdl, SamplesAgreeWithKdl) {
  std::mt19937_64 random(7);
  for (const char* name : {"double_pendulum", "planar_3link", "scara", "puma560"}) {
    SCOPED_TRACE(name);
    ExpectAgreesWithKdl(ReadText(std::string(VELMOTH_EXAMPLES) + "/" + name + ".urdf"), random);
  }
}

TEST(UrdfKdl, RandomChainsAgreeWithKdl) {
  std::mt19937_64 random(11);
  ChainWriter writer(random);
  for (int chain = 0; chain < 60; ++chain) {
    const std::string text = writer.Write(1 + chain % 7);
    SCOPED_TRACE(text);
    ExpectAgreesWithKdl(text, random);
  }
}

}  // namespace
