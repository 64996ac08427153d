// Homogeneous transforms of the arm: 4 x 4 matrices acting on column vectors. The chain runs from
// the identity at the base: link frame = incoming frame x JointTransform, next incoming frame =
// link frame x LinkOffsetTransform. Every function returns a new matrix and changes nothing.
#pragma once

#include "matrix/matrix.h"
#include "robot/robot.h"

// Trans(x, y, z) x Rz(yaw) x Ry(pitch) x Rx(roll).
matrix<double> PoseTransform(double x, double y, double z, double roll, double pitch, double yaw);

// The joint of the link at its current q.
matrix<double> JointTransform(const Link& link);

// d JointTransform / dq at the link's current q.
matrix<double> JointTransformDerivative(const Link& link);

// PoseTransform of the link's offset pose.
matrix<double> LinkOffsetTransform(const Link& link);

// Derivatives of a translation along x, y or z: a single 1 in column 3.
matrix<double> TranslationDerivativeX();
matrix<double> TranslationDerivativeY();
matrix<double> TranslationDerivativeZ();

// Element-wise derivatives of PoseTransform's rotation block by roll, pitch and yaw.
matrix<double> PoseRollDerivative(double roll, double pitch, double yaw);
matrix<double> PosePitchDerivative(double roll, double pitch, double yaw);
matrix<double> PoseYawDerivative(double roll, double pitch, double yaw);

// Rows 0..2, columns 0..2 of a transform.
matrix<double> RotationPart(const matrix<double>& t);

// Rows 0..2 of column 3 of a transform.
matrix<double> TranslationPart(const matrix<double>& t);
