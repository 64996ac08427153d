// What the loader makes of a file beyond the dynamics (which the KDL comparison checks): the
// built-in arm written as URDF gives the built-in Robot bit for bit, and each sample gets its
// name, joint kinds and axis codes, base position, merged masses, drawing extent of the last link
// and drawing radius.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "robot/robot.h"
#include "urdf/urdf_loader.h"

namespace {

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameBits(const matrix<double>& a, const matrix<double>& b) {
  if (a.RowCount() != b.RowCount() || a.ColCount() != b.ColCount()) {
    return false;
  }
  for (uint32_t r = 0; r < a.RowCount(); ++r) {
    for (uint32_t c = 0; c < a.ColCount(); ++c) {
      if (!SameBits(a(r, c), b(r, c))) {
        return false;
      }
    }
  }
  return true;
}

TEST(UrdfLoader, BuiltInArmAsUrdfIsTheBuiltInRobot) {
  std::string error = "stale";
  const std::unique_ptr<Robot> loaded =
      LoadUrdfRobot(std::string(VELMOTH_URDF_TESTS) + "/builtin_arm.urdf", error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(error, "");
  const std::unique_ptr<Robot> builtIn = MakeBuiltInRobot();
  EXPECT_EQ(loaded->name, "builtin");
  EXPECT_TRUE(SameBits(loaded->basePose, builtIn->basePose));
  EXPECT_TRUE(SameBits(loaded->gravity, builtIn->gravity));
  for (auto field : {&Robot::coulombFriction, &Robot::viscousFriction, &Robot::kineticEnergy,
                     &Robot::potentialEnergy}) {
    EXPECT_TRUE(SameBits((*loaded).*field, (*builtIn).*field));
  }
  ASSERT_EQ(loaded->links.size(), builtIn->links.size());
  for (std::size_t j = 0; j < loaded->links.size(); ++j) {
    SCOPED_TRACE(testing::Message() << "link " << j);
    const Link &a = *loaded->links[j], &b = *builtIn->links[j];
    EXPECT_EQ(a.jointType, b.jointType);
    EXPECT_EQ(a.axis, b.axis);
    EXPECT_TRUE(SameBits(a.com, b.com));
    EXPECT_TRUE(SameBits(a.inertia, b.inertia));
    for (auto field :
         {&Link::mass, &Link::offsetX, &Link::offsetY, &Link::offsetZ, &Link::offsetRoll,
          &Link::offsetPitch, &Link::offsetYaw, &Link::radius, &Link::q, &Link::qd, &Link::qdd}) {
      EXPECT_TRUE(SameBits(a.*field, b.*field)) << a.*field << " vs " << b.*field;
    }
  }
}

struct Sample {
  const char* file;
  const char* joints;  // per link its kind (Revolute, Prismatic) and axis code
  double base[3];      // where the first joint sits
  std::vector<double> masses;
  double lastOffset[3];  // the last link's drawing extent in its own frame
  double firstRadius;
};

TEST(UrdfLoader, SamplesLoadWithTheirStructure) {
  const Sample samples[] = {
      // Hangs from a pivot 2 m up; the last rod reaches twice as far as its centre of mass.
      {"double_pendulum", "RY RY", {0, 0, 2}, {1, 1}, {0, 0, -1}, 0.02},
      // Joints about -y turn the link frames so that x is the axis; the gripper's 0.2 kg joins the
      // hand, and its frame, 0.3 m along the hand's URDF x axis, is 0.3 m along the turned y.
      {"planar_3link", "RX RX RX", {0, 0, 1}, {3, 2, 1.2}, {0, 0.3, 0}, 0.05},
      // The elbow housing and bearing block join the outer arm; the quill slides along -z, the
      // wrist turns about -z, and the tool 6 cm below the flange lies along the turned x.
      {"scara", "RZ RZ PX RX", {0, 0, 0.4}, {4, 4.3, 0.5, 0.3}, {0.06, 0, 0}, 0.05},
      // A pedestal puts the first joint 0.67 m up; the first link has no length, so its radius
      // is a hundredth of the arm's reach; a 5 cm tool frame ends the arm.
      {"puma560",
       "RZ RZ RZ RZ RZ RZ",
       {0, 0, 0.67},
       {0, 17.4, 4.8, 0.82, 0.34, 0.09},
       {0, 0, 0.05},
       0.01 * (0.4318 + std::hypot(0.0203, 0.15005) + 0.4318 + 0.05)},
  };
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.file);
    std::string error;
    const std::unique_ptr<Robot> robot =
        LoadUrdfRobot(std::string(VELMOTH_EXAMPLES) + "/" + s.file + ".urdf", error);
    ASSERT_TRUE(robot) << error;
    EXPECT_EQ(robot->name, s.file);
    EXPECT_TRUE(robot->coulombFriction == 0.1 && robot->viscousFriction == 0.1 &&
                robot->gravity(2, 0) == -9.81);
    std::string joints;
    for (const auto& link : robot->links) {
      joints += joints.empty() ? "" : " ";
      joints += link->jointType == Prismatic ? 'P' : link->jointType == Revolute ? 'R' : '?';
      joints += static_cast<char>('X' + link->axis);
    }
    EXPECT_EQ(joints, s.joints);
    for (uint32_t i = 0; i < 3; ++i) {
      EXPECT_NEAR(robot->basePose(i, 3), s.base[i], 1e-12);
    }
    ASSERT_EQ(robot->links.size(), s.masses.size());
    for (std::size_t j = 0; j < s.masses.size(); ++j) {
      EXPECT_NEAR(robot->links[j]->mass, s.masses[j], 1e-12) << "link " << j;
    }
    const Link& last = *robot->links.back();
    EXPECT_NEAR(last.offsetX, s.lastOffset[0], 1e-12);
    EXPECT_NEAR(last.offsetY, s.lastOffset[1], 1e-12);
    EXPECT_NEAR(last.offsetZ, s.lastOffset[2], 1e-12);
    EXPECT_NEAR(robot->links[0]->radius, s.firstRadius, 1e-12);
  }
}

}  // namespace
