#include "control/control_model.h"

#include <algorithm>
#include <cmath>

namespace {

// The chain of robot with its last link's mass changed by massError: m' = max(m + dm, 0), the
// centre of mass where it was and the inertia about it scaled by m' / m (a massless link takes
// the mass as a point at its centre of mass).
recursive::ChainModel ModelOf(const Robot& robot, double massError) {
  recursive::ChainModel model = recursive::BuildChainModel(robot);
  if (massError == 0.0 || model.joints.empty()) {
    return model;
  }
  recursive::JointModel& last = model.joints.back();
  const double m = last.body.m;
  const double changed = std::max(m + massError, 0.0);
  const double scale = m > 0.0 ? changed / m : 0.0;
  spatial::Sym3& i = last.inertiaAtCom;
  i = {scale * i.xx, scale * i.yy, scale * i.zz, scale * i.xy, scale * i.xz, scale * i.yz};
  // I about the origin = I about the centre of mass + m (|c|^2 E - c c^T), h = m c.
  const spatial::Vec3 c = last.com;
  last.body.m = changed;
  last.body.h = changed * c;
  last.body.i = {i.xx + changed * (c.y * c.y + c.z * c.z),
                 i.yy + changed * (c.x * c.x + c.z * c.z),
                 i.zz + changed * (c.x * c.x + c.y * c.y),
                 i.xy - changed * c.x * c.y,
                 i.xz - changed * c.x * c.z,
                 i.yz - changed * c.y * c.z};
  last.body6 = spatial::FromRigid(last.body);
  return model;
}

}  // namespace

ControlModel::ControlModel(const Robot& robot, double massError)
    : model_(ModelOf(robot, massError)),
      data_(model_.Size()),
      frames_(recursive::BuildFrameModels(robot)) {
  const auto n = static_cast<std::size_t>(model_.Size());
  zeros_.assign(n, 0.0);
  jacobian_.resize(6 * n);
  p_.resize(n);
  dqd_.resize(n);
}

bool ControlModel::Slides(int i) const {
  return model_.joints[static_cast<std::size_t>(i)].motion == recursive::JointMotion::kSlide;
}

int ControlModel::FrameNamed(const std::string& name) const {
  if (name.empty()) {
    return static_cast<int>(frames_.size()) - 1;
  }
  return recursive::FindFrame(frames_, name);
}

void ControlModel::Gravity(const double* q, const spatial::Vec3& g, double* tau) {
  // G = RNEA(q, 0, 0)
  recursive::Kinematics(model_, data_, q, zeros_.data(), g);
  recursive::NewtonEuler(model_, data_, zeros_.data(), tau);
}

void ControlModel::InverseDynamics(const double* q, const double* qd, const double* v,
                                   const spatial::Vec3& g, double* tau) {
  // M v + C qd + G = RNEA(q, qd, v)
  recursive::Kinematics(model_, data_, q, qd, g);
  recursive::NewtonEuler(model_, data_, v, tau);
}

void ControlModel::MassMatrix(const double* q, double* mass) {
  recursive::Kinematics(model_, data_, q, nullptr, {});
  recursive::CompositeBody(model_, data_, mass);
}

void ControlModel::FramePosition(int f, const double* q, double* x, double* jacobian) {
  const int n = model_.Size();
  const recursive::FrameModel& frame = frames_[static_cast<std::size_t>(f)];
  recursive::Kinematics(model_, data_, q, nullptr, {});
  recursive::Placements(model_, data_, nullptr);
  const spatial::Vec3 p = recursive::FramePose(data_, frame).p;
  x[0] = p.x;
  x[1] = p.y;
  x[2] = p.z;
  recursive::FrameJacobian(model_, data_, frame, recursive::FrameAxes::kBase, jacobian_.data());
  if (jacobian != nullptr) {
    std::copy(jacobian_.begin(), jacobian_.begin() + 3 * n, jacobian);
  }
}

void ControlModel::InverseInertia(double a[3][3]) {
  const int n = model_.Size();
  for (int k = 0; k < 3; ++k) {
    // M dqd = J^T e_k; row k of J M^-1 J^T is J dqd
    const double* row = jacobian_.data() + k * n;
    for (int i = 0; i < n; ++i) {
      p_[static_cast<std::size_t>(i)] = row[i];
    }
    recursive::ArticulatedImpulse(model_, data_, nullptr, p_.data(), nullptr, dqd_.data());
    for (int r = 0; r < 3; ++r) {
      const double* other = jacobian_.data() + r * n;
      double sum = 0.0;
      for (int i = 0; i < n; ++i) {
        sum += other[i] * dqd_[static_cast<std::size_t>(i)];
      }
      a[r][k] = sum;
    }
  }
}

namespace {

// The pseudo-inverse of the symmetric positive semi-definite a by Jacobi's eigenvalue method:
// V diag(1 / l) V^T over the eigenvalues l above a 1e-10 part of the largest.
void PseudoInverse(const double a[3][3], double out[3][3]) {
  double m[3][3], v[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      m[r][c] = 0.5 * (a[r][c] + a[c][r]);
    }
  }
  for (int sweep = 0; sweep < 50; ++sweep) {
    const double off = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
    const double diagonal = m[0][0] * m[0][0] + m[1][1] * m[1][1] + m[2][2] * m[2][2];
    if (off <= 1e-32 * diagonal) {
      break;
    }
    for (int p = 0; p < 2; ++p) {
      for (int q = p + 1; q < 3; ++q) {
        if (m[p][q] == 0.0) {
          continue;
        }
        // The rotation in the (p, q) plane that zeroes m_pq.
        const double theta = (m[q][q] - m[p][p]) / (2.0 * m[p][q]);
        const double t =
            (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (int k = 0; k < 3; ++k) {
          const double mkp = m[k][p], mkq = m[k][q];
          m[k][p] = c * mkp - s * mkq;
          m[k][q] = s * mkp + c * mkq;
        }
        for (int k = 0; k < 3; ++k) {
          const double mpk = m[p][k], mqk = m[q][k];
          m[p][k] = c * mpk - s * mqk;
          m[q][k] = s * mpk + c * mqk;
        }
        for (int k = 0; k < 3; ++k) {
          const double vkp = v[k][p], vkq = v[k][q];
          v[k][p] = c * vkp - s * vkq;
          v[k][q] = s * vkp + c * vkq;
        }
      }
    }
  }
  const double largest = std::max({m[0][0], m[1][1], m[2][2], 0.0});
  double inverse[3];
  for (int k = 0; k < 3; ++k) {
    inverse[k] = m[k][k] > 1e-10 * largest ? 1.0 / m[k][k] : 0.0;
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      out[r][c] = v[r][0] * inverse[0] * v[c][0] + v[r][1] * inverse[1] * v[c][1] +
                  v[r][2] * inverse[2] * v[c][2];
    }
  }
}

}  // namespace

void ControlModel::FrameInertia(int f, const double* q, double* lambda) {
  double x[3];
  FramePosition(f, q, x, nullptr);
  PlacedFrameInertia(lambda);
}

void ControlModel::PlacedFrameInertia(double* lambda) {
  double a[3][3], inverse[3][3];
  InverseInertia(a);
  PseudoInverse(a, inverse);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      lambda[3 * r + c] = inverse[r][c];
    }
  }
}

void ControlModel::NullSpace(const double* lambda, const double* z, double* out) {
  const int n = model_.Size();
  // w = M^-1 z; y = Lambda J w; out = z - J^T y
  for (int i = 0; i < n; ++i) {
    p_[static_cast<std::size_t>(i)] = z[i];
  }
  recursive::ArticulatedImpulse(model_, data_, nullptr, p_.data(), nullptr, dqd_.data());
  double jw[3];
  for (int k = 0; k < 3; ++k) {
    const double* row = jacobian_.data() + k * n;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
      sum += row[i] * dqd_[static_cast<std::size_t>(i)];
    }
    jw[k] = sum;
  }
  double y[3];
  for (int k = 0; k < 3; ++k) {
    y[k] = lambda[3 * k] * jw[0] + lambda[3 * k + 1] * jw[1] + lambda[3 * k + 2] * jw[2];
  }
  for (int i = 0; i < n; ++i) {
    out[i] = z[i] - (jacobian_[static_cast<std::size_t>(i)] * y[0] +
                     jacobian_[static_cast<std::size_t>(n + i)] * y[1] +
                     jacobian_[static_cast<std::size_t>(2 * n + i)] * y[2]);
  }
}
