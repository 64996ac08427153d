#include "dynamics/kinematics.h"

#include <cstddef>
#include <cstdint>

#include "matrix/matrix.h"
#include "robot/transforms.h"

namespace {

// m(r, c) into out[4 r + c], through the read-only access.
void Load4(const matrix<double>& m, double* out) {
  for (uint32_t r = 0; r < 4; ++r) {
    for (uint32_t c = 0; c < 4; ++c) {
      out[4 * r + c] = m(r, c);
    }
  }
}

// out = a b for 4 x 4 a and b, summed as matrix products are: from 0.0, l ascending, with the
// terms b(l, c) a(r, l). out must not be a or b.
void Product4(const double* a, const double* b, double* out) {
  for (uint32_t r = 0; r < 4; ++r) {
    for (uint32_t c = 0; c < 4; ++c) {
      double s = 0.0;
      for (uint32_t l = 0; l < 4; ++l) {
        s = s + b[4 * l + c] * a[4 * r + l];
      }
      out[4 * r + c] = s;
    }
  }
}

void Copy(const double* from, uint32_t count, double* to) {
  for (uint32_t i = 0; i < count; ++i) {
    to[i] = from[i];
  }
}

// Rows 0..2, columns 0..2 of a 4 x 4 transform.
void RotationOf(const double* t, double* r) {
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      r[3 * i + j] = t[4 * i + j];
    }
  }
}

// Rows 0..2 of column c of a 4 x 4 transform.
void ColumnOf(const double* t, uint32_t c, double* v) {
  v[0] = t[c];
  v[1] = t[4 + c];
  v[2] = t[8 + c];
}

// out = base + r c: the 3 x 3 by 3 x 1 product r c, then the sum as matrix sums are formed,
// (r c)(i) + base(i).
void PlaceCom(const double* base, const double* r, const double* c, double* out) {
  for (uint32_t i = 0; i < 3; ++i) {
    double s = 0.0;
    for (uint32_t l = 0; l < 3; ++l) {
      s = s + c[l] * r[3 * i + l];
    }
    out[i] = s + base[i];
  }
}

// Writes the rows x cols values into m, which takes that shape if it has another; a shared m is
// detached first, so other holders keep the former values.
void Store(matrix<double>& m, uint32_t rows, uint32_t cols, const double* values) {
  if (m.RowCount() != rows || m.ColCount() != cols) {
    m = matrix<double>(rows, cols);
  }
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) {
      m(r, c) = values[r * cols + c];
    }
  }
}

void Store3(matrix<double>& m, const double* v) {
  Store(m, 3, 1, v);
}

}  // namespace

void LinkFrames::Resize(uint32_t links) {
  const std::size_t count = links;
  n = links;
  jointType.resize(count);
  rotation.resize(9 * count);
  axis.resize(3 * count);
  origin.resize(3 * count);
  com.resize(3 * count);
  dRotation.resize(9 * count * count);
  dAxis.resize(3 * count * count);
  dOrigin.resize(3 * count * count);
  dCom.resize(3 * count * count);
  chain.resize(16 * count);
}

matrix<double> MatrixFromRowMajor(uint32_t rows, uint32_t cols, const double* values) {
  matrix<double> m(rows, cols);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) {
      m(r, c) = values[static_cast<std::size_t>(r) * cols + c];
    }
  }
  return m;
}

void UpdateLinkKinematics(Robot& robot) {
  LinkFrames frames;
  UpdateLinkKinematics(robot, frames);
}

void UpdateLinkKinematics(Robot& robot, LinkFrames& f) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  f.Resize(n);

  // T: the incoming frame of the current link, T_{j-1}, starting at the arm's base pose; D[k] =
  // dT/dq_k, all zero at the start.
  double T[16];
  Load4(robot.basePose, T);
  double* D = f.chain.data();
  for (std::size_t e = 0; e < 16 * static_cast<std::size_t>(n); ++e) {
    D[e] = 0.0;
  }

  double J[16], dJ[16], O[16], product[16];
  for (uint32_t j = 0; j < n; ++j) {
    Link& link = *robot.links[j];
    Load4(JointTransform(link), J);
    Load4(JointTransformDerivative(link), dJ);
    Load4(LinkOffsetTransform(link), O);
    const auto a = static_cast<uint32_t>(link.axis);
    if (!(a < 4)) {
      MatrixFatal(kMatrixIndexMessage);
    }
    if (link.com.RowCount() != 3) {
      MatrixFatal(kMatrixMultiplyMessage);
    }
    if (link.com.ColCount() != 1) {
      MatrixFatal(kMatrixAddMessage);
    }
    const double c[3] = {link.com(0, 0), link.com(1, 0), link.com(2, 0)};
    f.jointType[j] = link.jointType;

    // z_j = column a of T_{j-1}; o_j = translation of T_{j-1}
    double* z = &f.axis[3 * j];
    double* o = &f.origin[3 * j];
    ColumnOf(T, a, z);
    ColumnOf(T, 3, o);
    // dz_j/dq_k = column a of dT_{j-1}/dq_k; do_j/dq_k = its translation
    for (uint32_t k = 0; k < n; ++k) {
      ColumnOf(&D[16 * k], a, &f.dAxis[3 * (j * n + k)]);
      ColumnOf(&D[16 * k], 3, &f.dOrigin[3 * (j * n + k)]);
    }

    // dF_j/dq_k = dT_{j-1}/dq_k J_j (k < j), T_{j-1} dJ_j (k = j), 0 (k > j)
    for (uint32_t k = 0; k < n; ++k) {
      double* Dk = &D[16 * k];
      if (k > j) {
        for (uint32_t e = 0; e < 16; ++e) {
          Dk[e] = 0.0;
        }
      } else if (k == j) {
        Product4(T, dJ, Dk);
      } else {
        Product4(Dk, J, product);
        Copy(product, 16, Dk);
      }
    }
    // F_j = T_{j-1} J_j
    Product4(T, J, product);
    Copy(product, 16, T);

    // A sliding link carries its body along: its centre of mass is placed from F_j, which holds
    // the link's own displacement, so that p_j, its derivatives and the Jacobian column z_j agree.
    // A turning joint does not move its origin, and o_j serves.
    const bool slides = link.jointType == Prismatic;

    // R_j = rotation of F_j; p_j = o_j + R_j c_j (translation of F_j + R_j c_j when sliding)
    double* R = &f.rotation[9 * j];
    RotationOf(T, R);
    double base[3];
    ColumnOf(T, 3, base);
    PlaceCom(slides ? base : o, R, c, &f.com[3 * j]);

    // dR_j/dq_k = rotation of dF_j/dq_k; dp_j/dq_k = do_j/dq_k + dR_j/dq_k c_j
    for (uint32_t k = 0; k < n; ++k) {
      const double* Dk = &D[16 * k];
      double* dR = &f.dRotation[9 * (j * n + k)];
      RotationOf(Dk, dR);
      ColumnOf(Dk, 3, base);
      PlaceCom(slides ? base : &f.dOrigin[3 * (j * n + k)], dR, c, &f.dCom[3 * (j * n + k)]);
    }

    // dT_j/dq_k = dF_j/dq_k O_j; T_j = F_j O_j
    for (uint32_t k = 0; k < n; ++k) {
      double* Dk = &D[16 * k];
      Product4(Dk, O, product);
      Copy(product, 16, Dk);
    }
    Product4(T, O, product);
    Copy(product, 16, T);

    // The link's working fields, n entries in each sequence.
    Store(link.rotationWorld, 3, 3, R);
    Store3(link.axisWorld, z);
    Store3(link.originWorld, o);
    Store3(link.comWorld, &f.com[3 * j]);
    link.dRotationWorld.resize(n);
    link.dAxisWorld.resize(n);
    link.dOriginWorld.resize(n);
    link.dComWorld.resize(n);
    for (uint32_t k = 0; k < n; ++k) {
      Store(link.dRotationWorld[k], 3, 3, &f.dRotation[9 * (j * n + k)]);
      Store3(link.dAxisWorld[k], &f.dAxis[3 * (j * n + k)]);
      Store3(link.dOriginWorld[k], &f.dOrigin[3 * (j * n + k)]);
      Store3(link.dComWorld[k], &f.dCom[3 * (j * n + k)]);
    }
  }
}
