#include "robot/robot.h"

#include <cmath>

namespace {

matrix<double> CopyMatrix(const matrix<double>& m) {
  matrix<double> copy(m.RowCount(), m.ColCount());
  for (uint32_t r = 0; r < m.RowCount(); ++r) {
    for (uint32_t c = 0; c < m.ColCount(); ++c) {
      copy(r, c) = m(r, c);
    }
  }
  return copy;
}

}  // namespace

Robot::Robot(double gravityX, double gravityY, double gravityZ, double coulomb, double viscous)
    : coulombFriction(coulomb), viscousFriction(viscous) {
  gravity(0, 0) = gravityX;
  gravity(1, 0) = gravityY;
  gravity(2, 0) = gravityZ;
}

void Robot::AddLink(double mass, double comX, double comY, double comZ, double ixx, double iyy,
                    double izz, double ixy, double iyz, double ixz, double offsetX, double offsetY,
                    double offsetZ, double offsetRoll, double offsetPitch, double offsetYaw,
                    double radius) {
  auto link = std::make_unique<Link>();
  link->jointType = Revolute;
  link->axis = X;
  link->mass = mass;
  link->com(0, 0) = comX;
  link->com(1, 0) = comY;
  link->com(2, 0) = comZ;
  link->inertia(0, 0) = ixx;
  link->inertia(1, 1) = iyy;
  link->inertia(2, 2) = izz;
  link->inertia(0, 1) = ixy;
  link->inertia(1, 0) = ixy;
  link->inertia(1, 2) = iyz;
  link->inertia(2, 1) = iyz;
  link->inertia(0, 2) = ixz;
  link->inertia(2, 0) = ixz;
  link->offsetX = offsetX;
  link->offsetY = offsetY;
  link->offsetZ = offsetZ;
  link->offsetRoll = offsetRoll;
  link->offsetPitch = offsetPitch;
  link->offsetYaw = offsetYaw;
  link->radius = radius;
  link->q = 0.0;
  link->qd = 0.0;
  link->qdd = 0.0;
  links.push_back(std::move(link));
}

matrix<double> Robot::GetJointAngles() const {
  const auto n = static_cast<uint32_t>(links.size());
  matrix<double> angles(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    angles(i, 0) = links[i]->q;
  }
  return angles;
}

void Robot::ResetJointState() {
  for (auto& link : links) {
    link->qdd = 0.0;
    link->qd = 0.0;
    link->q = 0.0;
  }
}

double JointViscous(const Robot& robot, std::size_t i) {
  const Link& link = *robot.links[i];
  return robot.frictionSource == FrictionSource::kFile && link.fileFriction ? link.fileViscous
                                                                            : robot.viscousFriction;
}

double JointCoulomb(const Robot& robot, std::size_t i) {
  const Link& link = *robot.links[i];
  return robot.frictionSource == FrictionSource::kFile && link.fileFriction ? link.fileCoulomb
                                                                            : robot.coulombFriction;
}

bool HasFileFriction(const Robot& robot) {
  for (const auto& link : robot.links) {
    if (link->fileFriction) {
      return true;
    }
  }
  return false;
}

bool HasJointLimits(const Robot& robot) {
  for (const auto& link : robot.links) {
    if (link->lower > -INFINITY || link->upper < INFINITY) {
      return true;
    }
  }
  return false;
}

int JointAtLimit(const Robot& robot, std::size_t i) {
  const Link& link = *robot.links[i];
  if (!robot.limits) {
    return 0;
  }
  return link.q <= link.lower ? -1 : link.q >= link.upper ? 1 : 0;
}

std::string JointName(const Robot& robot, std::size_t i) {
  const std::string& name = robot.links[i]->jointName;
  return name.empty() ? "joint" + std::to_string(i) : name;
}

bool StateIsFinite(const Robot& robot) {
  for (const auto& link : robot.links) {
    if (!std::isfinite(link->q) || !std::isfinite(link->qd) || !std::isfinite(link->qdd)) {
      return false;
    }
  }
  // Two huge but finite energies can still add up to a total that is not; and the balance's work
  // and dissipation are the state's too.
  return std::isfinite(robot.kineticEnergy) && std::isfinite(robot.potentialEnergy) &&
         std::isfinite(robot.kineticEnergy + robot.potentialEnergy) && std::isfinite(robot.work) &&
         std::isfinite(robot.dissipated);
}

void AddBuiltInLink(Robot& robot) {
  robot.AddLink(1.0,               // mass
                0.0, 0.15, 0.0,    // centre of mass
                0.01, 0.01, 0.01,  // Ixx, Iyy, Izz
                0.0, 0.0, 0.0,     // Ixy, Iyz, Ixz
                0.0, 0.3, 0.0,     // offset translation
                0.0, 0.0, 0.0,     // offset roll, pitch, yaw
                0.03);             // radius
}

std::unique_ptr<Robot> MakeBuiltInRobot(int linkCount) {
  auto robot = std::make_unique<Robot>(0.0, 0.0, -9.81, 0.1, 0.1);
  robot->kineticEnergy = 0.0;
  robot->potentialEnergy = 0.0;
  for (int i = 0; i < linkCount; ++i) {
    AddBuiltInLink(*robot);
  }
  return robot;
}

std::unique_ptr<Robot> CloneRobot(const Robot& robot) {
  auto copy = std::make_unique<Robot>(robot.gravity(0, 0), robot.gravity(1, 0), robot.gravity(2, 0),
                                      robot.coulombFriction, robot.viscousFriction);
  copy->gravity = CopyMatrix(robot.gravity);
  copy->kineticEnergy = robot.kineticEnergy;
  copy->potentialEnergy = robot.potentialEnergy;
  copy->work = robot.work;
  copy->dissipated = robot.dissipated;
  copy->startEnergy = robot.startEnergy;
  copy->cappedTicks = robot.cappedTicks;
  copy->unphysicalTicks = robot.unphysicalTicks;
  copy->offBalanceTicks = robot.offBalanceTicks;
  copy->frictionSource = robot.frictionSource;
  copy->limits = robot.limits;
  copy->effortLimits = robot.effortLimits;
  copy->name = robot.name;
  copy->basePose = CopyMatrix(robot.basePose);
  copy->frames = robot.frames;
  for (const auto& from : robot.links) {
    auto link = std::make_unique<Link>();
    link->jointType = from->jointType;
    link->axis = from->axis;
    link->jointName = from->jointName;
    link->mass = from->mass;
    link->com = CopyMatrix(from->com);
    link->inertia = CopyMatrix(from->inertia);
    link->offsetX = from->offsetX;
    link->offsetY = from->offsetY;
    link->offsetZ = from->offsetZ;
    link->offsetRoll = from->offsetRoll;
    link->offsetPitch = from->offsetPitch;
    link->offsetYaw = from->offsetYaw;
    link->radius = from->radius;
    link->lower = from->lower;
    link->upper = from->upper;
    link->effort = from->effort;
    link->fileFriction = from->fileFriction;
    link->fileViscous = from->fileViscous;
    link->fileCoulomb = from->fileCoulomb;
    link->q = from->q;
    link->qd = from->qd;
    link->qdd = from->qdd;
    copy->links.push_back(std::move(link));
  }
  return copy;
}
