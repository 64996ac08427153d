// The gains a controller takes by default: every motion critically damped at the natural
// frequency w, as the model's inertia sees it at the pose the gains are made for (the target's
// joint positions; for task-pd the start's).
//
//   pd               Kp = M w^2, Kd = 2 M w, n x n: the linearised error M e'' + Kd e' + Kp e = 0
//                    is e'' + 2 w e' + w^2 e = 0 in every mode. Gains from M's diagonal alone
//                    would leave the modes the arm couples stiffer by the eigenvalues of
//                    M^-1 diag(M) (over 400 on the built-in arm of six links), which a sampled
//                    law or a step of 0.01 s cannot follow: the arm would diverge at once.
//   computed-torque  Kp = w^2 E, Kd = 2 w E (M is in the law already).
//   task-pd          Kx = Lambda w^2, Dx = 2 Lambda w, 3 x 3, Lambda = (J M^-1 J^T)^-1 the
//                    frame's inertia, the same in the frame's directions. The law takes Lambda
//                    where the arm is (task_pd.cpp), as the frame's inertia changes much along a
//                    path (the PUMA's turns its coupling's sign within 0.2 rad); these are its
//                    values at the start. Kn = 2 zeta_n w M, n x n, a damping of the joints'
//                    motion that leaves the frame where it is (zeta_n = kNullDamping).
//
// Gains the user gives are per joint (per axis), diagonal matrices, and constant.
#pragma once

#include <vector>

#include "control/control_model.h"
#include "control/control_settings.h"

// The joints' damping ratio of task-pd's default Kn.
inline constexpr double kNullDamping = 0.5;

// Square matrices, row-major: n x n (task-pd's kp and kd 3 x 3).
struct DefaultGains {
  std::vector<double> kp, kd, kn;
};

// The joint laws' defaults at the joint positions q.
DefaultGains JointGains(ControlModel& model, ControllerKind kind, const double* q, double w);
// task-pd's, for frame f at the joint positions q.
DefaultGains TaskGains(ControlModel& model, int f, const double* q, double w);
