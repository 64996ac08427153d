// The recursive engine against the closed form, on random chains of every joint kind (turning and
// sliding about x, y or z, fixed links and links of no known kind), with turned
// offsets, a turned and moved base and sideways gravity: NewtonEuler gives M qdd + C qd + G,
// CompositeBody gives M, the energies are the closed form's, and ArticulatedBody solves
// (M + armature E) qdd = tau - C qd - G exactly, locked joints taking the force they need.
#include <Eigen/Dense>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "dynamics/dynamics.h"
#include "recursive/chain.h"
#include "robot/transforms.h"

namespace {

using Vector = Eigen::Matrix<long double, Eigen::Dynamic, 1>;
using Matrix = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;

std::unique_ptr<Robot> RandomChain(std::mt19937_64& random, int n) {
  const auto u = [&](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
  };
  auto robot = std::make_unique<Robot>(u(-3, 3), u(-3, 3), u(-10, -5), 0.1, 0.1);
  robot->basePose = PoseTransform(u(-1, 1), u(-1, 1), u(0, 1), u(-3, 3), u(-1.5, 1.5), u(-3, 3));
  for (int i = 0; i < n; ++i) {
    // Diagonally dominant inertias, so positive definite.
    robot->AddLink(u(0.1, 3), u(-0.2, 0.2), u(-0.2, 0.2), u(-0.2, 0.2), u(0.02, 0.3), u(0.02, 0.3),
                   u(0.02, 0.3), u(-0.01, 0.01), u(-0.01, 0.01), u(-0.01, 0.01), u(-0.4, 0.4),
                   u(-0.4, 0.4), u(-0.4, 0.4), u(-3, 3), u(-3, 3), u(-3, 3), 0.03);
    Link& link = *robot->links.back();
    const int kind = std::uniform_int_distribution<int>(0, 19)(random);
    link.jointType = kind < 10 ? Revolute : kind < 17 ? Prismatic : kind < 19 ? Fixed : 7;
    link.axis = std::uniform_int_distribution<int>(0, 2)(random);
  }
  return robot;
}

bool Moves(const Link& link) {
  return (link.jointType == Revolute || link.jointType == Prismatic) && link.axis >= 0 &&
         link.axis <= 2;
}

// max |a - b| / max(1, max |b|)
double RelativeError(const std::vector<double>& a, const matrix<double>& b) {
  double error = 0.0, scale = 1.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    error = std::max(error, std::fabs(a[i] - b(static_cast<uint32_t>(i), 0)));
    scale = std::max(scale, std::fabs(b(static_cast<uint32_t>(i), 0)));
  }
  return error / scale;
}

TEST(Recursive, RandomChainsAgreeWithTheClosedForm) {
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> value(-2, 2);
  const struct {
    int links;
    int chains;
  } sizes[] = {{1, 8}, {2, 8}, {3, 6}, {7, 6}, {16, 3}, {40, 1}, {100, 1}};
  for (const auto& size : sizes) {
    for (int chain = 0; chain < size.chains; ++chain) {
      const int n = size.links;
      SCOPED_TRACE(testing::Message() << n << " links, chain " << chain);
      std::unique_ptr<Robot> robot = RandomChain(random, n);
      const recursive::ChainModel model = recursive::BuildChainModel(*robot);
      recursive::ChainData data(n);
      std::vector<double> q(n), qd(n), qdd(n), tau(n), mass(static_cast<std::size_t>(n) * n);
      for (int i = 0; i < n; ++i) {
        Link& link = *robot->links[i];
        q[i] = link.q = value(random);
        qd[i] = link.qd = value(random);
        qdd[i] = link.qdd = value(random);
      }
      const EquationTerms terms = EvaluateEquationTerms(*robot);
      const double kinetic = robot->kineticEnergy, potential = robot->potentialEnergy;
      const matrix<double> closedTau = InverseDynamics(*robot) - terms.F;
      const matrix<double>& g = robot->gravity;
      recursive::Kinematics(model, data, q.data(), qd.data(), {g(0, 0), g(1, 0), g(2, 0)});

      // tau = M qdd + C qd + G
      recursive::NewtonEuler(model, data, qdd.data(), tau.data());
      EXPECT_LT(RelativeError(tau, closedTau), 1e-10);
      recursive::CompositeBody(model, data, mass.data());
      std::vector<double> column(n);
      matrix<double> closedColumn(static_cast<uint32_t>(n), 1);
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
          column[i] = mass[static_cast<std::size_t>(i) * n + j];
          closedColumn(static_cast<uint32_t>(i), 0) = terms.M(i, j);
        }
        EXPECT_LT(RelativeError(column, closedColumn), 1e-10) << "column " << j;
      }
      const recursive::Energies energies = recursive::ChainEnergies(model, data);
      EXPECT_NEAR(energies.kinetic, kinetic, 1e-10 * std::max(1.0, kinetic));
      EXPECT_NEAR(energies.potential, potential, 1e-10 * std::max(1.0, std::fabs(potential)));

      // The exact solution, in long double, of (M + A)_FF qdd_F = tau_F - h_F - (M + A)_FL
      // qdd_L for free joints F and locked joints L, with h = C qd + G and A the joints' added
      // inertias; the locked ones take ((M + A) qdd + h)_L. The first try has no added inertia and
      // no lock.
      for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<double> armature(n);
        for (double& a : armature) {
          a = attempt == 0 ? 0.0 : std::uniform_real_distribution(0.0, 0.1)(random);
        }
        std::vector<uint8_t> locked(n);
        std::vector<double> force(n), accel(n);
        Matrix m(n, n);
        Vector h(n);
        const matrix<double> cqd = terms.C * terms.qd;
        for (int i = 0; i < n; ++i) {
          locked[i] = attempt > 0 && std::uniform_int_distribution<int>(0, 3)(random) == 0;
          force[i] = value(random) * 5;
          accel[i] = locked[i] ? value(random) : 0.0;
          h(i) = static_cast<long double>(cqd(i, 0)) + terms.G(i, 0);
          for (int j = 0; j < n; ++j) {
            m(i, j) = terms.M(i, j) + (i == j ? armature[i] : 0.0);
          }
        }
        std::vector<int> free;
        for (int i = 0; i < n; ++i) {
          if (Moves(*robot->links[i]) && locked[i] == 0) {
            free.push_back(i);
          }
        }
        Vector exact = Vector::Zero(n);
        for (int i = 0; i < n; ++i) {
          exact(i) = locked[i] && Moves(*robot->links[i]) ? accel[i] : 0.0;
        }
        const auto f = static_cast<Eigen::Index>(free.size());
        Matrix block(f, f);
        Vector rhs(f);
        for (Eigen::Index r = 0; r < f; ++r) {
          rhs(r) = force[free[r]] - h(free[r]) - m.row(free[r]).dot(exact);
          for (Eigen::Index c = 0; c < f; ++c) {
            block(r, c) = m(free[r], free[c]);
          }
        }
        const Vector solution = block.ldlt().solve(rhs);
        for (Eigen::Index r = 0; r < f; ++r) {
          exact(free[r]) = solution(r);
        }
        const Vector needed = m * exact + h;

        std::vector<double> given = force;
        recursive::ArticulatedBody(model, data, attempt == 0 ? nullptr : armature.data(),
                                   given.data(), attempt == 0 ? nullptr : locked.data(),
                                   accel.data());
        long double scale = 1.0L, error = 0.0L, forceScale = 1.0L, forceError = 0.0L;
        for (int i = 0; i < n; ++i) {
          scale = std::max(scale, std::fabs(exact(i)));
          error = std::max(error, std::fabs(accel[i] - exact(i)));
          if (locked[i] != 0 || !Moves(*robot->links[i])) {
            const long double expected = Moves(*robot->links[i]) ? needed(i) : 0.0L;
            forceScale = std::max(forceScale, std::fabs(expected));
            forceError = std::max(forceError, std::fabs(given[i] - expected));
          }
        }
        EXPECT_LT(static_cast<double>(error / scale), 1e-10) << "attempt " << attempt;
        EXPECT_LT(static_cast<double>(forceError / forceScale), 1e-10) << "attempt " << attempt;
      }
    }
  }
}

}  // namespace
