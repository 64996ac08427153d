// The arm model: a Robot owns an ordered chain of Links, base first. Plain records with public
// fields; the dynamics read and write them directly, the panel edits friction and gravity, and the
// 3-D view reads the links to draw them.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "matrix/matrix.h"

enum JointType : int32_t { Fixed = 0, Revolute = 1, Prismatic = 2 };
enum JointAxis : int32_t { X = 0, Y = 1, Z = 2 };

struct Link {
  int32_t jointType = Revolute;  // a JointType code; other values neither move nor draw
  int32_t axis = X;              // a JointAxis code of the incoming frame
  double mass = 0.0;
  matrix<double> com{3};         // centre of mass in the link frame
  matrix<double> inertia{3, 3};  // about the centre of mass, link-frame axes, symmetric
  double offsetX = 0.0;          // offset pose carrying the link frame to the next incoming frame
  double offsetY = 0.0;
  double offsetZ = 0.0;
  double offsetRoll = 0.0;
  double offsetPitch = 0.0;
  double offsetYaw = 0.0;
  double radius = 0.0;    // drawing radius only
  std::string jointName;  // the moving joint's name in a description file; empty when built in
  // The joint's physics as its description file gives it: the range it may move in (-inf, inf:
  // none), the largest torque or force its motor applies (inf: none), and its own viscous and
  // Coulomb friction coefficients where the file gives them (fileFriction).
  double lower = -INFINITY;
  double upper = INFINITY;
  double effort = INFINITY;
  bool fileFriction = false;
  double fileViscous = 0.0;
  double fileCoulomb = 0.0;
  double q = 0.0;
  double qd = 0.0;
  double qdd = 0.0;

  // Working results of the kinematics pass of the dynamics, in base coordinates; the d... entries
  // are derivatives with respect to the q of joint k.
  matrix<double> rotationWorld{3, 3};
  matrix<double> axisWorld{3};
  matrix<double> originWorld{3};
  matrix<double> comWorld{3};
  std::vector<matrix<double>> dRotationWorld;
  std::vector<matrix<double>> dAxisWorld;
  std::vector<matrix<double>> dOriginWorld;
  std::vector<matrix<double>> dComWorld;
};

// A frame of the arm's description file, fixed to one link of the arm: every link of the file has
// one (the links the joints move, tool flanges, sensor and camera frames, the links of subtrees
// held fixed), named as the file names it.
struct NamedFrame {
  std::string name;
  int link = -1;  // the arm's link it is fixed to, or -1 for the base (the world frame)
  // Its pose in that link's frame: x -> rotation x + origin.
  double rotation[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  double origin[3] = {0.0, 0.0, 0.0};
};

// Which friction coefficients the joints take: kFile, a joint's own where its file gives them and
// the panel's (the Robot's uniform coefficients) elsewhere; kUniform, the panel's everywhere.
enum class FrictionSource : uint8_t { kFile, kUniform };

struct Robot {
  Robot(double gravityX, double gravityY, double gravityZ, double coulomb, double viscous);

  // Appends a revolute link about its incoming x axis.
  void AddLink(double mass, double comX, double comY, double comZ, double ixx, double iyy,
               double izz, double ixy, double iyz, double ixz, double offsetX, double offsetY,
               double offsetZ, double offsetRoll, double offsetPitch, double offsetYaw,
               double radius);

  // n x 1 joint positions, base first.
  matrix<double> GetJointAngles() const;

  // Puts every joint back at zero, at rest; nothing else changes.
  void ResetJointState();

  double coulombFriction;
  double viscousFriction;
  FrictionSource frictionSource = FrictionSource::kFile;
  // Whether the joints stop at their limits (lower, upper), and whether the applied torques
  // saturate at their efforts.
  bool limits = true;
  bool effortLimits = false;
  matrix<double> gravity{3};
  std::vector<std::unique_ptr<Link>> links;
  double kineticEnergy = 0.0;
  double potentialEnergy = 0.0;
  // The energy balance E - startEnergy = work - dissipated of forward ticks, at the instant of the
  // energies above: the work of the joint torques and the energy friction took since the balance
  // started, where the total energy was startEnergy. It starts afresh wherever the energy jumps
  // outside the ticks (a state or gravity set from outside, an inverse tick).
  double work = 0.0;
  double dissipated = 0.0;
  double startEnergy = 0.0;
  // Ticks that reached the step's cap of internal steps and ended at the accuracy it allows.
  uint64_t cappedTicks = 0;
  // Ticks whose step made energy without work beyond what it allows: a divergence, finite or not.
  uint64_t unphysicalTicks = 0;
  // Ticks that found the energy balance off beyond the step's allowance, the first of each
  // balance: the state is inaccurate, not diverged.
  uint64_t offBalanceTicks = 0;
  // The arm's own name (from its description file); empty for the built-in arm.
  std::string name;
  // The incoming frame of link 0 in base coordinates, 4 x 4: where the first joint sits and how it
  // is turned. The identity for the built-in arm.
  matrix<double> basePose = Identity4();
  // The frames of the description file, in its tree order (the root first); empty for the
  // built-in arm.
  std::vector<NamedFrame> frames;
};

// A copy of robot that shares nothing with it: every matrix is copied element by element, so the
// copy can be stepped on another thread (the matrices' reference counts are not atomic). The
// kinematics working values start empty, as in a new arm.
std::unique_ptr<Robot> CloneRobot(const Robot& robot);

// The name a person reads for joint i (base first): the file's name of the joint, or joint0,
// joint1, ... for the built-in arm's joints, which have none.
std::string JointName(const Robot& robot, std::size_t i);

// The viscous and Coulomb friction coefficients joint i takes (see FrictionSource).
double JointViscous(const Robot& robot, std::size_t i);
double JointCoulomb(const Robot& robot, std::size_t i);

// Whether some joint has friction coefficients of its own, and some joint a limit.
bool HasFileFriction(const Robot& robot);
bool HasJointLimits(const Robot& robot);

// Where joint i sits while the robot's limits are on: -1 at (or below) its lower limit, +1 at (or
// above) its upper one, 0 between them or without limits.
int JointAtLimit(const Robot& robot, std::size_t i);

// Whether every joint position, velocity and acceleration, the kinetic, potential and total energy
// and the balance's work and dissipation are finite: a run whose state is not has diverged.
bool StateIsFinite(const Robot& robot);

// The built-in arm: identical links of mass 1 kg, 0.3 m long, turning about x.
inline constexpr int kBuiltInLinkCount = 6;

// Appends one link of the built-in arm.
void AddBuiltInLink(Robot& robot);

// The panel's arm: gravity (0, 0, -9.81), both friction coefficients 0.1, energies 0, and
// linkCount built-in links.
std::unique_ptr<Robot> MakeBuiltInRobot(int linkCount = kBuiltInLinkCount);
