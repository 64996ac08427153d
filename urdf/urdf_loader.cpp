#include "urdf/urdf_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <set>
#include <utility>
#include <vector>

#include <console_bridge/console.h>
#include <urdf_parser/urdf_parser.h>

#include "matrix/matrix.h"
#include "recursive/chain.h"
#include "robot/input_checks.h"
#include "urdf/urdf_chain.h"
#include "urdf/urdf_parse.h"
#include "urdf/urdf_text.h"

namespace {

// A problem with the description; its text becomes the part after "FILE: ".
struct Problem {
  std::string text;
};

std::string Quoted(const std::string& name) {
  return "'" + name + "'";
}

// ---- Rigid transforms -------------------------------------------------------------------------

// x -> r x + p.
struct Frame {
  double r[3][3];
  double p[3];
};

constexpr Frame kIdentity = {{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}, {0.0, 0.0, 0.0}};

Frame operator*(const Frame& a, const Frame& b) {
  Frame c{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      c.r[i][j] = a.r[i][0] * b.r[0][j] + a.r[i][1] * b.r[1][j] + a.r[i][2] * b.r[2][j];
    }
    c.p[i] = a.r[i][0] * b.p[0] + a.r[i][1] * b.p[1] + a.r[i][2] * b.p[2] + a.p[i];
  }
  return c;
}

// The inverse of a pure rotation.
Frame Transposed(const Frame& a) {
  Frame t{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      t.r[i][j] = a.r[j][i];
    }
  }
  return t;
}

bool Finite(const urdf::Pose& pose) {
  const urdf::Vector3& v = pose.position;
  const urdf::Rotation& q = pose.rotation;
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(q.x) &&
         std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

// The parser keeps every rotation as a quaternion (made from the file's roll, pitch and yaw).
Frame FromPose(const urdf::Pose& pose) {
  double x = pose.rotation.x, y = pose.rotation.y, z = pose.rotation.z, w = pose.rotation.w;
  const double norm = std::sqrt(x * x + y * y + z * z + w * w);
  if (norm != 1.0) {
    x /= norm;
    y /= norm;
    z /= norm;
    w /= norm;
  }
  Frame f{{{1.0 - 2.0 * (y * y + z * z), 2.0 * (x * y - z * w), 2.0 * (x * z + y * w)},
           {2.0 * (x * y + z * w), 1.0 - 2.0 * (x * x + z * z), 2.0 * (y * z - x * w)},
           {2.0 * (x * z - y * w), 2.0 * (y * z + x * w), 1.0 - 2.0 * (x * x + y * y)}},
          {pose.position.x, pose.position.y, pose.position.z}};
  return f;
}

// x, y, z, roll, pitch, yaw of the frame as PoseTransform composes them, r = Rz(yaw) Ry(pitch)
// Rx(roll). Yaw comes first; pitch and roll then come from Rz(-yaw) r = Ry(pitch) Rx(roll), whose
// entries used here stay large near pitch = +-pi/2, so that the angles reproduce r closely there
// too. Adding 0.0 turns a negative zero into a positive one.
void ToXyzRpy(const Frame& f, double out[6]) {
  const double yaw = std::atan2(f.r[1][0], f.r[0][0]);
  const double cy = std::cos(yaw), sy = std::sin(yaw);
  const double m00 = cy * f.r[0][0] + sy * f.r[1][0];
  const double m11 = cy * f.r[1][1] - sy * f.r[0][1];
  const double m12 = cy * f.r[1][2] - sy * f.r[0][2];
  out[0] = f.p[0] + 0.0;
  out[1] = f.p[1] + 0.0;
  out[2] = f.p[2] + 0.0;
  out[3] = std::atan2(-m12, m11) + 0.0;
  out[4] = std::atan2(-f.r[2][0], m00) + 0.0;
  out[5] = yaw + 0.0;
}

matrix<double> ToMatrix(const Frame& f) {
  matrix<double> m(4, 4);
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t j = 0; j < 3; ++j) {
      m(i, j) = f.r[i][j];
    }
    m(i, 3) = f.p[i];
    m(3, i) = 0.0;
  }
  m(3, 3) = 1.0;
  return m;
}

// A joint's direction as the link model has it: one of its incoming frame's axes. An axis of
// exactly +x, +y or +z is used as it is. Any other turns the link frame by a rotation a that
// carries x onto the axis, so that the joint moves about (or along) x.
struct JointDirection {
  int32_t code = X;
  Frame a = kIdentity;
};

JointDirection DirectionOf(const urdf::Vector3& axis) {
  // Scaled to a largest component of 1 first, so that neither tiny nor huge lengths overflow.
  const double largest = std::max({std::fabs(axis.x), std::fabs(axis.y), std::fabs(axis.z)});
  double v[3] = {axis.x / largest, axis.y / largest, axis.z / largest};
  const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (double& c : v) {
    c /= length;
  }
  JointDirection d;
  for (int32_t k = 0; k < 3; ++k) {
    if (v[k] == 1.0 && v[(k + 1) % 3] == 0.0 && v[(k + 2) % 3] == 0.0) {
      d.code = k;
      return d;
    }
  }
  // The shortest turn from x to u, for u with a positive x component (well conditioned there):
  // columns u, then x's neighbours turned the same way.
  const auto turn = [](double ux, double uy, double uz) {
    const double k = 1.0 / (1.0 + ux);
    return Frame{{{ux, -uy, -uz},
                  {uy, 1.0 - uy * uy * k, -uy * uz * k},
                  {uz, -uy * uz * k, 1.0 - uz * uz * k}},
                 {0.0, 0.0, 0.0}};
  };
  if (v[0] >= 0.0) {
    d.a = turn(v[0], v[1], v[2]);
  } else {
    // Half a turn about z carries x onto -x; then the turn that carries x onto -v takes -x to v.
    const Frame flip = {{{-1.0, 0.0, 0.0}, {0.0, -1.0, 0.0}, {0.0, 0.0, 1.0}}, {0.0, 0.0, 0.0}};
    d.a = turn(-v[0], -v[1], -v[2]) * flip;
  }
  return d;
}

// ---- Mass properties --------------------------------------------------------------------------

// The mass of one moving link and everything fixed to it, in the frame of the URDF link the joint
// moves.
struct Body {
  bool given = false;  // some link of the body has inertial data
  double mass = 0.0;
  double com[3] = {0.0, 0.0, 0.0};
  double inertia[3][3] = {};
};

// out = r t r^T, formed on and above the diagonal and mirrored, so that it is exactly symmetric;
// out may be t.
void Rotated(const double (&r)[3][3], const double (&t)[3][3], double (&out)[3][3]) {
  double rt[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      rt[i][j] = r[i][0] * t[0][j] + r[i][1] * t[1][j] + r[i][2] * t[2][j];
    }
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = i; j < 3; ++j) {
      out[i][j] = rt[i][0] * r[j][0] + rt[i][1] * r[j][1] + rt[i][2] * r[j][2];
      out[j][i] = out[i][j];
    }
  }
}

// t + m (|d|^2 E - d d^T): a tensor about a centre of mass moved to a point d away from it.
void AddParallelAxis(double m, const double (&d)[3], double (&t)[3][3]) {
  const double d2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      t[i][j] += m * ((i == j ? d2 : 0.0) - d[i] * d[j]);
    }
  }
}

// Adds a link's inertial data to the body, the link's frame being at `at` in the body's frame.
// The first part is taken as it is; each further one is joined by the parallel-axis theorem.
void AddInertial(Body& body, const urdf::Inertial& in, const Frame& at) {
  const Frame f = at * FromPose(in.origin);
  const double own[3][3] = {
      {in.ixx, in.ixy, in.ixz}, {in.ixy, in.iyy, in.iyz}, {in.ixz, in.iyz, in.izz}};
  double tensor[3][3];
  Rotated(f.r, own, tensor);
  if (!body.given) {
    body.given = true;
    body.mass = in.mass;
    std::copy(f.p, f.p + 3, body.com);
    std::copy(&tensor[0][0], &tensor[0][0] + 9, &body.inertia[0][0]);
    return;
  }
  const double mass = body.mass + in.mass;
  double com[3];
  for (int i = 0; i < 3; ++i) {
    com[i] = mass > 0.0 ? (body.mass * body.com[i] + in.mass * f.p[i]) / mass : body.com[i];
  }
  const double d1[3] = {body.com[0] - com[0], body.com[1] - com[1], body.com[2] - com[2]};
  const double d2[3] = {f.p[0] - com[0], f.p[1] - com[1], f.p[2] - com[2]};
  AddParallelAxis(body.mass, d1, body.inertia);
  AddParallelAxis(in.mass, d2, tensor);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      body.inertia[i][j] += tensor[i][j];
    }
  }
  body.mass = mass;
  std::copy(com, com + 3, body.com);
}

// All principal minors non-negative, up to rounding: the tensor is scaled to a largest entry of
// 1 first, so that the allowance is relative.
bool PositiveSemiDefinite(const urdf::Inertial& in) {
  const double scale = std::max({std::fabs(in.ixx), std::fabs(in.iyy), std::fabs(in.izz),
                                 std::fabs(in.ixy), std::fabs(in.ixz), std::fabs(in.iyz)});
  if (scale == 0.0) {
    return true;
  }
  const double xx = in.ixx / scale, yy = in.iyy / scale, zz = in.izz / scale;
  const double xy = in.ixy / scale, xz = in.ixz / scale, yz = in.iyz / scale;
  constexpr double kRounding = -1e-12;
  const double det = xx * (yy * zz - yz * yz) - xy * (xy * zz - yz * xz) + xz * (xy * yz - yy * xz);
  return xx >= kRounding && yy >= kRounding && zz >= kRounding && xx * yy - xy * xy >= kRounding &&
         xx * zz - xz * xz >= kRounding && yy * zz - yz * yz >= kRounding && det >= kRounding;
}

void CheckInertial(const urdf::Link& link) {
  if (!link.inertial) {
    return;
  }
  const urdf::Inertial& in = *link.inertial;
  const double values[] = {in.mass, in.ixx, in.iyy, in.izz, in.ixy, in.ixz, in.iyz};
  if (!Finite(in.origin) || !std::all_of(std::begin(values), std::end(values),
                                         [](double v) { return std::isfinite(v); })) {
    throw Problem{"link " + Quoted(link.name) + " has inertial data that is not finite"};
  }
  if (in.mass < 0.0) {
    throw Problem{"link " + Quoted(link.name) + " has a negative mass"};
  }
  if (!PositiveSemiDefinite(in)) {
    throw Problem{"link " + Quoted(link.name) +
                  " has an inertia tensor that is not positive semi-definite"};
  }
}

// The largest principal moment of a symmetric tensor, its largest eigenvalue, by the closed form
// for 3 x 3 (the trigonometric solution of the characteristic cubic).
double LargestPrincipalMoment(const double (&t)[3][3]) {
  const double off = t[0][1] * t[0][1] + t[0][2] * t[0][2] + t[1][2] * t[1][2];
  if (off == 0.0) {
    return std::max({t[0][0], t[1][1], t[2][2]});
  }
  const double q = (t[0][0] + t[1][1] + t[2][2]) / 3.0;
  const double d[3] = {t[0][0] - q, t[1][1] - q, t[2][2] - q};
  const double p = std::sqrt((d[0] * d[0] + d[1] * d[1] + d[2] * d[2] + 2.0 * off) / 6.0);
  // det((t - q E) / p) / 2, within [-1, 1] but for rounding.
  const double det = d[0] * (d[1] * d[2] - t[1][2] * t[1][2]) -
                     t[0][1] * (t[0][1] * d[2] - t[1][2] * t[0][2]) +
                     t[0][2] * (t[0][1] * t[1][2] - d[1] * t[0][2]);
  const double r = std::clamp(det / (2.0 * p * p * p), -1.0, 1.0);
  return q + 2.0 * p * std::cos(std::acos(r) / 3.0);
}

// A warning for a link whose principal moments break the triangle inequality (the largest more
// than the sum of the other two), which no rigid body's do; or "". Files keep a few digits, so a
// thin rod or a flat plate, exactly on the bound, may lie a little past it: an excess of up to a
// thousandth of the moments' sum passes. The tensor is scaled to a largest entry of 1 first, so
// that no square in the closed form overflows or vanishes.
std::string ImplausibleInertia(const urdf::Link& link) {
  const urdf::Inertial& in = *link.inertial;
  const double scale = std::max({std::fabs(in.ixx), std::fabs(in.iyy), std::fabs(in.izz),
                                 std::fabs(in.ixy), std::fabs(in.ixz), std::fabs(in.iyz)});
  if (scale == 0.0) {
    return "";
  }
  const double xx = in.ixx / scale, yy = in.iyy / scale, zz = in.izz / scale;
  const double xy = in.ixy / scale, xz = in.ixz / scale, yz = in.iyz / scale;
  const double t[3][3] = {{xx, xy, xz}, {xy, yy, yz}, {xz, yz, zz}};
  const double sum = xx + yy + zz;  // the principal moments' sum, the trace
  const double largest = LargestPrincipalMoment(t);
  if (largest - (sum - largest) <= 1e-3 * sum) {
    return "";
  }
  char text[160];
  std::snprintf(text, sizeof text,
                " has an implausible inertia: its largest principal moment (%g kg m^2) exceeds "
                "the sum of the other two (%g kg m^2); it is loaded as given",
                largest * scale, (sum - largest) * scale);
  return "link " + Quoted(link.name) + text;
}

// The radius of the link's first visual cylinder, or 0 when it has none.
double CylinderRadius(const urdf::Link& link) {
  for (const urdf::VisualSharedPtr& visual : link.visual_array) {
    const auto cylinder =
        visual ? std::dynamic_pointer_cast<urdf::Cylinder>(visual->geometry) : nullptr;
    if (cylinder && std::isfinite(cylinder->radius) && cylinder->radius > 0.0) {
      return cylinder->radius;
    }
  }
  return 0.0;
}

// The parser's model, which is refused when it reported any error: for some faults (a mass that
// is not a number, for one) it reports the error but still returns a model, in which the faulty
// element has been left out or zeroed.
urdf::ModelInterfaceSharedPtr Parse(const std::string& text) {
  UrdfParserMessages messages;
  urdf::ModelInterfaceSharedPtr model;
  try {
    model = urdf::parseURDF(text);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw Problem{e.what()};
  }
  if (!model || !messages.errors.empty()) {
    throw Problem{messages.errors.empty() ? "not a URDF robot description" : messages.Errors()};
  }
  return model;
}

// ---- The chain --------------------------------------------------------------------------------

// One moving joint of the chain and the body it moves.
struct Moving {
  std::string joint;  // names, for messages
  std::string link;
  int32_t type = Revolute;
  JointDirection direction;
  Body body;
  Frame offset = kIdentity;  // the link frame to the next link's incoming frame
  double radius = 0.0;
  // The joint's own physics (see Link).
  double lower = -INFINITY, upper = INFINITY, effort = INFINITY;
  bool fileFriction = false;
  double damping = 0.0, friction = 0.0;
};

// The limits, effort, damping and friction of a moving joint, as the file gives them. Revolute and
// prismatic joints have limits (continuous ones none); an effort below 0 is none. Limits that are
// no range (not numbers, or lower above upper) and damping or friction that is negative or not
// finite are left out with a notice.
void JointPhysics(const urdf::Joint& joint, Moving& m, std::vector<std::string>& notices) {
  if (const urdf::JointLimitsSharedPtr& limits = joint.limits) {
    if (joint.type != urdf::Joint::CONTINUOUS) {
      if (limits->lower <= limits->upper) {
        m.lower = limits->lower;
        m.upper = limits->upper;
      } else {
        char text[160];
        std::snprintf(text, sizeof text,
                      " has limits that are no range (lower %g, upper %g); it moves without them",
                      limits->lower, limits->upper);
        notices.push_back("joint " + Quoted(joint.name) + text);
      }
    }
    if (limits->effort >= 0.0) {
      m.effort = limits->effort;
    }
  }
  if (const urdf::JointDynamicsSharedPtr& dynamics = joint.dynamics) {
    if (dynamics->damping >= 0.0 && dynamics->friction >= 0.0 && std::isfinite(dynamics->damping) &&
        std::isfinite(dynamics->friction)) {
      m.fileFriction = true;
      m.damping = dynamics->damping;
      m.friction = dynamics->friction;
    } else {
      std::string problem = FrictionProblem("damping", dynamics->damping);
      problem = problem.empty() ? FrictionProblem("friction", dynamics->friction) : problem;
      notices.push_back("joint " + Quoted(joint.name) + " takes the panel's friction: " + problem);
    }
  }
}

bool AllFinite(const double* values, std::size_t n) {
  return std::all_of(values, values + n, [](double v) { return std::isfinite(v); });
}

// Every value the file's numbers merge into must be finite, and small enough that the dynamics'
// own products of them are too: each finite number of the file may still sum to infinity when
// links are fixed together, or square to it in the parallel-axis terms. A link's mass, centre of
// mass, inertia and length (to the next link's incoming frame) and the arm's base pose are checked
// as merged, and the square of the length, which gives the link's drawn thickness. Then, for the
// products: about any joint before it, link k's mass lies no farther than d_k, the lengths of the
// links before it and the distance to its centre of mass, so that every entry of the joint-space
// inertia and of the gravity torques stays below the sum over the links of m_k (1 + d_k)^2 and the
// sizes of the entries of I_k; that sum, with headroom for the engines' own intermediate products,
// must be finite. The link where it first is not is named.
void CheckMagnitudes(const std::vector<Moving>& chain, const Frame& base,
                     const std::vector<double>& reach) {
  if (!AllFinite(&base.r[0][0], 9) || !AllFinite(base.p, 3)) {
    throw Problem{"the joints before joint " + Quoted(chain.front().joint) +
                  " place the arm at a pose that is not finite"};
  }
  constexpr double kHeadroom = 1024.0;
  double before = 0.0;  // the lengths of the links before this one
  double sum = 0.0;
  for (std::size_t j = 0; j < chain.size(); ++j) {
    const Moving& m = chain[j];
    const Body& b = m.body;
    const char* what = !std::isfinite(b.mass)            ? "a mass"
                       : !AllFinite(b.com, 3)            ? "a centre of mass"
                       : !AllFinite(&b.inertia[0][0], 9) ? "an inertia"
                       : !AllFinite(&m.offset.r[0][0], 9) || !AllFinite(m.offset.p, 3) ? "a length"
                                                                                       : nullptr;
    if (what != nullptr) {
      throw Problem{"link " + Quoted(m.link) + " has " + what +
                    " that is not finite once the links fixed to it are joined"};
    }
    if (!std::isfinite(reach[j])) {
      throw Problem{"link " + Quoted(m.link) +
                    " is too long: the square of its length is not finite"};
    }
    const double d =
        before + std::sqrt(b.com[0] * b.com[0] + b.com[1] * b.com[1] + b.com[2] * b.com[2]);
    sum += b.mass * (1.0 + d) * (1.0 + d);
    for (const auto& row : b.inertia) {
      sum += std::fabs(row[0]) + std::fabs(row[1]) + std::fabs(row[2]);
    }
    if (!std::isfinite(kHeadroom * sum)) {
      throw Problem{"link " + Quoted(m.link) +
                    " is too heavy or too far from the joints before it: the arm's inertia about "
                    "them is not finite"};
    }
    before += reach[j];
  }
}

// Every moving joint must move some inertia, or its acceleration is undetermined and the engines
// divide by zero. What a joint drives is its articulated inertia: that of the links from its own on
// with the joints after it free, d_j = S_j^T I^A_j S_j, the j-th pivot of M factored from the tip,
// which is zero exactly when M is singular there. It is taken at the pose of the file (every joint
// at 0), from the tip down, and counts as zero below kNoInertia of what the joint would move with
// the joints after it held, M_jj (the rounding of the pivots stays far below that; a small but
// positive inertia is not zero). A joint whose M_jj is zero itself moves no mass off its axis and
// no inertia about it.
void CheckEveryJointMovesInertia(const Robot& robot, const std::vector<Moving>& chain) {
  constexpr double kNoInertia = 1e-12;
  const recursive::ChainModel model = recursive::BuildChainModel(robot);
  const int n = model.Size();
  recursive::ChainData data(n);
  const std::vector<double> zeros(static_cast<std::size_t>(n), 0.0);
  std::vector<double> tau(zeros), qdd(zeros), mass(static_cast<std::size_t>(n) * n);
  recursive::Kinematics(model, data, zeros.data(), zeros.data(), {0.0, 0.0, 0.0});
  recursive::CompositeBody(model, data, mass.data());
  recursive::ArticulatedBody(model, data, nullptr, tau.data(), nullptr, qdd.data());
  for (int j = n - 1; j >= 0; --j) {
    const Moving& m = chain[static_cast<std::size_t>(j)];
    const double held = mass[static_cast<std::size_t>(j) * n + j];
    if (held <= 0.0) {
      throw Problem{"joint " + Quoted(m.joint) + " moves nothing: link " + Quoted(m.link) +
                    " and the links after it have " +
                    (m.type == Prismatic ? "no mass"
                                         : "no mass off the joint's axis and no inertia about it")};
    }
    if (!(data.d[static_cast<std::size_t>(j)] > kNoInertia * held)) {
      throw Problem{"joint " + Quoted(m.joint) +
                    " moves no inertia of its own at the pose of "
                    "the file: link " +
                    Quoted(m.link) +
                    " has none it could move, and the joints "
                    "after it move all the rest themselves"};
    }
  }
}

std::unique_ptr<Robot> Convert(const urdf::ModelInterface& model, const std::string& tip,
                               std::vector<std::string>& notices) {
  std::vector<UrdfNode> tree;
  if (std::string problem = UrdfTreeOrder(model, tree); !problem.empty()) {
    throw Problem{problem};
  }
  for (const UrdfNode& n : tree) {
    CheckInertial(*n.link);
    if (n.joint && !Finite(n.joint->parent_to_joint_origin_transform)) {
      throw Problem{"joint " + Quoted(n.joint->name) + " has an origin that is not finite"};
    }
  }
  UrdfChain chosen;
  if (std::string problem = ChooseUrdfChain(tree, tip, chosen); !problem.empty()) {
    throw Problem{problem};
  }
  if (std::string line = HeldJointsNotice(chosen, !tip.empty()); !line.empty()) {
    notices.push_back(std::move(line));
  }

  // Every link moves with a body: the one its joint starts if that joint is one the chain moves,
  // else its parent's (the world's, -1, from the root on until the first moving joint). Its frame
  // is kept in the frame of that body's link (of the root for the world). Fixed joints and the
  // joints held fixed at position 0 alike place a child at the joint's origin.
  std::set<const urdf::Joint*> moves;  // the joints the chain moves
  for (const urdf::Joint* joint : chosen.path) {
    if (joint->type != urdf::Joint::FIXED) {
      moves.insert(joint);
    }
  }
  std::vector<Moving> chain;
  Frame base = kIdentity;
  std::vector<int> bodyOf(tree.size(), -1);
  std::vector<Frame> frameOf(tree.size(), kIdentity);
  for (std::size_t i = 0; i < tree.size(); ++i) {
    const UrdfNode& n = tree[i];
    if (n.joint == nullptr) {
      continue;  // the root: the world's, at the identity
    }
    const auto parent = static_cast<std::size_t>(n.parent);
    const Frame origin = FromPose(n.joint->parent_to_joint_origin_transform);
    if (moves.count(n.joint) == 0) {
      bodyOf[i] = bodyOf[parent];
      frameOf[i] = frameOf[parent] * origin;
    } else {
      Moving m;
      m.joint = n.joint->name;
      m.link = n.link->name;
      m.type = n.joint->type == urdf::Joint::PRISMATIC ? Prismatic : Revolute;
      m.direction = DirectionOf(n.joint->axis);
      JointPhysics(*n.joint, m, notices);
      // The incoming frame: the joint frame turned by the direction's rotation, seen from the
      // previous link's URDF frame (from the root for the first joint).
      const Frame incoming = frameOf[parent] * origin * m.direction.a;
      if (chain.empty()) {
        base = incoming;
      } else {
        chain.back().offset = Transposed(chain.back().direction.a) * incoming;
      }
      m.radius = CylinderRadius(*n.link);
      chain.push_back(std::move(m));
      bodyOf[i] = static_cast<int>(chain.size()) - 1;
    }
    // The masses fixed to the world take no part.
    if (n.link->inertial && bodyOf[i] >= 0) {
      AddInertial(chain[static_cast<std::size_t>(bodyOf[i])].body, *n.link->inertial, frameOf[i]);
      if (std::string line = ImplausibleInertia(*n.link); !line.empty()) {
        notices.push_back(std::move(line));
      }
    }
  }
  // The last link ends in a tool frame when fixed joints lead on from it to the chain's tool link.
  const std::size_t toolNode = chosen.tool;
  const bool tool = !chain.empty() && moves.count(tree[toolNode].joint) == 0;

  auto robot = std::make_unique<Robot>(0.0, 0.0, -9.81, 0.1, 0.1);
  robot->kineticEnergy = 0.0;
  robot->potentialEnergy = 0.0;
  robot->name = model.getName();
  robot->basePose = ToMatrix(base);
  // Each link in its own frame, turned by its joint direction's rotation a: com = a^T c,
  // inertia = a^T I a, and the offset from the link frame to the next incoming frame.
  std::vector<double> reach(chain.size());
  for (std::size_t j = 0; j < chain.size(); ++j) {
    Moving& m = chain[j];
    if (!m.body.given) {
      throw Problem{"link " + Quoted(m.link) + ", moved by joint " + Quoted(m.joint) +
                    ", has no inertial data"};
    }
    const Frame back = Transposed(m.direction.a);
    double com[3];
    for (int i = 0; i < 3; ++i) {
      com[i] = back.r[i][0] * m.body.com[0] + back.r[i][1] * m.body.com[1] +
               back.r[i][2] * m.body.com[2];
    }
    std::copy(com, com + 3, m.body.com);
    Rotated(back.r, m.body.inertia, m.body.inertia);
    if (j + 1 == chain.size()) {
      // Nothing follows the last link; its offset only gives the view the extent of its body:
      // to the tool frame, or else twice as far as its centre of mass.
      m.offset = tool ? back * frameOf[toolNode] : kIdentity;
      if (!tool) {
        for (int i = 0; i < 3; ++i) {
          m.offset.p[i] = 2.0 * com[i];
        }
      }
    }
    const double* p = m.offset.p;
    reach[j] = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
  }
  CheckMagnitudes(chain, base, reach);
  // A link without a visual cylinder is drawn a tenth as thick as it is long, as the built-in
  // arm's links are, but no thinner than a hundredth of the arm's reach, so that the joints of
  // short wrist links still show.
  double armReach = 0.0;
  for (double r : reach) {
    armReach += r;
  }
  for (std::size_t j = 0; j < chain.size(); ++j) {
    const Moving& m = chain[j];
    const double radius = m.radius > 0.0 ? m.radius : std::max(0.1 * reach[j], 0.01 * armReach);
    double pose[6];
    ToXyzRpy(m.offset, pose);
    const double(&i)[3][3] = m.body.inertia;
    robot->AddLink(m.body.mass, m.body.com[0], m.body.com[1], m.body.com[2], i[0][0], i[1][1],
                   i[2][2], i[0][1], i[1][2], i[0][2], pose[0], pose[1], pose[2], pose[3], pose[4],
                   pose[5], radius);
    robot->links.back()->jointType = m.type;
    robot->links.back()->axis = m.direction.code;
    Link& link = *robot->links.back();
    link.jointName = m.joint;
    link.lower = m.lower;
    link.upper = m.upper;
    link.effort = m.effort;
    link.fileFriction = m.fileFriction;
    link.fileViscous = m.damping;
    link.fileCoulomb = m.friction;
  }
  // Every link of the file as a frame of the arm link it moves with: the frames kept above are in
  // the URDF frame of that body's link, which is the arm's link frame turned back by a.
  robot->frames.reserve(tree.size());
  for (std::size_t i = 0; i < tree.size(); ++i) {
    const int body = bodyOf[i];
    const Frame pose =
        body < 0 ? frameOf[i]
                 : Transposed(chain[static_cast<std::size_t>(body)].direction.a) * frameOf[i];
    NamedFrame& frame = robot->frames.emplace_back();
    frame.name = tree[i].link->name;
    frame.link = body;
    std::copy(&pose.r[0][0], &pose.r[0][0] + 9, &frame.rotation[0][0]);
    std::copy(pose.p, pose.p + 3, frame.origin);
  }
  CheckEveryJointMovesInertia(*robot, chain);
  return robot;
}

// "SOURCE: problem" on one line, whatever the file's names or the parser's messages hold.
// Control characters from the file are shown escaped.
std::string ErrorLine(const std::string& source, const std::string& problem) {
  return PrintableLine(source + ": " + problem);
}

}  // namespace

std::unique_ptr<Robot> LoadUrdfRobotFromText(const std::string& text, const std::string& source,
                                             std::string& error, const UrdfOptions& options,
                                             std::vector<std::string>* notices) {
  if (notices) {
    notices->clear();
  }
  try {
    if (std::string problem = CheckUrdfText(text); !problem.empty()) {
      throw Problem{problem};
    }
    const urdf::ModelInterfaceSharedPtr model = Parse(text);
    const UrdfUnlink unlink{*model};
    std::vector<std::string> lines;
    std::unique_ptr<Robot> robot = Convert(*model, options.tip, lines);
    if (notices) {
      for (const std::string& line : lines) {
        notices->push_back(ErrorLine(source, line));
      }
    }
    error.clear();
    return robot;
  } catch (const Problem& p) {
    error = ErrorLine(source, p.text);
    return nullptr;
  }
}

std::unique_ptr<Robot> LoadUrdfRobot(const std::string& path, std::string& error,
                                     const UrdfOptions& options,
                                     std::vector<std::string>* notices) {
  std::string text;
  if (std::string problem = ReadUrdfFile(path, text); !problem.empty()) {
    if (notices) {
      notices->clear();
    }
    error = ErrorLine(path, problem);
    return nullptr;
  }
  return LoadUrdfRobotFromText(text, path, error, options, notices);
}
