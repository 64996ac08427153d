#include "simulation/external_forces.h"

#include <algorithm>
#include <cmath>

#include "simulation/stepper.h"

using spatial::Cross;
using spatial::Dot;
using spatial::Vec3;

namespace {

Vec3 Of(const double (&v)[3]) {
  return {v[0], v[1], v[2]};
}

bool Finite(const double (&v)[3]) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// x placed: r x + p.
Vec3 Placed(const spatial::Transform& t, const Vec3& x) {
  return t.r * x + t.p;
}

}  // namespace

void PullGains(double armMass, double scale, Pull& pull) {
  pull.stiffness = kPullStiffness * armMass * scale;
  pull.damping = kPullDamping * armMass * std::sqrt(scale);
  pull.maxForce = kPullForce * armMass;
}

double ArmMass(const Robot& robot) {
  double mass = 0.0;
  for (const auto& link : robot.links) {
    mass += link->mass;
  }
  return mass;
}

ExternalTorques::ExternalTorques(const Robot& robot)
    : model_(recursive::BuildChainModel(robot)),
      data_(model_.Size()),
      frames_(recursive::BuildFrameModels(robot)) {
  const auto n = static_cast<std::size_t>(model_.Size());
  jacobian_.resize(3 * n);
  impulse_.resize(n);
  change_.resize(n);
}

std::string ExternalTorques::Set(const ArmForces& forces) {
  std::vector<Resolved> resolved;
  for (const ExternalForce& force : forces.forces) {
    const int f = recursive::FindFrame(frames_, force.frame);
    if (f < 0) {
      std::string error = "the arm has no frame '" + force.frame + "'; its frames are";
      for (std::size_t i = 0; i < frames_.size(); ++i) {
        error += (i == 0 ? " '" : ", '") + frames_[i].name + "'";
      }
      return error;
    }
    if (!Finite(force.force) || !Finite(force.moment) || !Finite(force.point)) {
      return "the force on '" + force.frame + "' is not finite";
    }
    const recursive::FrameModel& frame = frames_[static_cast<std::size_t>(f)];
    Resolved& r = resolved.emplace_back();
    r.link = frame.link;
    r.at = Placed(frame.pose, Of(force.point));
    r.force = Of(force.force);
    r.moment = Of(force.moment);
    r.frameAxes = force.axes == ForceAxes::kFrame;
    r.turn = frame.pose.r;
  }
  if (forces.pull) {
    const Pull& pull = *forces.pull;
    if (pull.link < 0 || pull.link >= model_.Size()) {
      return "the pull's link " + std::to_string(pull.link) + " is not one of the arm's " +
             std::to_string(model_.Size()) + " links";
    }
    if (!Finite(pull.point) || !Finite(pull.target) || !std::isfinite(pull.stiffness) ||
        !std::isfinite(pull.damping) || std::isnan(pull.maxForce)) {
      return "the pull is not finite";
    }
  }
  forces_ = forces;
  resolved_ = std::move(resolved);
  stiffness_ = forces_.pull ? forces_.pull->stiffness : 0.0;
  damping_ = forces_.pull ? forces_.pull->damping : 0.0;
  return "";
}

void ExternalTorques::PullJacobian(const Vec3& p) {
  const int n = model_.Size(), link = forces_.pull->link;
  for (int j = 0; j < n; ++j) {
    Vec3 column;
    const recursive::JointModel& joint = model_.joints[static_cast<std::size_t>(j)];
    const spatial::Transform& o = data_.placement[static_cast<std::size_t>(j)];
    const Vec3 a = spatial::Col(o.r, joint.axis);
    if (j <= link && joint.motion == recursive::JointMotion::kTurn) {
      column = Cross(a, p - o.p);
    } else if (j <= link && joint.motion == recursive::JointMotion::kSlide) {
      column = a;
    }
    jacobian_[static_cast<std::size_t>(j)] = column.x;
    jacobian_[static_cast<std::size_t>(n + j)] = column.y;
    jacobian_[static_cast<std::size_t>(2 * n + j)] = column.z;
  }
}

void ExternalTorques::BeginTick(const double* q, double step) {
  if (!forces_.pull) {
    return;
  }
  stiffness_ = forces_.pull->stiffness;
  damping_ = forces_.pull->damping;
  if (!(step > 0.0)) {
    return;
  }
  // tr(L) = sum_k e_k^T J_p M^-1 J_p^T e_k: the velocity change of the impulse J_p^T e_k, seen
  // along e_k, by the articulated-body passes on the tick's positions.
  Place(q);
  PullJacobian(PullPoint());
  const auto n = static_cast<std::size_t>(model_.Size());
  double trace = 0.0;
  for (std::size_t k = 0; k < 3; ++k) {
    const double* row = jacobian_.data() + k * n;
    std::copy(row, row + n, impulse_.begin());
    recursive::ArticulatedImpulse(model_, data_, nullptr, impulse_.data(), nullptr, change_.data());
    for (std::size_t j = 0; j < n; ++j) {
      trace += row[j] * change_[j];
    }
  }
  if (std::isfinite(trace) && trace > 0.0) {
    stiffness_ = std::min(stiffness_, kPullStepStiffness / (trace * step * step));
    damping_ = std::min(damping_, kPullStepDamping / (trace * step));
  }
}

void ExternalTorques::Place(const double* q) {
  recursive::Kinematics(model_, data_, q, nullptr, {}, false);
  recursive::Placements(model_, data_, nullptr);
}

void ExternalTorques::AddAt(int link, const Vec3& p, const Vec3& f, const Vec3& m,
                            double* tau) const {
  // Column j of J_p and J_w: (a_j x (p - o_j), a_j) for a joint turning about the axis a_j
  // through o_j, (a_j, 0) for one sliding along it, none beyond the point's link:
  // tau_j = a_j . ((p - o_j) x F + N), or a_j . F.
  for (int j = 0; j <= link; ++j) {
    const recursive::JointModel& joint = model_.joints[static_cast<std::size_t>(j)];
    const spatial::Transform& o = data_.placement[static_cast<std::size_t>(j)];
    const Vec3 a = spatial::Col(o.r, joint.axis);
    if (joint.motion == recursive::JointMotion::kTurn) {
      tau[j] += Dot(a, Cross(p - o.p, f) + m);
    } else if (joint.motion == recursive::JointMotion::kSlide) {
      tau[j] += Dot(a, f);
    }
  }
}

Vec3 ExternalTorques::PullForce(const Vec3& p, const double* qd) const {
  const Pull& pull = *forces_.pull;
  // F = k (target - p) - c p', of at most the largest force
  const Vec3 f = stiffness_ * (Of(pull.target) - p) - damping_ * PointVelocity(pull.link, p, qd);
  const double size = std::sqrt(Dot(f, f));
  return size > pull.maxForce ? (pull.maxForce / size) * f : f;
}

Vec3 ExternalTorques::PullPoint() const {
  const Pull& pull = *forces_.pull;
  return Placed(data_.placement[static_cast<std::size_t>(pull.link)], Of(pull.point));
}

Vec3 ExternalTorques::PointVelocity(int link, const Vec3& p, const double* qd) const {
  // p' = J_p qd
  Vec3 v;
  for (int j = 0; j <= link; ++j) {
    const recursive::JointModel& joint = model_.joints[static_cast<std::size_t>(j)];
    const spatial::Transform& o = data_.placement[static_cast<std::size_t>(j)];
    const Vec3 a = spatial::Col(o.r, joint.axis);
    if (joint.motion == recursive::JointMotion::kTurn) {
      v = v + qd[j] * Cross(a, p - o.p);
    } else if (joint.motion == recursive::JointMotion::kSlide) {
      v = v + qd[j] * a;
    }
  }
  return v;
}

void ExternalTorques::Add(const double* q, const double* qd, double* tau) {
  if (!Acts()) {
    return;
  }
  Place(q);
  for (const Resolved& r : resolved_) {
    if (r.link < 0) {
      continue;  // on the base, which never moves
    }
    const spatial::Transform& link = data_.placement[static_cast<std::size_t>(r.link)];
    const Vec3 p = Placed(link, r.at);
    // Frame axes: the frame's turn in the world, the link's times the frame's in it.
    const spatial::Mat3 world = link.r * r.turn;
    const Vec3 f = r.frameAxes ? world * r.force : r.force;
    const Vec3 m = r.frameAxes ? world * r.moment : r.moment;
    AddAt(r.link, p, f, m, tau);
  }
  if (forces_.pull) {
    const Pull& pull = *forces_.pull;
    const Vec3 p = PullPoint();
    AddAt(pull.link, p, PullForce(p, qd), {}, tau);
  }
}

bool ExternalTorques::PullAt(const double* q, const double* qd, double point[3], double force[3]) {
  if (!forces_.pull) {
    return false;
  }
  Place(q);
  const Vec3 p = PullPoint();
  const Vec3 f = PullForce(p, qd);
  point[0] = p.x;
  point[1] = p.y;
  point[2] = p.z;
  force[0] = f.x;
  force[1] = f.y;
  force[2] = f.z;
  return true;
}

void ForceSource::ApplyTo(Stepper& stepper) {
  // Taken off first, so that the source is on the stepper at most once.
  stepper.RemoveTorqueSource(this);
  if (torques_.Acts()) {
    stepper.AddTorqueSource(this);
  }
}

void ForceSource::AddTorque(double /*t*/, const double* q, const double* qd, double* tau) {
  torques_.Add(q, qd, tau);
}

void ForceSource::BeginTick(double /*time*/, const double* q, const double* /*qd*/, double step) {
  torques_.BeginTick(q, step);
}
