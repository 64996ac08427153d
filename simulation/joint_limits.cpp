#include "simulation/joint_limits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void JointLimits::Fill(const Robot& robot) {
  const std::size_t n = robot.links.size();
  lower.resize(n);
  upper.resize(n);
  any = false;
  for (std::size_t i = 0; i < n; ++i) {
    const Link& link = *robot.links[i];
    lower[i] = robot.limits ? link.lower : -INFINITY;
    upper[i] = robot.limits ? link.upper : INFINITY;
    any = any || lower[i] > -INFINITY || upper[i] < INFINITY;
  }
}

bool operator==(const JointLimits& a, const JointLimits& b) {
  return a.any == b.any && a.lower == b.lower && a.upper == b.upper;
}

void MarkLimits(const JointLimits& limits, const double* q, uint8_t* at) {
  for (std::size_t i = 0; i < limits.lower.size(); ++i) {
    at[i] = static_cast<uint8_t>((q[i] <= limits.lower[i] ? kAtLower : 0) |
                                 (q[i] >= limits.upper[i] ? kAtUpper : 0));
  }
}

bool ClampPositions(const JointLimits& limits, double* q) {
  bool clamped = false;
  for (std::size_t i = 0; i < limits.lower.size(); ++i) {
    if (q[i] > limits.upper[i]) {
      q[i] = limits.upper[i];
      clamped = true;
    } else if (q[i] < limits.lower[i]) {
      q[i] = limits.lower[i];
      clamped = true;
    }
  }
  return clamped;
}

void ImpactWork::Resize(int n) {
  const auto size = static_cast<std::size_t>(n);
  stops.resize(size);
  p.resize(size);
  dqd.resize(size);
}

double ResolveImpacts(Equation& equation, const uint8_t* at, int n, double* qd, ImpactWork& work,
                      const uint8_t* settle) {
  bool into = false;
  for (int i = 0; i < n; ++i) {
    into = into || MovesInto(at[i], qd[i]) || (settle != nullptr && settle[i] != 0);
  }
  work.struck = into;
  if (!into) {
    return 0.0;
  }
  uint8_t* stops = work.stops.data();
  double* p = work.p.data();
  double* dqd = work.dqd.data();
  // Every joint at a limit is tried as stopping; the search then frees those its impulse would
  // pull into their limits and stops those left moving into them, all at once, or one at a time
  // should that cycle (as friction's modes are decided).
  for (int i = 0; i < n; ++i) {
    stops[i] = at[i] != 0;
  }
  const int allAtOnce = n + 2;
  const int limit = 4 * n + 8;
  for (int attempt = 0;; ++attempt) {
    for (int i = 0; i < n; ++i) {
      p[i] = 0.0;
      dqd[i] = stops[i] ? -qd[i] : 0.0;
    }
    equation.Impulse(nullptr, p, stops, dqd);
    if (attempt == limit) {
      break;
    }
    bool settled = true;
    for (int i = 0; i < n; ++i) {
      const uint8_t side = at[i];
      if (side == 0 || side == (kAtLower | kAtUpper) || (settle != nullptr && settle[i] != 0)) {
        continue;  // no limit, held at both, or settling
      }
      // An impulse pulling the joint into its limit, or a joint left moving into it.
      const bool change =
          stops[i] ? (side == kAtUpper ? p[i] > 0.0 : p[i] < 0.0) : MovesInto(side, qd[i] + dqd[i]);
      if (change && (settled || attempt < allAtOnce)) {
        stops[i] = stops[i] == 0;
      }
      settled = settled && !change;
    }
    if (settled) {
      break;
    }
  }
  // The impulse's work, 1/2 p . (qd + qd'), is done at the stopping joints alone, where qd' = 0.
  double done = 0.0;
  for (int i = 0; i < n; ++i) {
    if (stops[i]) {
      done += p[i] * qd[i];
      qd[i] = 0.0;
    } else {
      qd[i] += dqd[i];
    }
  }
  return -0.5 * done;
}

double ImpactAt(Equation& equation, Robot& robot, const JointLimits& limits, double* q, double* qd,
                uint8_t* at, ImpactWork& work) {
  ClampPositions(limits, q);
  MarkLimits(limits, q, at);
  work.struck = false;
  const auto n = static_cast<int>(limits.lower.size());
  for (int i = 0; i < n; ++i) {
    if (MovesInto(at[i], qd[i])) {
      equation.Evaluate(robot, q, qd);
      return ResolveImpacts(equation, at, n, qd, work);
    }
  }
  return 0.0;
}

std::string ClampStartToLimits(Robot& robot) {
  if (!robot.limits) {
    return "";
  }
  std::string moved;
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    Link& link = *robot.links[i];
    if (!(link.q < link.lower || link.q > link.upper)) {
      continue;
    }
    const double to = link.q < link.lower ? link.lower : link.upper;
    char text[160];
    std::snprintf(text, sizeof text, " starts at %g (limits %g to %g) instead of %g", to,
                  link.lower, link.upper, link.q);
    moved += (moved.empty() ? "'" : ", '") + JointName(robot, i) + "'" + text;
    link.q = to;
  }
  return moved.empty() ? moved : "the start is outside the joint limits: " + moved;
}

bool ApplyEfforts(const Robot& robot, const matrix<double>& torque, double* applied,
                  uint8_t* saturated) {
  bool any = false;
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    const double t = torque(static_cast<uint32_t>(i), 0);
    const double effort = robot.links[i]->effort;
    const bool cut = robot.effortLimits && (t > effort || t < -effort);
    applied[i] = cut ? (t > 0.0 ? effort : -effort) : t;
    saturated[i] = cut;
    any = any || cut;
  }
  return any;
}

std::string LimitStatusText(const Robot& robot, const std::vector<uint8_t>& saturated) {
  std::string atLimit, pastLimit, cut;
  const auto add = [&](std::string& list, std::size_t i, int side) {
    list += (list.empty() ? "" : ", ") + JointName(robot, i) + (side > 0 ? " (upper)" : " (lower)");
  };
  for (std::size_t i = 0; i < robot.links.size(); ++i) {
    const Link& link = *robot.links[i];
    // Beyond a limit by more than the tolerance (inverse ticks ignore limits, and they may be
    // off): past it, whether the limits are on or not; else at it where they hold the joint.
    const int past = link.q > link.upper + kPastLimitTolerance   ? 1
                     : link.q < link.lower - kPastLimitTolerance ? -1
                                                                 : 0;
    if (past != 0) {
      add(pastLimit, i, past);
    } else if (const int side = JointAtLimit(robot, i); side != 0) {
      add(atLimit, i, side);
    }
    if (i < saturated.size() && saturated[i] != 0) {
      cut += (cut.empty() ? "" : ", ") + JointName(robot, i);
    }
  }
  std::string text;
  for (const auto& [list, what] :
       {std::pair{&atLimit, "at a limit: "}, std::pair{&pastLimit, "past a limit: "},
        std::pair{&cut, "saturated: "}}) {
    if (!list->empty()) {
      text += (text.empty() ? "" : "; ") + std::string(what) + *list;
    }
  }
  return text;
}
