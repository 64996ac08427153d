// What the mouse picks, without a display: the camera's rays (the line of sight through the centre,
// the field of view at the edges, the spin and tilt turned back, depths), and rays against known
// scenes: a box, a cylinder, a sphere and a mesh box of a description at known places, the figure
// of the built-in arm (its bodies and housings) and a slider, shapes hiding the figure, and empty
// space.
#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "robot/robot.h"
#include "urdf/urdf_loader.h"
#include "visuals/arm_extent.h"
#include "visuals/arm_pick.h"
#include "visuals/figure.h"
#include "visuals/urdf_visuals.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
using Point = std::array<double, 3>;

double Distance(const double* a, const double* b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// The ray from `from` towards `to`.
Ray3 Towards(const Point& from, const Point& to) {
  const double length = Distance(to.data(), from.data());
  Ray3 ray;
  for (int i = 0; i < 3; ++i) {
    ray.origin[i] = from[i];
    ray.direction[i] = (to[i] - from[i]) / length;
  }
  return ray;
}

// What the ray from `from` towards `to` picks first, at least `start` along it.
ArmPick Pick(const Robot& robot, const VisualModel* shapes, const Point& from, const Point& to,
             double start = 0.0) {
  return PickArm(robot, shapes, Towards(from, to), start);
}

// One link turning about z at height 1 whose only shape is `geometry` at `origin` in it: its arm
// and its shapes.
struct Scene {
  std::unique_ptr<Robot> robot;
  std::shared_ptr<VisualModel> shapes;
};

Scene OneShape(const std::string& geometry, const std::string& origin) {
  const std::string text =
      "<robot name='scene'><link name='base'/><joint name='j' type='revolute'><parent "
      "link='base'/><child link='l'/><origin xyz='0 0 1'/><axis xyz='0 0 1'/><limit lower='-3' "
      "upper='3' effort='1' velocity='1'/></joint><link name='l'><inertial><mass value='1'/>"
      "<inertia ixx='0.01' iyy='0.01' izz='0.01' ixy='0' ixz='0' iyz='0'/></inertial><visual>"
      "<origin " +
      origin + "/><geometry>" + geometry + "</geometry></visual></link></robot>";
  Scene scene;
  std::string error;
  scene.robot = LoadUrdfRobotFromText(text, "scene", error);
  EXPECT_NE(scene.robot, nullptr) << error;
  std::vector<std::string> notices;
  scene.shapes = std::make_shared<VisualModel>(
      LoadUrdfVisualsFromText(text, "scene", PackageSearchFor("", {}), notices));
  EXPECT_EQ(scene.shapes->shapes.size(), 1u);
  return scene;
}

// A box of edges 2a, 2b, 2c as a mesh of twelve triangles, two on each face, wound as a file's are:
// counter-clockwise seen from outside, so that a ray meets the near faces' front and the far ones'
// back.
std::shared_ptr<TriangleMesh> MeshBox(float a, float b, float c) {
  auto mesh = std::make_shared<TriangleMesh>();
  MeshPart part;
  const float half[3] = {a, b, c};
  const int corners[6][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, -1}, {1, 1}, {-1, 1}};
  for (int axis = 0; axis < 3; ++axis) {
    for (const float side : {-1.0f, 1.0f}) {
      for (int t = 0; t < 6; ++t) {
        const auto [u, v] = corners[side > 0.0f ? t : 5 - t];
        float p[3];
        p[axis] = side * half[axis];
        p[(axis + 1) % 3] = static_cast<float>(u) * half[(axis + 1) % 3];
        p[(axis + 2) % 3] = static_cast<float>(v) * half[(axis + 2) % 3];
        part.positions.insert(part.positions.end(), p, p + 3);
        part.normals.insert(part.normals.end(), {0.0f, 0.0f, 1.0f});
      }
    }
  }
  mesh->parts.push_back(part);
  mesh->low = {-a, -b, -c};
  mesh->high = {a, b, c};
  return mesh;
}

TEST(CameraRay, TheCentreLooksAlongTheLineOfSightAndTheEdgesAtHalfTheFieldOfView) {
  PickCamera camera;
  const double eye[3] = {2.5, 0.0, 0.4}, center[3] = {0.0, 0.0, 0.8};
  std::copy(eye, eye + 3, camera.eye);
  std::copy(center, center + 3, camera.center);
  camera.aspect = 4.0 / 3.0;
  const auto ray = [&camera](double x, double y) { return CameraRay(camera, x, y, 400.0, 300.0); };
  const Ray3 middle = ray(200.0, 150.0), top = ray(200.0, 0.0), right = ray(400.0, 150.0);
  const double length = Distance(center, eye);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(middle.direction[i], (center[i] - eye[i]) / length, 1e-15);
    EXPECT_EQ(middle.origin[i], eye[i]);
  }
  const auto angle = [&](const Ray3& r) {
    double dot = 0.0;
    for (int i = 0; i < 3; ++i) {
      dot += r.direction[i] * middle.direction[i];
    }
    return std::acos(std::min(1.0, dot)) * 180.0 / kPi;
  };
  // The top edge at half the field of view, up in the world; the right edge at
  // atan(aspect tan(22.5 deg)), towards +y when looking along -x with z up.
  EXPECT_NEAR(angle(top), 22.5, 1e-12);
  EXPECT_NEAR(angle(right), std::atan(4.0 / 3.0 * std::tan(22.5 * kPi / 180.0)) * 180.0 / kPi,
              1e-12);
  EXPECT_GT(top.direction[2], middle.direction[2]);
  EXPECT_GT(right.direction[1], 0.0);

  // The world turned by the spin about z, then by the tilt about y, before it is seen: turning the
  // turned camera's ray forward gives the ray of the camera without them.
  for (const auto& [spin, tilt] :
       {std::pair{90.0, 0.0}, std::pair{0.0, 30.0}, std::pair{40.0, -25.0}}) {
    SCOPED_TRACE(std::to_string(spin) + ", " + std::to_string(tilt));
    PickCamera turned = camera;
    turned.spin = spin;
    turned.tilt = tilt;
    const Ray3 seen = CameraRay(turned, 310.0, 40.0, 400.0, 300.0), plain = ray(310.0, 40.0);
    const double s = spin * kPi / 180.0, t = tilt * kPi / 180.0;
    for (const auto& [v, want] :
         {std::pair{seen.origin, plain.origin}, std::pair{seen.direction, plain.direction}}) {
      const double x = std::cos(s) * v[0] - std::sin(s) * v[1];
      EXPECT_NEAR(std::cos(t) * x + std::sin(t) * v[2], want[0], 1e-12);
      EXPECT_NEAR(std::sin(s) * v[0] + std::cos(s) * v[1], want[1], 1e-12);
      EXPECT_NEAR(-std::sin(t) * x + std::cos(t) * v[2], want[2], 1e-12);
    }
    double at[3];
    PointAtDepth(turned, seen, 1.7, at);
    EXPECT_NEAR(ViewDepth(turned, at), 1.7, 1e-12);
  }
}

// A ray towards a point on a shape's surface picks that point and the link, for each kind of shape
// at a known place in its link (turned and moved in it, the link turned by its joint), and finds
// the point in the link's frame; a start past the near face of a box finds its far face. Aimed
// past the shape the ray meets nothing, as the figure is not drawn under shapes; a mesh that failed
// to load leaves its link to the figure, a body from the joint along its offset (none) and its
// housing about z at (0, 0, 1), and the mesh's place is empty.
TEST(PickArm, ARayPicksThePointAndTheLinkOfEachKindOfShape) {
  const struct {
    const char* what;
    std::string geometry, origin;
    Point want;  // where the ray meets the shape, in the link's frame
    double far;  // the x of the far face, in the link's frame, or 0
  } cases[] = {
      // Edges 0.2 x 0.4 x 0.1 at (0.5, 0, 0): the face x = 0.6; as a mesh of half the size scaled
      // by 2 (its corners are floats). A cylinder of radius 0.1 and length 0.4 along z there: its
      // side. A sphere of radius 0.15 at (0.5, 0.2, 0.1): its point towards +x. The box turned 90
      // degrees about z: 0.4 along x, the face x = 0.7.
      {"box", "<box size='0.2 0.4 0.1'/>", "xyz='0.5 0 0'", {0.6, 0.1, 0.02}, 0.4},
      {"mesh box", "<box size='1 1 1'/>", "xyz='0.5 0 0'", {0.6, 0.1, 0.02}, 0.4},
      {"cylinder", "<cylinder radius='0.1' length='0.4'/>", "xyz='0.5 0 0'", {0.6, 0, 0.15}, 0},
      {"sphere", "<sphere radius='0.15'/>", "xyz='0.5 0.2 0.1'", {0.65, 0.2, 0.1}, 0.0},
      {"turned box",
       "<box size='0.2 0.4 0.1'/>",
       "xyz='0.5 0 0' rpy='0 0 1.5707963267948966'",
       {0.7, 0.05, 0.0},
       0.0},
  };
  // The link's frame is at (0, 0, 1), its joint turned by 0.5 rad about z.
  const double q = 0.5;
  const auto world = [q](const Point& p) {
    return Point{std::cos(q) * p[0] - std::sin(q) * p[1], std::sin(q) * p[0] + std::cos(q) * p[1],
                 1.0 + p[2]};
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    Scene scene = OneShape(k.geometry, k.origin);
    const bool mesh = std::string(k.what) == "mesh box";
    if (mesh) {
      VisualShape& shape = scene.shapes->shapes[0];
      shape.kind = ShapeKind::kMesh;
      shape.mesh = MeshBox(0.05f, 0.1f, 0.025f);
      shape.size[0] = shape.size[1] = shape.size[2] = 2.0;
    }
    scene.robot->links[0]->q = q;
    // From 3 m out along the link's x (and a little above), towards the point.
    const Point from = world({3.0, 0.3, 0.4}), want = world(k.want);
    const ArmPick pick = Pick(*scene.robot, scene.shapes.get(), from, want);
    ASSERT_TRUE(pick.hit);
    EXPECT_EQ(pick.link, 0);
    EXPECT_LT(Distance(pick.point, want.data()), mesh ? 1e-6 : 1e-12);
    double back[3];
    LinkFrames(*scene.robot)[0].Apply(pick.local, back);
    EXPECT_LT(Distance(back, pick.point), 1e-12);
    if (k.far != 0.0) {
      const ArmPick far = Pick(*scene.robot, scene.shapes.get(), from, want, pick.distance + 0.01);
      ASSERT_TRUE(far.hit);
      EXPECT_NEAR(far.local[0], k.far, mesh ? 1e-6 : 1e-12);
    }
    EXPECT_FALSE(
        Pick(*scene.robot, scene.shapes.get(), from, world({k.want[0], k.want[1], k.want[2] + 1.0}))
            .hit);
    if (mesh) {
      EXPECT_FALSE(Pick(*scene.robot, nullptr, from, want).hit);
      scene.shapes->failedFrames.push_back("l");
      EXPECT_FALSE(Pick(*scene.robot, scene.shapes.get(), from, want).hit);
    }
  }
}

// The built-in arm at q = 0 lies along y on the floor: bodies of radius 0.03 from (0, 0.3 i, 0) to
// (0, 0.3 (i + 1), 0), housings along x of radius 1.3 r = 0.039 and length 0.075 at (0, 0.3 i, 0),
// each cut into kFigureSlices sides as the view draws them: a ray square to a side meets it at most
// the sides' sagitta r (1 - cos(pi / slices)) inside the round cylinder; a cap is flat, and met
// exactly. Turned by its joints the figure follows, each body in its own link's frame.
TEST(PickArm, TheFigureOfTheBuiltInArmIsPickedOnItsBodiesAndHousings) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  const double r = 0.03, sagitta = 1.3 * r * (1.0 - std::cos(kPi / kFigureSlices));
  const double up = kPi / 2.0;  // joint 0 turned so that the arm stands up along z
  const struct {
    const char* what;
    double q0;
    Point from, want;
    int link;
    double within;
  } cases[] = {
      {"body 2's top, from above", 0.0, {0.0, 0.75, 2.0}, {0.0, 0.75, r}, 2, sagitta},
      {"body 4, from +x", 0.0, {2.0, 1.35, 0.0}, {r, 1.35, 0.0}, 4, sagitta},
      {"housing 3's cap at x = 1.25 r", 0.0, {2.0, 0.91, 0.02}, {1.25 * r, 0.91, 0.02}, 3, 1e-12},
      {"housing 1's side", 0.0, {0.03, 0.3, 2.0}, {0.03, 0.3, 1.3 * r}, 1, sagitta},
      {"beside the arm", 0.0, {0.0, 0.75, 2.0}, {0.2, 0.75, 0.0}, -1, 0.0},
      {"beyond its tip", 0.0, {0.0, 0.75, 2.0}, {0.0, 1.9, 0.0}, -1, 0.0},
      {"standing, body 0", up, {2.0, 0.0, 0.15}, {r, 0.0, 0.15}, 0, sagitta},
      {"standing, body 3", up, {2.0, 0.0, 1.05}, {r, 0.0, 1.05}, 3, sagitta},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    robot->links[0]->q = k.q0;
    const ArmPick pick = Pick(*robot, nullptr, k.from, k.want);
    ASSERT_EQ(pick.hit, k.link >= 0);
    if (pick.hit) {
      EXPECT_EQ(pick.link, k.link);
      EXPECT_LE(Distance(pick.point, k.want.data()), k.within);
      // Along the body (the link's y) in its own frame, r off its axis.
      if (k.q0 == up) {
        EXPECT_NEAR(pick.local[1], k.want[2] - 0.3 * k.link, 1e-12);
      }
    }
  }
}

// A prismatic joint's slider is a square rod along the joint's axis, its faces turned as the
// incoming frame turns about that axis (the view draws it in that frame): with the frame turned by
// a about the axis, a ray square to the axis through it meets the rod w / cos a from the axis, not
// w, for either axis code and either sign of q.
TEST(PickArm, TheSliderTurnsWithItsIncomingFrameAboutTheAxis) {
  const double a = 0.6, r = 0.1, w = 0.5 * kSliderWidth * r, reach = 0.8;
  const std::pair<int, double> cases[] = {
      {Z, reach}, {Z, -reach}, {X, reach}, {Y, reach}, {Y, -reach}};
  for (const auto& [axis, q] : cases) {
    SCOPED_TRACE(std::to_string(axis) + ", " + std::to_string(q));
    Robot robot(0.0, 0.0, -9.81, 0.0, 0.0);
    robot.links.push_back(std::make_unique<Link>());
    Link& link = *robot.links[0];
    link.jointType = Prismatic;
    link.axis = axis;
    link.radius = r;
    link.q = q;
    // The base turned by a about the joint's axis: the rotation's rows i, j (the other two axes).
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    robot.basePose(i, i) = robot.basePose(j, j) = std::cos(a);
    robot.basePose(i, j) = -std::sin(a);
    robot.basePose(j, i) = std::sin(a);
    // Halfway along the rod, from the side along the world's axis i.
    Point want{}, from{};
    want[axis] = from[axis] = 0.5 * q;
    want[i] = w / std::cos(a);
    from[i] = 3.0;
    const ArmPick pick = Pick(robot, nullptr, from, want);
    ASSERT_TRUE(pick.hit);
    EXPECT_EQ(pick.link, 0);
    EXPECT_LT(Distance(pick.point, want.data()), 1e-12);
  }
}

}  // namespace
