// The equation of motion M(q) qdd + C(q, qd) qd + G(q) = tau as the integrators use it, from
// either engine: evaluate a state, then solve for accelerations (with an added joint inertia and
// with joints locked to given accelerations) or for torques. Friction is the integrators' part.
#pragma once

#include <cstdint>
#include <memory>

#include "robot/robot.h"
#include "simulation/step_options.h"

class Equation {
 public:
  virtual ~Equation() = default;

  // Evaluates the state (q, qd), n values each, of the robot's arm under its gravity; the solves
  // and energies below refer to this state. The robot's joint state may be changed.
  virtual void Evaluate(Robot& robot, const double* q, const double* qd) = 0;

  // Solves (M + A) qdd = tau - C qd - G for the free joints, A the diagonal of the joints' added
  // inertias armature[i] (null: none). A joint with locked[i] set (locked may be null) moves with
  // the given qdd[i], and tau[i] receives the generalized force it takes,
  // (M qdd + C qd + G)_i + armature[i] qdd[i]. A joint that cannot move (neither turning nor
  // sliding) is always locked at qdd = 0 and takes no force.
  virtual void Solve(const double* armature, double* tau, const uint8_t* locked, double* qdd) = 0;

  // An impulse at the positions last evaluated: (M + A) dqd = p for the free joints, given their
  // impulses p[i], A the diagonal of the added inertias armature[i] (null: none); a locked joint
  // changes its velocity by the given dqd[i], and p[i] receives the impulse that takes,
  // (M dqd)_i + armature[i] dqd[i]. A joint that cannot move keeps its velocity and takes none.
  // Without velocity terms and gravity this is also the solve of any linear system in M + A.
  virtual void Impulse(const double* armature, double* p, const uint8_t* locked, double* dqd) = 0;

  // tau = M qdd + C qd + G.
  virtual void Inverse(const double* qdd, double* tau) = 0;

  // The energies of the state last evaluated.
  virtual double KineticEnergy() = 0;
  virtual double PotentialEnergy() = 0;

  // The kinetic and potential energy of the state (q, qd), which may take less than Evaluate;
  // the solves need an Evaluate afterwards.
  virtual void Energies(Robot& robot, const double* q, const double* qd, double& kinetic,
                        double& potential) = 0;
};

// The equation of robot's arm by the given engine; the arm's links must not change afterwards
// (their joint state, friction and gravity may). The closed form solves exactly (Cholesky).
std::unique_ptr<Equation> MakeEquation(EngineKind engine, const Robot& robot);
