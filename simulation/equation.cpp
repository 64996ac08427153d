// The equation of motion from either engine: the closed-form terms, solved exactly by a Cholesky
// (LDLT) factorization of the free joints' block of M, or the recursive engine's passes.
#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <vector>

#include "dynamics/dynamics.h"
#include "recursive/chain.h"
#include "simulation/equation.h"

namespace {

class ClosedFormEquation : public Equation {
 public:
  explicit ClosedFormEquation(const Robot& robot) : n_(static_cast<int>(robot.links.size())) {
    moves_.resize(n_);
    for (int i = 0; i < n_; ++i) {
      moves_[i] = recursive::MotionOf(*robot.links[i]) != recursive::JointMotion::kNone;
    }
    mass_.resize(n_, n_);
    bias_.resize(n_);
  }

  void Evaluate(Robot& robot, const double* q, const double* qd) override {
    for (int i = 0; i < n_; ++i) {
      robot.links[i]->q = q[i];
      robot.links[i]->qd = qd[i];
    }
    const EquationTerms terms = EvaluateEquationTerms(robot);
    kinetic_ = robot.kineticEnergy;
    potential_ = robot.potentialEnergy;
    // h = C qd + G
    for (int r = 0; r < n_; ++r) {
      double cqd = 0.0;
      for (int c = 0; c < n_; ++c) {
        mass_(r, c) = terms.M(r, c);
        cqd += terms.C(r, c) * qd[c];
      }
      bias_(r) = cqd + terms.G(r, 0);
    }
  }

  void Solve(const double* armature, double* tau, const uint8_t* locked, double* qdd) override {
    Blocks(armature, tau, locked, qdd, true);
  }

  void Impulse(const double* armature, double* p, const uint8_t* locked, double* dqd) override {
    Blocks(armature, p, locked, dqd, false);
  }

  void Inverse(const double* qdd, double* tau) override {
    for (int i = 0; i < n_; ++i) {
      tau[i] = moves_[i] ? Row(i, qdd) : 0.0;
    }
  }

  double KineticEnergy() override { return kinetic_; }
  double PotentialEnergy() override { return potential_; }

  void Energies(Robot& robot, const double* q, const double* qd, double& kinetic,
                double& potential) override {
    Evaluate(robot, q, qd);
    kinetic = kinetic_;
    potential = potential_;
  }

 private:
  // Free joints F, locked joints L: (M + A)_FF qdd_F = tau_F - h_F - M_FL qdd_L, and the locked
  // joints' forces (M qdd + h)_i + a_i qdd_i; without bias (an impulse), h is left out.
  void Blocks(const double* armature, double* tau, const uint8_t* locked, double* qdd, bool bias) {
    free_.clear();
    for (int i = 0; i < n_; ++i) {
      if (!moves_[i]) {
        qdd[i] = 0.0;
      } else if (locked == nullptr || locked[i] == 0) {
        free_.push_back(i);
      }
    }
    const auto isFree = [&](int i) { return moves_[i] && (locked == nullptr || locked[i] == 0); };
    const auto f = static_cast<Eigen::Index>(free_.size());
    Eigen::MatrixXd block(f, f);
    Eigen::VectorXd rhs(f);
    for (Eigen::Index r = 0; r < f; ++r) {
      const int i = free_[r];
      double b = bias ? tau[i] - bias_(i) : tau[i];
      for (int j = 0; j < n_; ++j) {
        if (!isFree(j)) {
          b -= mass_(i, j) * qdd[j];
        }
      }
      rhs(r) = b;
      const double added = armature != nullptr ? armature[i] : 0.0;
      for (Eigen::Index c = 0; c < f; ++c) {
        block(r, c) = mass_(i, free_[c]) + (r == c ? added : 0.0);
      }
    }
    const Eigen::VectorXd solution = block.ldlt().solve(rhs);
    for (Eigen::Index r = 0; r < f; ++r) {
      qdd[free_[r]] = solution(r);
    }
    for (int i = 0; i < n_; ++i) {
      if (!isFree(i)) {
        const double added = armature != nullptr ? armature[i] : 0.0;
        tau[i] = !moves_[i] ? 0.0 : (bias ? Row(i, qdd) : MassRow(i, qdd)) + added * qdd[i];
      }
    }
  }

  // (M qdd)_i
  double MassRow(int i, const double* qdd) const {
    double s = 0.0;
    for (int j = 0; j < n_; ++j) {
      s += mass_(i, j) * qdd[j];
    }
    return s;
  }

  // (M qdd + h)_i
  double Row(int i, const double* qdd) const {
    double s = 0.0;
    for (int j = 0; j < n_; ++j) {
      s += mass_(i, j) * qdd[j];
    }
    return s + bias_(i);
  }

  int n_;
  std::vector<bool> moves_;
  std::vector<int> free_;
  Eigen::MatrixXd mass_;
  Eigen::VectorXd bias_;
  double kinetic_ = 0.0;
  double potential_ = 0.0;
};

// The recursive engine's passes on one model and its working values.
class RecursiveEquation : public Equation {
 public:
  explicit RecursiveEquation(const Robot& robot)
      : model_(recursive::BuildChainModel(robot)), data_(model_.Size()) {}

  void Evaluate(Robot& robot, const double* q, const double* qd) override {
    const matrix<double>& g = robot.gravity;
    recursive::Kinematics(model_, data_, q, qd, {g(0, 0), g(1, 0), g(2, 0)});
    energiesKnown_ = false;
  }

  void Solve(const double* armature, double* tau, const uint8_t* locked, double* qdd) override {
    recursive::ArticulatedBody(model_, data_, armature, tau, locked, qdd);
  }

  void Impulse(const double* armature, double* p, const uint8_t* locked, double* dqd) override {
    recursive::ArticulatedImpulse(model_, data_, armature, p, locked, dqd);
  }

  void Inverse(const double* qdd, double* tau) override {
    recursive::NewtonEuler(model_, data_, qdd, tau);
  }

  double KineticEnergy() override { return Evaluated().kinetic; }
  double PotentialEnergy() override { return Evaluated().potential; }

  void Energies(Robot& robot, const double* q, const double* qd, double& kinetic,
                double& potential) override {
    const matrix<double>& g = robot.gravity;
    recursive::Kinematics(model_, data_, q, qd, {g(0, 0), g(1, 0), g(2, 0)}, false);
    energies_ = recursive::ChainEnergies(model_, data_);
    energiesKnown_ = true;
    kinetic = energies_.kinetic;
    potential = energies_.potential;
  }

 private:
  const recursive::Energies& Evaluated() {
    if (!energiesKnown_) {
      energies_ = recursive::ChainEnergies(model_, data_);
      energiesKnown_ = true;
    }
    return energies_;
  }

  recursive::ChainModel model_;
  recursive::ChainData data_;
  recursive::Energies energies_;
  bool energiesKnown_ = false;
};

}  // namespace

std::unique_ptr<Equation> MakeEquation(EngineKind engine, const Robot& robot) {
  if (engine == EngineKind::kRecursive) {
    return std::make_unique<RecursiveEquation>(robot);
  }
  return std::make_unique<ClosedFormEquation>(robot);
}
