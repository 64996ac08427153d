#include "visuals/arm_pick.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "robot/transforms.h"
#include "visuals/arm_extent.h"
#include "visuals/figure.h"

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kPi = 3.14159265358979323846;

struct V3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

V3 operator+(V3 a, V3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
V3 operator-(V3 a, V3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
V3 operator*(double s, V3 a) {
  return {s * a.x, s * a.y, s * a.z};
}
double Dot(V3 a, V3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
V3 Cross(V3 a, V3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
V3 Unit(V3 a) {
  const double length = std::sqrt(Dot(a, a));
  return length > 0.0 ? (1.0 / length) * a : a;
}
V3 Of(const double* v) {
  return {v[0], v[1], v[2]};
}
void Put(V3 a, double* out) {
  out[0] = a.x;
  out[1] = a.y;
  out[2] = a.z;
}

// Rows of the turn from world to the camera's world, Ry(tilt) Rz(spin), and its transpose.
struct Turn {
  V3 row[3];
  V3 Apply(V3 a) const { return {Dot(row[0], a), Dot(row[1], a), Dot(row[2], a)}; }
  V3 Back(V3 a) const {
    return {row[0].x * a.x + row[1].x * a.y + row[2].x * a.z,
            row[0].y * a.x + row[1].y * a.y + row[2].y * a.z,
            row[0].z * a.x + row[1].z * a.y + row[2].z * a.z};
  }
};

Turn CameraTurn(const PickCamera& camera) {
  const double ct = std::cos(camera.tilt * kRadiansPerDegree);
  const double st = std::sin(camera.tilt * kRadiansPerDegree);
  const double cs = std::cos(camera.spin * kRadiansPerDegree);
  const double ss = std::sin(camera.spin * kRadiansPerDegree);
  // Ry(t) Rz(s) = [[ct cs, -ct ss, st], [ss, cs, 0], [-st cs, st ss, ct]]
  return {{{ct * cs, -ct * ss, st}, {ss, cs, 0.0}, {-st * cs, st * ss, ct}}};
}

// The line of sight, gluLookAt's forward direction.
V3 Forward(const PickCamera& camera) {
  return Unit(Of(camera.center) - Of(camera.eye));
}

// A ray in the frame of a primitive: origin and direction.
struct Local {
  V3 o, d;
};

// The ray in the frame of pose, divided by scale (a shape's glScaled); false when a scale is 0.
bool ToLocal(const Pose3& pose, const double scale[3], V3 o, V3 d, Local& out) {
  const V3 rel = o - Of(pose.p);
  double lo[3], ld[3];
  for (int i = 0; i < 3; ++i) {
    if (scale[i] == 0.0) {
      return false;
    }
    const V3 column{pose.r[0][i], pose.r[1][i], pose.r[2][i]};
    lo[i] = Dot(column, rel) / scale[i];
    ld[i] = Dot(column, d) / scale[i];
  }
  out = {Of(lo), Of(ld)};
  return true;
}

// The first t >= from at which the local ray meets the box |x_i| <= h_i; -1 when it does not.
double HitBox(const Local& ray, const double h[3], double from) {
  double near = -INFINITY, far = INFINITY;
  const double o[3] = {ray.o.x, ray.o.y, ray.o.z}, d[3] = {ray.d.x, ray.d.y, ray.d.z};
  for (int i = 0; i < 3; ++i) {
    if (d[i] == 0.0) {
      if (std::fabs(o[i]) > h[i]) {
        return -1.0;
      }
      continue;
    }
    double a = (-h[i] - o[i]) / d[i], b = (h[i] - o[i]) / d[i];
    if (a > b) {
      std::swap(a, b);
    }
    near = std::max(near, a);
    far = std::min(far, b);
  }
  if (near > far) {
    return -1.0;
  }
  if (near >= from) {
    return near;
  }
  return far >= from ? far : -1.0;
}

double Nearest(double a, double b) {
  if (a < 0.0) {
    return b;
  }
  return b < 0.0 ? a : std::min(a, b);
}

// A convex polyhedron as the half-spaces n . x <= d of its faces.
struct Plane {
  V3 n;
  double d = 0.0;
};
using Faces = std::vector<Plane>;

// The first t >= from at which the ray is inside every half-space (Cyrus and Beck's clipping):
// where it enters, or where it leaves for a ray that starts inside; -1 when it misses.
double HitFaces(const Local& ray, const Faces& faces, double from) {
  double enter = -INFINITY, leave = INFINITY;
  for (const Plane& face : faces) {
    const double along = Dot(face.n, ray.d);
    const double room = face.d - Dot(face.n, ray.o);
    if (along == 0.0) {
      if (room < 0.0) {
        return -1.0;
      }
    } else if (along < 0.0) {
      enter = std::max(enter, room / along);
    } else {
      leave = std::min(leave, room / along);
    }
    if (enter > leave) {
      return -1.0;
    }
  }
  if (enter >= from) {
    return enter;
  }
  return leave >= from ? leave : -1.0;
}

// A corner of GLU's quadrics: at the angle 2 pi i / slices, x = sin, y = cos.
V3 Around(int i, int slices, double radius, double z) {
  const double angle = 2.0 * kPi * i / slices;
  return {radius * std::sin(angle), radius * std::cos(angle), z};
}

// The plane through a, b, c facing away from the origin (which lies inside).
Plane Through(V3 a, V3 b, V3 c) {
  V3 n = Unit(Cross(b - a, c - a));
  if (Dot(n, a) < 0.0) {
    n = -1.0 * n;
  }
  return {n, Dot(n, a)};
}

// The cylinder of radius 1 from z = -1/2 to 1/2 as gluCylinder and gluDisk draw it: a prism of
// `slices` sides; a longer one takes caps moved to its half length.
const Faces& Prism(int slices) {
  static std::vector<std::pair<int, Faces>> made;
  for (const auto& [count, faces] : made) {
    if (count == slices) {
      return faces;
    }
  }
  Faces faces;
  for (int i = 0; i < slices; ++i) {
    faces.push_back(Through(Around(i, slices, 1.0, 0.0), Around(i + 1, slices, 1.0, 0.0),
                            Around(i, slices, 1.0, 1.0)));
  }
  faces.push_back({{0.0, 0.0, 1.0}, 0.5});
  faces.push_back({{0.0, 0.0, -1.0}, 0.5});
  made.emplace_back(slices, std::move(faces));
  return made.back().second;
}

// The sphere of radius 1 as gluSphere draws it: its corners on `stacks` + 1 circles of latitude
// (z = cos(pi j / stacks)), each face a flat quadrilateral, or a triangle at the poles.
const Faces& FacetedSphere() {
  static const Faces faces = [] {
    const int slices = kShapeSlices, stacks = kShapeStacks;
    Faces made;
    const auto corner = [&](int i, int j) {
      const double polar = kPi * j / stacks;
      return Around(i, slices, std::sin(polar), std::cos(polar));
    };
    for (int j = 0; j < stacks; ++j) {
      for (int i = 0; i < slices; ++i) {
        made.push_back(j == 0 ? Through(corner(i, 0), corner(i, 1), corner(i + 1, 1))
                              : Through(corner(i, j), corner(i + 1, j), corner(i, j + 1)));
      }
    }
    return made;
  }();
  return faces;
}

// A prism's faces with its caps at +-half.
double HitCylinder(const Local& ray, int slices, double half, double from) {
  Faces faces = Prism(slices);
  faces[faces.size() - 2].d = half;
  faces.back().d = half;
  return HitFaces(ray, faces, from);
}

// The first t >= from at which the ray meets a triangle of the mesh (scaled to the shape's frame
// already by the local ray): Moller and Trumbore's test, both faces.
double HitMesh(const TriangleMesh& mesh, const Local& ray, double from) {
  // The mesh's box first.
  const double h[3] = {0.5 * (mesh.high[0] - mesh.low[0]), 0.5 * (mesh.high[1] - mesh.low[1]),
                       0.5 * (mesh.high[2] - mesh.low[2])};
  const V3 middle{0.5 * (mesh.high[0] + mesh.low[0]), 0.5 * (mesh.high[1] + mesh.low[1]),
                  0.5 * (mesh.high[2] + mesh.low[2])};
  const double grow[3] = {h[0] * 1.001 + 1e-9, h[1] * 1.001 + 1e-9, h[2] * 1.001 + 1e-9};
  if (HitBox({ray.o - middle, ray.d}, grow, from) < 0.0) {
    return -1.0;
  }
  double best = -1.0;
  for (const MeshPart& part : mesh.parts) {
    const std::vector<float>& p = part.positions;
    for (std::size_t i = 0; i + 8 < p.size(); i += 9) {
      const V3 a{p[i], p[i + 1], p[i + 2]}, b{p[i + 3], p[i + 4], p[i + 5]},
          c{p[i + 6], p[i + 7], p[i + 8]};
      const V3 e1 = b - a, e2 = c - a;
      const V3 q = Cross(ray.d, e2);
      const double det = Dot(e1, q);
      if (det == 0.0) {
        continue;
      }
      const V3 s = ray.o - a;
      const double u = Dot(s, q) / det;
      if (u < 0.0 || u > 1.0) {
        continue;
      }
      const V3 r = Cross(s, e1);
      const double v = Dot(ray.d, r) / det;
      if (v < 0.0 || u + v > 1.0) {
        continue;
      }
      const double t = Dot(e2, r) / det;
      if (t >= from) {
        best = Nearest(best, t);
      }
    }
  }
  return best;
}

// f turned as glRotated turns it: by `degrees` about the axis x, y or z (0, 1, 2) of its frame.
Pose3 Turned(const Pose3& f, int axis, double degrees) {
  const double angle = degrees * kPi / 180.0;
  const double c = std::cos(angle), s = std::sin(angle);
  Pose3 turn;
  const int i = (axis + 1) % 3, j = (axis + 2) % 3;
  turn.r[i][i] = c;
  turn.r[i][j] = -s;
  turn.r[j][i] = s;
  turn.r[j][j] = c;
  return f * turn;
}

// f moved as glTranslated moves it.
Pose3 Moved(const Pose3& f, double x, double y, double z) {
  Pose3 move;
  move.p[0] = x;
  move.p[1] = y;
  move.p[2] = z;
  return f * move;
}

// The nearest hit so far, and the link it belongs to.
struct Best {
  double t = -1.0;
  int link = -1;
  void Take(double hit, int of) {
    if (hit >= 0.0 && (t < 0.0 || hit < t)) {
      t = hit;
      link = of;
    }
  }
};

class Caster {
 public:
  Caster(const Ray3& ray, double from) : o_(Of(ray.origin)), d_(Of(ray.direction)), from_(from) {}

  // The view's closed cylinder along z of the given length and radius centred at pose, cut into
  // kFigureSlices sides.
  void Cylinder(const Pose3& pose, double length, double radius, int link) {
    if (!(length > 0.0) || !(radius > 0.0)) {
      return;
    }
    const double scale[3] = {radius, radius, 1.0};
    Local local;
    if (ToLocal(pose, scale, o_, d_, local)) {
      best_.Take(HitCylinder(local, kFigureSlices, 0.5 * length, from_), link);
    }
  }

  // The view's segment from the origin of frame to (x, y, z) in it: the cylinder turned by
  // atan2(y, x) about z and by 90 degrees less atan2(z, rho) about y, and moved half its length
  // along its z, as the view turns and moves it.
  void Segment(const Pose3& frame, double x, double y, double z, double radius, int link) {
    const double rho2 = x * x + y * y;
    const double length = std::sqrt(rho2 + z * z);
    Pose3 pose = Turned(frame, 2, std::atan2(y, x) * kDegreesPerRadian);
    pose = Turned(pose, 1, 90.0 - std::atan2(z, std::sqrt(rho2)) * kDegreesPerRadian);
    Cylinder(Moved(pose, 0.0, 0.0, length * 0.5), length, radius, link);
  }

  // A box of half edges h at pose.
  void Box(const Pose3& pose, const double h[3], int link) {
    const double one[3] = {1.0, 1.0, 1.0};
    Local local;
    if (ToLocal(pose, one, o_, d_, local)) {
      best_.Take(HitBox(local, h, from_), link);
    }
  }

  // A shape of the description at its world pose.
  void Shape(const VisualShape& shape, const Pose3& pose, int link) {
    Local local;
    if (!ToLocal(pose, shape.size, o_, d_, local)) {
      return;
    }
    switch (shape.kind) {
      case ShapeKind::kBox: {
        const double h[3] = {0.5, 0.5, 0.5};
        best_.Take(HitBox(local, h, from_), link);
        break;
      }
      case ShapeKind::kCylinder:
        best_.Take(HitCylinder(local, kShapeSlices, 0.5, from_), link);
        break;
      case ShapeKind::kSphere:
        best_.Take(HitFaces(local, FacetedSphere(), from_), link);
        break;
      case ShapeKind::kMesh:
        if (shape.mesh != nullptr) {
          best_.Take(HitMesh(*shape.mesh, local, from_), link);
        }
        break;
    }
  }

  const Best& Result() const { return best_; }
  V3 At(double t) const { return o_ + t * d_; }

 private:
  V3 o_, d_;
  double from_;
  Best best_;
};

// The incoming frame turned to lay its z along the joint's axis, as the view turns it.
Pose3 AlongJointAxis(const Pose3& incoming, const Link& link) {
  switch (link.axis) {
    case X:
      return Turned(incoming, 1, 90.0);
    case Y:
      return Turned(incoming, 0, -90.0);
    default:
      return incoming;
  }
}

void Housing(Caster& caster, const Pose3& incoming, const Link& link, double scale, int k) {
  const double r = link.radius * scale;
  if (link.jointType == Prismatic) {
    // A cube looks the same along every axis.
    const double h[3] = {0.5 * kHousingLength * r, 0.5 * kHousingLength * r,
                         0.5 * kHousingLength * r};
    caster.Box(incoming, h, k);
  } else {
    caster.Cylinder(AlongJointAxis(incoming, link), kHousingLength * r, kHousingRadius * r, k);
  }
}

// The body: a segment from the frame's origin to the link's offset point in it.
void Body(Caster& caster, const Pose3& frame, const Link& link, int k) {
  caster.Segment(frame, link.offsetX, link.offsetY, link.offsetZ, link.radius, k);
}

}  // namespace

Ray3 CameraRay(const PickCamera& camera, double x, double y, double width, double height) {
  const V3 f = Forward(camera);
  const V3 s = Unit(Cross(f, {0.0, 0.0, 1.0}));
  const V3 u = Cross(s, f);
  const double half = std::tan(0.5 * camera.fovY * kRadiansPerDegree);
  const double nx = 2.0 * x / std::max(width, 1.0) - 1.0;
  const double ny = 1.0 - 2.0 * y / std::max(height, 1.0);
  const V3 seen = Unit(f + (nx * half * camera.aspect) * s + (ny * half) * u);
  const Turn turn = CameraTurn(camera);
  Ray3 ray;
  Put(turn.Back(Of(camera.eye)), ray.origin);
  Put(Unit(turn.Back(seen)), ray.direction);
  return ray;
}

double ViewDepth(const PickCamera& camera, const double point[3]) {
  return Dot(CameraTurn(camera).Apply(Of(point)) - Of(camera.eye), Forward(camera));
}

void PointAtDepth(const PickCamera& camera, const Ray3& ray, double depth, double out[3]) {
  const double along = Dot(CameraTurn(camera).Apply(Of(ray.direction)), Forward(camera));
  const double t = along > 0.0 ? depth / along : 0.0;
  Put(Of(ray.origin) + t * Of(ray.direction), out);
}

ArmPick PickArm(const Robot& robot, const VisualModel* shapes, const Ray3& ray, double from) {
  Caster caster(ray, from);
  const std::vector<Pose3> incoming = IncomingFrames(robot);
  const std::vector<Pose3> frames = LinkFrames(robot);
  ShapePlacement placement;
  if (shapes != nullptr) {
    placement = PlaceShapes(*shapes, robot);
    for (std::size_t i = 0; i < shapes->shapes.size(); ++i) {
      const int frame = placement.frameOf[i];
      if (frame < 0) {
        continue;
      }
      const int link = robot.frames[static_cast<std::size_t>(frame)].link;
      if (placement.Covers(link)) {
        caster.Shape(shapes->shapes[i], ShapePose(*shapes, placement, robot, frames, i), link);
      }
    }
  }
  const auto figure = [&](int k) { return shapes == nullptr || !placement.Covers(k); };
  // The column from the world's origin to the first joint.
  const matrix<double>& base = robot.basePose;
  if (!robot.links.empty() && figure(-1)) {
    caster.Segment(Pose3{}, base(0, 3), base(1, 3), base(2, 3), robot.links.front()->radius, -1);
  }
  for (std::size_t k = 0; k < robot.links.size(); ++k) {
    const Link& link = *robot.links[k];
    const int index = static_cast<int>(k);
    if (!figure(index)) {
      if (JointAtLimit(robot, k) != 0) {
        Housing(caster, incoming[k], link, kAtLimitOverShapes, index);
      }
      continue;
    }
    switch (link.jointType) {
      case Fixed:
        Body(caster, incoming[k], link, index);
        break;
      case Revolute:
        Housing(caster, incoming[k], link, 1.0, index);
        Body(caster, frames[k], link, index);
        break;
      case Prismatic: {
        Housing(caster, incoming[k], link, 1.0, index);
        // The slider, from the joint's origin to q along its axis. Its square section keeps the
        // turn of the view's frame about the axis: a box is the same only under quarter turns.
        const Pose3 slider = Moved(AlongJointAxis(incoming[k], link), 0.0, 0.0, 0.5 * link.q);
        const double w = 0.5 * kSliderWidth * link.radius;
        const double h[3] = {w, w, 0.5 * std::fabs(link.q)};
        caster.Box(slider, h, index);
        Body(caster, frames[k], link, index);
        break;
      }
      default:
        break;
    }
  }
  ArmPick pick;
  const Best& best = caster.Result();
  if (best.t < 0.0) {
    return pick;
  }
  pick.hit = true;
  pick.link = best.link;
  pick.distance = best.t;
  const V3 p = caster.At(best.t);
  Put(p, pick.point);
  if (best.link < 0) {
    Put(p, pick.local);
  } else {
    // x = r^T (p - o) in the link's frame.
    const Pose3& frame = frames[static_cast<std::size_t>(best.link)];
    const V3 rel = p - Of(frame.p);
    for (int i = 0; i < 3; ++i) {
      pick.local[i] = frame.r[0][i] * rel.x + frame.r[1][i] * rel.y + frame.r[2][i] * rel.z;
    }
  }
  return pick;
}
