// The frames' kinematics of the recursive engine against Orocos KDL on the tree KDL's own URDF
// parser builds from the same text: every frame's pose (KDL's tree positions), its Jacobian in
// the base frame's axes and in its own (KDL's tree Jacobian), on the samples, the built-in arm and
// random chains and trees with fixed frames, subtrees and joints held off the chain; J-dot qd
// against finite differences of the Jacobian along qd. The built-in arm's own frames by their
// names.
#include <array>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <kdl/jacobian.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/tree.hpp>
#include <kdl/treefksolverpos_recursive.hpp>
#include <kdl/treejnttojacsolver.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "random_tree.h"
#include "recursive/frames.h"
#include "urdf/urdf_loader.h"

namespace {

using recursive::FrameAxes;

struct Kinematics {
  explicit Kinematics(const Robot& robot)
      : model(recursive::BuildChainModel(robot)),
        frames(recursive::BuildFrameModels(robot)),
        data(model.Size()) {}

  void At(const std::vector<double>& q, const std::vector<double>& qd) {
    recursive::Kinematics(model, data, q.data(), qd.data(), {});
    recursive::Placements(model, data, qd.data());
  }

  std::vector<double> Jacobian(const recursive::FrameModel& frame, FrameAxes axes) {
    std::vector<double> j(6 * static_cast<std::size_t>(model.Size()));
    recursive::FrameJacobian(model, data, frame, axes, j.data());
    return j;
  }

  recursive::ChainModel model;
  std::vector<recursive::FrameModel> frames;
  recursive::ChainData data;
};

// J v of a 6 x n Jacobian held row by row.
using Twist = std::array<double, 6>;
Twist Times(const std::vector<double>& j, const std::vector<double>& v) {
  Twist out{};
  for (std::size_t e = 0; e < j.size(); ++e) {
    out[e / v.size()] += j[e] * v[e % v.size()];
  }
  return out;
}

// Poses, Jacobians and J-dot qd of every frame of the text's arm at random states.
void ExpectFrameKinematicsAgreeWithKdl(const std::string& text, std::mt19937_64& random,
                                       const UrdfOptions& options = {}) {
  std::string error;
  const std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(text, "text", error, options);
  ASSERT_TRUE(robot) << error;
  KDL::Tree tree;
  ASSERT_TRUE(kdl_parser::treeFromString(text, tree));
  const int n = static_cast<int>(robot->links.size());
  // The KDL joint index of each of our joints; the joints off the chain stay at 0.
  std::vector<unsigned> column(n);
  for (const auto& [name, element] : tree.getSegments()) {
    for (int i = 0; i < n; ++i) {
      if (GetTreeElementSegment(element).getJoint().getName() == robot->links[i]->jointName) {
        column[i] = GetTreeElementQNr(element);
      }
    }
  }
  Kinematics ours(*robot);
  ASSERT_EQ(ours.frames.size(), tree.getSegments().size());
  KDL::TreeFkSolverPos_recursive fk(tree);
  KDL::TreeJntToJacSolver jacobians(tree);
  std::uniform_real_distribution<double> value(-2, 2);
  for (int state = 0; state < 4; ++state) {
    std::vector<double> q(n), qd(n);
    KDL::JntArray kq(tree.getNrOfJoints());
    for (int i = 0; i < n; ++i) {
      kq(column[i]) = q[i] = value(random);
      qd[i] = value(random);
    }
    ours.At(q, qd);
    for (const recursive::FrameModel& frame : ours.frames) {
      SCOPED_TRACE(frame.name + ", state " + std::to_string(state));
      KDL::Frame pose;
      ASSERT_GE(fk.JntToCart(kq, pose, frame.name), 0);
      const spatial::Transform x = recursive::FramePose(ours.data, frame);
      for (int r = 0; r < 3; ++r) {
        EXPECT_NEAR(spatial::Get(x.p, r), pose.p(r), 1e-12);
        for (int c = 0; c < 3; ++c) {
          EXPECT_NEAR(x.r.m[r][c], pose.M(r, c), 1e-12);
        }
      }
      const std::vector<double> base = ours.Jacobian(frame, FrameAxes::kBase);
      const std::vector<double> own = ours.Jacobian(frame, FrameAxes::kFrame);
      KDL::Jacobian expected(tree.getNrOfJoints()), turned(tree.getNrOfJoints());
      if (frame.link >= 0) {
        ASSERT_GE(jacobians.JntToJac(kq, expected, frame.name), 0);
        turned = expected;
        turned.changeBase(pose.M.Inverse());
      }
      for (int r = 0; r < 6; ++r) {
        for (int i = 0; i < n; ++i) {
          const std::size_t at = static_cast<std::size_t>(r) * n + i;
          EXPECT_NEAR(base[at], frame.link < 0 ? 0.0 : expected(r, column[i]), 1e-12);
          EXPECT_NEAR(own[at], frame.link < 0 ? 0.0 : turned(r, column[i]), 1e-12);
        }
      }
      // J-dot qd against (J(q + h qd) - J(q - h qd)) qd / 2h. In the frame's axes the vectors turn
      // with the frame, d(R^T a)/dt = R^T da/dt - w x R^T a, which adds w x v of its own velocity.
      const Twist v = Times(own, qd);
      const double h = 1e-5, turn[3] = {v[4] * v[2] - v[5] * v[1], v[5] * v[0] - v[3] * v[2],
                                        v[3] * v[1] - v[4] * v[0]};
      for (const FrameAxes axes : {FrameAxes::kBase, FrameAxes::kFrame}) {
        double drift[6];
        recursive::FrameDriftAcceleration(ours.data, frame, axes, drift);
        Twist at[2];
        for (int side = 0; side < 2; ++side) {
          std::vector<double> moved = q;
          for (int i = 0; i < n; ++i) {
            moved[i] += (side == 0 ? h : -h) * qd[i];
          }
          ours.At(moved, qd);
          at[side] = Times(ours.Jacobian(frame, axes), qd);
        }
        ours.At(q, qd);
        const bool turns = axes == FrameAxes::kFrame;
        for (int r = 0; r < 6; ++r) {
          EXPECT_NEAR(drift[r], (at[0][r] - at[1][r]) / (2 * h) + (turns && r < 3 ? turn[r] : 0.0),
                      1e-6)
              << (turns ? "frame" : "base") << " axes, row " << r;
        }
      }
    }
  }
}

std::string Read(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(FrameKinematics, SamplesAndRandomChainsAndTreesAgreeWithKdl) {
  std::mt19937_64 random(26);
  for (const char* sample :
       {"double_pendulum", "planar_3link", "scara", "puma560", "arm7_gripper", "industrial6"}) {
    SCOPED_TRACE(sample);
    ExpectFrameKinematicsAgreeWithKdl(Read(std::string(VELMOTH_EXAMPLES) + "/" + sample + ".urdf"),
                                      random);
  }
  ExpectFrameKinematicsAgreeWithKdl(Read(VELMOTH_URDF_TESTS "/builtin_arm.urdf"), random);
  for (int t = 0; t < 30; ++t) {
    const RandomTree tree = MakeRandomTree(random, 1 + t % 7, t % 4, t % 3 == 0, t % 2 == 0);
    // Every other tree ends at a link drawn at random, the joints beyond and beside it held.
    const UrdfOptions options{t % 2 == 0 ? RandomTip(tree, random) : tree.last};
    SCOPED_TRACE(options.tip + " of " + tree.text);
    ExpectFrameKinematicsAgreeWithKdl(tree.text, random, options);
  }
}

// The built-in arm's frames: the base, each link where its joint turns and the tool at the end of
// the last link; straight, the arm reaches 0.3 m per link along y, and bent, each joint turns the
// rest about x.
TEST(FrameKinematics, TheBuiltInArmHasItsLinksAndATool) {
  const std::unique_ptr<Robot> robot = MakeBuiltInRobot(3);
  Kinematics arm(*robot);
  std::vector<std::string> names;
  for (const recursive::FrameModel& frame : arm.frames) {
    names.push_back(frame.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"base", "link0", "link1", "link2", "tool"}));
  const struct {
    std::vector<double> q;
    double tool[3];
  } cases[] = {
      {{0, 0, 0}, {0, 0.9, 0}},
      {{M_PI / 2, 0, 0}, {0, 0, 0.9}},
      {{0, M_PI / 2, -M_PI / 2}, {0, 0.6, 0.3}},
  };
  for (const auto& c : cases) {
    arm.At(c.q, {0, 0, 0});
    const spatial::Vec3 tool = recursive::FramePose(arm.data, arm.frames.back()).p;
    for (int r = 0; r < 3; ++r) {
      EXPECT_NEAR(spatial::Get(tool, r), c.tool[r], 1e-15)
          << c.q[0] << ", " << c.q[1] << ", " << c.q[2];
    }
  }
  EXPECT_EQ(recursive::FindFrame(arm.frames, "tool"), 4);
  EXPECT_EQ(recursive::FindFrame(arm.frames, "tool0"), -1);
}

}  // namespace
