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
#include "dynamics/kinematics.h"
#include "recursive/chain.h"
#include "robot/transforms.h"
#include "tests/matrix/matrix_literal.h"

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

// In long double.
Vector Long(const std::vector<double>& v) {
  return Eigen::Map<const Eigen::VectorXd>(v.data(), Eigen::Index(v.size())).cast<long double>();
}
Matrix Long(const matrix<double>& m) {
  using Rows = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  const std::vector<double> e = Elements(m);
  return Eigen::Map<const Rows>(e.data(), m.RowCount(), m.ColCount()).cast<long double>();
}

// max |a - b| / max(1, max |b|)
double RelativeError(const Vector& a, const Vector& b) {
  return static_cast<double>((a - b).cwiseAbs().maxCoeff() /
                             std::max(1.0L, b.cwiseAbs().maxCoeff()));
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
      const Matrix closedTau = Long(InverseDynamics(*robot) - terms.F), closedM = Long(terms.M);
      const matrix<double>& g = robot->gravity;
      recursive::Kinematics(model, data, q.data(), qd.data(), {g(0, 0), g(1, 0), g(2, 0)});

      // tau = M qdd + C qd + G, and M column by column.
      recursive::NewtonEuler(model, data, qdd.data(), tau.data());
      EXPECT_LT(RelativeError(Long(tau), closedTau.col(0)), 1e-10);
      recursive::CompositeBody(model, data, mass.data());
      for (int j = 0; j < n; ++j) {
        EXPECT_LT(RelativeError(Long(MatrixFromRowMajor(n, n, mass.data())).col(j), closedM.col(j)),
                  1e-10)
            << "column " << j;
      }
      const recursive::Energies energies = recursive::ChainEnergies(model, data);
      EXPECT_NEAR(energies.kinetic, kinetic, 1e-10 * std::max(1.0, kinetic));
      EXPECT_NEAR(energies.potential, potential, 1e-10 * std::max(1.0, std::fabs(potential)));

      // ArticulatedBody against the exact solution, in long double, of (M + A) qdd = tau - h on the
      // rows of the free joints (h = C qd + G, A the joints' added inertias), a locked joint's qdd
      // being the one it is given and that of a joint that cannot move 0; the locked joints take
      // ((M + A) qdd + h)_i, those that cannot move nothing. The first try adds and locks nothing.
      const Vector h = Long(terms.C * terms.qd).col(0) + Long(terms.G).col(0);
      for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<double> armature(n, 0.0), force(n), accel(n, 0.0);
        std::vector<uint8_t> locked(n, 0);
        for (int i = 0; i < n; ++i) {
          if (attempt > 0) {
            armature[i] = std::uniform_real_distribution(0.0, 0.1)(random);
            locked[i] = std::uniform_int_distribution<int>(0, 3)(random) == 0;
          }
          force[i] = value(random) * 5;
          accel[i] = locked[i] ? value(random) : 0.0;
        }
        const Matrix m = closedM + Matrix(Long(armature).asDiagonal());
        Matrix system = m;
        Vector rhs = Long(force) - h, held = Vector::Zero(n), lockedMoving = Vector::Zero(n);
        for (int i = 0; i < n; ++i) {
          const bool moves = Moves(*robot->links[i]);
          if (locked[i] != 0 || !moves) {
            system.row(i) = Matrix::Identity(n, n).row(i);
            rhs(i) = moves ? accel[i] : 0.0;
            held(i) = 1;
            lockedMoving(i) = moves ? 1 : 0;
          }
        }
        const Vector exact = system.partialPivLu().solve(rhs);
        std::vector<double> given = force;
        recursive::ArticulatedBody(model, data, attempt == 0 ? nullptr : armature.data(),
                                   given.data(), attempt == 0 ? nullptr : locked.data(),
                                   accel.data());
        EXPECT_LT(RelativeError(Long(accel), exact), 1e-10) << "attempt " << attempt;
        EXPECT_LT(RelativeError(Long(given).cwiseProduct(held),
                                (m * exact + h).cwiseProduct(lockedMoving)),
                  1e-10)
            << "attempt " << attempt;
      }
    }
  }
}

}  // namespace
