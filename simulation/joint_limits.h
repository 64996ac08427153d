// Joint limits and efforts. A joint with limits moves between lower and upper; reaching one is an
// inelastic impact, after which it rests there while the arm pushes it into the limit:
//
//   impact   at the positions of the impact, the joints at a limit moving into it stop, the others
//            change their velocities as the arm's inertia says: M dqd = p with p_i = 0 on the
//            joints that keep moving and dqd_i = -qd_i on those that stop. A stopping joint's
//            impulse may only push it away from its limit; one whose impulse would pull it there
//            is left to move away instead, and a joint at a limit left moving into it stops (the
//            same search over locked joints as friction's modes, friction_modes.h). The impulse
//            does the work 1/2 sum_i p_i (qd_i + qd'_i) = 1/2 sum_stopping p_i qd_i <= 0; the
//            energy it takes goes to the dissipated D.
//   settling an impact can throw a joint resting at a limit off it, slowly, while the arm drives it
//            straight back: two joints pressed against their limits then trade impacts ever faster
//            (Zeno's accumulation of impacts), whose limit is every joint involved at rest at
//            its limit, held by the one-sided constraint. A joint left moving away from its limit
//            whose acceleration brings it back within an excursion qd^2 / (2 |qdd|) below the
//            step's resolution of positions is at the accumulation point already: it stops at the
//            limit with the impact (ModeEquation::Decide), its kinetic energy dissipated. A joint
//            that starts a step at a limit moving off it is not looked for at that limit again
//            before it turns back (events.h), so that no step ends at once on an event that the
//            continuous extension's own error makes.
//   resting  a joint at a limit, at rest, is held like a joint held by Coulomb friction, the limit
//            adding a force of its side alone: at its upper limit it stays while the torque that
//            drives it stays above -c (it leaves when pulled down harder than friction holds),
//            at its lower limit while it stays below c (friction_modes.h, events.h).
//
// Efforts: with the arm's effort limits on, each applied torque saturates at its joint's effort.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "matrix/matrix.h"
#include "robot/robot.h"
#include "simulation/equation.h"

// Where a joint is against its limits: bits of kAtLower and kAtUpper (both: a joint whose limits
// are equal cannot move at all).
inline constexpr uint8_t kAtLower = 1;
inline constexpr uint8_t kAtUpper = 2;

// The limits the ticks enforce, filled from the Robot: its links' while its limits are on, none
// (-inf, inf) otherwise.
struct JointLimits {
  void Fill(const Robot& robot);

  std::vector<double> lower, upper;
  bool any = false;  // some joint has a finite limit
};

bool operator==(const JointLimits& a, const JointLimits& b);

// at[i] of the positions q: kAtLower where q_i <= lower_i, kAtUpper where q_i >= upper_i.
void MarkLimits(const JointLimits& limits, const double* q, uint8_t* at);

// Puts every position past a limit at that limit; returns whether one was.
bool ClampPositions(const JointLimits& limits, double* q);

// Whether a joint at a limit (at) moves into it with velocity qd.
inline bool MovesInto(uint8_t at, double qd) {
  return ((at & kAtUpper) != 0 && qd > 0.0) || ((at & kAtLower) != 0 && qd < 0.0);
}

// Working values of the impact's search, sized for n joints.
struct ImpactWork {
  void Resize(int n);

  std::vector<uint8_t> stops;
  std::vector<double> p, dqd;
  bool struck = false;  // the last resolution had an impact to resolve
};

// The impact at the positions the equation last evaluated, of joints at their limits (at) with the
// velocities qd, which it changes (see the top of this file); returns the energy it takes (0 when
// no joint moves into its limit). Joints marked in settle (may be null), at a limit, stop there
// whichever way they move.
double ResolveImpacts(Equation& equation, const uint8_t* at, int n, double* qd, ImpactWork& work,
                      const uint8_t* settle = nullptr);

// The impact at the state (q, qd) as a decision point sees it: positions past a limit are put at
// it, at[i] marks where each joint is against its limits, and when a joint at a limit moves into
// it the equation evaluates the state and the impact is resolved (qd changes). Returns the energy
// the impact takes.
double ImpactAt(Equation& equation, Robot& robot, const JointLimits& limits, double* q, double* qd,
                uint8_t* at, ImpactWork& work);

// Puts the joints of a start outside their limits at the nearest limit, while the robot's limits
// are on. Returns the notice to give the user (empty when no joint was outside), naming each joint
// with where it was asked to start and where it starts.
std::string ClampStartToLimits(Robot& robot);

// The torques applied (n values) with the robot's effort limits: each of torque (n x 1) within
// +-effort of its joint (unchanged without effort limits, or where a joint has none); saturated[i]
// tells whether torque i was cut. Returns whether any was.
bool ApplyEfforts(const Robot& robot, const matrix<double>& torque, double* applied,
                  uint8_t* saturated);

// A joint more than this beyond one of its limits (rad or m) is past it, not at it.
inline constexpr double kPastLimitTolerance = 1e-6;

// What the window's strip says of the limits: "at a limit: quill (upper), elbow (lower); past a
// limit: joint_3 (upper); saturated: joint_2" naming the joints the limits hold at a limit, those
// more than kPastLimitTolerance beyond one (inverse ticks ignore the limits, and they may be off),
// and those whose torques saturate (saturated, n flags, may be empty); empty when none is.
std::string LimitStatusText(const Robot& robot, const std::vector<uint8_t>& saturated);
