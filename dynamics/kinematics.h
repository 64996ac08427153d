// The kinematics pass: where every joint and link body is in base coordinates for the current
// joint positions, and the exact derivative of each of these with respect to every joint position.
#pragma once

#include <cstdint>
#include <vector>

#include "matrix/matrix.h"
#include "robot/robot.h"

// The results of the kinematics pass as plain row-major arrays, for the inner loops of the
// dynamics: the same numbers the pass stores in the links' working fields. The derivative of link
// j's quantity by q_k is entry j * n + k of a derivative array.
struct LinkFrames {
  uint32_t n = 0;
  std::vector<int32_t> jointType;  // n
  std::vector<double> rotation;    // n x 9: R_j
  std::vector<double> axis;        // n x 3: z_j
  std::vector<double> origin;      // n x 3: o_j
  std::vector<double> com;         // n x 3: p_j
  std::vector<double> dRotation;   // n^2 x 9: dR_j/dq_k
  std::vector<double> dAxis;       // n^2 x 3: dz_j/dq_k
  std::vector<double> dOrigin;     // n^2 x 3: do_j/dq_k
  std::vector<double> dCom;        // n^2 x 3: dp_j/dq_k
  std::vector<double> chain;       // n x 16: dT/dq_k, the pass's running derivatives

  // Sizes every array for n links; the contents are left for a pass to fill.
  void Resize(uint32_t links);

  const double* R(uint32_t j) const { return &rotation[9 * j]; }
  const double* Z(uint32_t j) const { return &axis[3 * j]; }
  const double* O(uint32_t j) const { return &origin[3 * j]; }
  const double* P(uint32_t j) const { return &com[3 * j]; }
  const double* DR(uint32_t j, uint32_t k) const { return &dRotation[9 * (j * n + k)]; }
  const double* DZ(uint32_t j, uint32_t k) const { return &dAxis[3 * (j * n + k)]; }
  const double* DO(uint32_t j, uint32_t k) const { return &dOrigin[3 * (j * n + k)]; }
  const double* DP(uint32_t j, uint32_t k) const { return &dCom[3 * (j * n + k)]; }
};

// A new rows x cols matrix holding the row-major values.
matrix<double> MatrixFromRowMajor(uint32_t rows, uint32_t cols, const double* values);

// One pass from the base to the tip. Writes each link's rotationWorld, axisWorld, originWorld and
// comWorld and their derivatives dRotationWorld, dAxisWorld, dOriginWorld and dComWorld (n entries
// each, entry k = derivative by q_k). Reads q, jointType, axis, the offsets and com; changes
// nothing else. The derivatives come from the chain rule over the joint and offset transforms;
// nothing is differenced numerically. A link's com must be 3 x 1.
void UpdateLinkKinematics(Robot& robot);

// The same pass, keeping its results in frames as well (resized only when n changes).
void UpdateLinkKinematics(Robot& robot, LinkFrames& frames);
