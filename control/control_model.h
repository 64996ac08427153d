// The controller's model of the arm, as passes of the recursive engine on a chain of its own: the
// arm's chain, or with a model error its last link heavier or lighter than the arm's (its centre of
// mass kept, its inertia scaled with its mass). Model and working values are made once; no pass
// allocates.
#pragma once

#include <vector>

#include "recursive/chain.h"
#include "recursive/frames.h"
#include "recursive/spatial.h"
#include "robot/robot.h"

class ControlModel {
 public:
  // The model of robot's arm with its last link massError kg heavier (no lighter than massless).
  ControlModel(const Robot& robot, double massError);

  int Joints() const { return model_.Size(); }
  // Whether joint i slides (its values are metres) rather than turns.
  bool Slides(int i) const;
  // The arm's frames (recursive::BuildFrameModels) and the index of the one called name, -1 when
  // there is none; empty name: the last frame.
  const std::vector<recursive::FrameModel>& Frames() const { return frames_; }
  int FrameNamed(const std::string& name) const;

  // tau = G(q) under gravity g: one Newton-Euler pass at rest.
  void Gravity(const double* q, const spatial::Vec3& g, double* tau);
  // tau = M(q) v + C(q, qd) qd + G(q): one Newton-Euler pass with the accelerations v.
  void InverseDynamics(const double* q, const double* qd, const double* v, const spatial::Vec3& g,
                       double* tau);
  // M(q), n x n row-major, by composite bodies.
  void MassMatrix(const double* q, double* mass);
  // The position of frame f at q and the linear rows of its Jacobian, 3 x n row-major, in the
  // base frame.
  void FramePosition(int f, const double* q, double* x, double* jacobian);
  // The frame's inertia Lambda = (J M^-1 J^T)^+ at q, 3 x 3 row-major, J the Jacobian's linear
  // rows (each row of J M^-1 J^T one impulse pass): the mass the frame's origin shows, by
  // direction (none along a direction it cannot move in).
  void FrameInertia(int f, const double* q, double* lambda);
  // After FramePosition: the frame's inertia Lambda at the positions it placed (three impulse
  // passes), 3 x 3 row-major.
  void PlacedFrameInertia(double* lambda);
  // After FramePosition, with the Lambda of PlacedFrameInertia: the part of the joint torques z
  // (n values) that moves the frame, taken out: z - J^T Lambda J M^-1 z. What is left accelerates
  // no motion of the frame (the null space of the dynamically consistent inverse of J). One
  // impulse pass.
  void NullSpace(const double* lambda, const double* z, double* out);

 private:
  recursive::ChainModel model_;
  recursive::ChainData data_;
  std::vector<recursive::FrameModel> frames_;
  // The frame's inverse inertia J M^-1 J^T, row by row, of the last FramePosition.
  void InverseInertia(double a[3][3]);

  std::vector<double> zeros_, jacobian_, p_, dqd_;
};
