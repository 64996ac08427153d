// What the mouse picks, without a display: the camera's rays (the line of sight through the centre,
// the field of view at the edges, the spin and tilt turned back, depths), and rays against known
// scenes: a box, a cylinder, a sphere and a mesh box of a description at known places, the figure
// of the built-in arm (its bodies and housings), shapes hiding the figure, and empty space.
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

double Distance(const double* a, const double* b) {
  return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                   (a[2] - b[2]) * (a[2] - b[2]));
}

// The ray from `from` towards `to`.
Ray3 Towards(const double (&from)[3], const double (&to)[3]) {
  Ray3 ray;
  double d[3], length = 0.0;
  for (int i = 0; i < 3; ++i) {
    d[i] = to[i] - from[i];
    length += d[i] * d[i];
  }
  length = std::sqrt(length);
  for (int i = 0; i < 3; ++i) {
    ray.origin[i] = from[i];
    ray.direction[i] = d[i] / length;
  }
  return ray;
}

// One link turning about z at height 1 whose only shape is `geometry` at `origin` in it: the
// description, its arm and its shapes.
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

// A box of edges 2a, 2b, 2c as a mesh of twelve triangles.
std::shared_ptr<TriangleMesh> MeshBox(float a, float b, float c) {
  auto mesh = std::make_shared<TriangleMesh>();
  MeshPart part;
  const float x[2] = {-a, a}, y[2] = {-b, b}, z[2] = {-c, c};
  for (int axis = 0; axis < 3; ++axis) {
    for (int side = 0; side < 2; ++side) {
      float quad[4][3];
      for (int k = 0; k < 4; ++k) {
        const int u = k == 1 || k == 2, v = k >= 2;
        float p[3];
        p[axis] = axis == 0 ? x[side] : axis == 1 ? y[side] : z[side];
        const int i = (axis + 1) % 3, j = (axis + 2) % 3;
        p[i] = i == 0 ? x[u] : i == 1 ? y[u] : z[u];
        p[j] = j == 0 ? x[v] : j == 1 ? y[v] : z[v];
        std::copy(p, p + 3, quad[k]);
      }
      for (int t : {0, 1, 2, 0, 2, 3}) {
        part.positions.insert(part.positions.end(), quad[t], quad[t] + 3);
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
  const Ray3 middle = CameraRay(camera, 200.0, 150.0, 400.0, 300.0);
  double sight[3] = {center[0] - eye[0], center[1] - eye[1], center[2] - eye[2]};
  const double length = std::sqrt(sight[0] * sight[0] + sight[1] * sight[1] + sight[2] * sight[2]);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(middle.direction[i], sight[i] / length, 1e-15);
    EXPECT_EQ(middle.origin[i], eye[i]);
  }
  const auto angle = [&](const Ray3& ray) {
    double dot = 0.0;
    for (int i = 0; i < 3; ++i) {
      dot += ray.direction[i] * middle.direction[i];
    }
    return std::acos(std::min(1.0, dot)) * 180.0 / kPi;
  };
  EXPECT_NEAR(angle(CameraRay(camera, 200.0, 0.0, 400.0, 300.0)), 22.5, 1e-12);
  // The right edge: atan(aspect tan(22.5 deg)); the top edge of the view is up in the world.
  EXPECT_NEAR(angle(CameraRay(camera, 400.0, 150.0, 400.0, 300.0)),
              std::atan(4.0 / 3.0 * std::tan(22.5 * kPi / 180.0)) * 180.0 / kPi, 1e-12);
  EXPECT_GT(CameraRay(camera, 200.0, 0.0, 400.0, 300.0).direction[2], middle.direction[2]);
  // Looking along -x with z up, the view's right is +y.
  EXPECT_GT(CameraRay(camera, 400.0, 150.0, 400.0, 300.0).direction[1], 0.0);

  // A spin of 90 degrees turns the world by 90 degrees about z before it is seen: the ray turns
  // back by -90 degrees (x, y) -> (y, -x); a tilt likewise about y.
  for (const auto& [spin, tilt] :
       {std::pair{90.0, 0.0}, std::pair{0.0, 30.0}, std::pair{40.0, -25.0}}) {
    SCOPED_TRACE(std::to_string(spin) + ", " + std::to_string(tilt));
    PickCamera turned = camera;
    turned.spin = spin;
    turned.tilt = tilt;
    const Ray3 ray = CameraRay(turned, 310.0, 40.0, 400.0, 300.0);
    const Ray3 plain = CameraRay(camera, 310.0, 40.0, 400.0, 300.0);
    // Rz(spin) Ry... : turning the ray's points forward gives the ray of the camera without them.
    const double s = spin * kPi / 180.0, t = tilt * kPi / 180.0;
    const auto turn = [&](const double* v, double* out) {
      const double x = std::cos(s) * v[0] - std::sin(s) * v[1];
      const double y = std::sin(s) * v[0] + std::cos(s) * v[1];
      out[0] = std::cos(t) * x + std::sin(t) * v[2];
      out[1] = y;
      out[2] = -std::sin(t) * x + std::cos(t) * v[2];
    };
    double o[3], d[3];
    turn(ray.origin, o);
    turn(ray.direction, d);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(o[i], plain.origin[i], 1e-12);
      EXPECT_NEAR(d[i], plain.direction[i], 1e-12);
    }
    double at[3];
    PointAtDepth(turned, ray, 1.7, at);
    EXPECT_NEAR(ViewDepth(turned, at), 1.7, 1e-12);
  }
}

// A ray towards a point on a shape's surface picks that point and the link, for each kind of shape
// at a known place (turned and moved in its link, the link turned by its joint).
TEST(PickArm, ARayPicksThePointAndTheLinkOfEachKindOfShape) {
  struct Case {
    const char* what;
    std::string geometry;
    std::string origin;
    double toward[3];  // a point the ray aims at, world
    double want[3];    // where it meets the shape, world
  };
  // The link's frame is at (0, 0, 1), its joint turned by q = 0.5 rad about z below.
  const double q = 0.5, c = std::cos(q), s = std::sin(q);
  // In the link's frame, a point (x, y, z) is at (c x - s y, s x + c y, 1 + z).
  const auto world = [&](double x, double y, double z) {
    return std::array<double, 3>{c * x - s * y, s * x + c * y, 1.0 + z};
  };
  // The box of edges 0.2 x 0.4 x 0.1 at (0.5, 0, 0) of the link: its face x = 0.6 at (0.6, 0.1,
  // 0.02).
  const auto boxFace = world(0.6, 0.1, 0.02);
  // The cylinder of radius 0.1, length 0.4 along the link's z, at (0.5, 0, 0): the side at
  // (0.6, 0, 0.15).
  const auto side = world(0.6, 0.0, 0.15);
  // The sphere of radius 0.15 at (0.5, 0.2, 0.1): its point towards +x.
  const auto pole = world(0.65, 0.2, 0.1);
  // The box turned 90 degrees about z of the link: its face y = 0.7 ... x and y swap: edges along x
  // 0.4, along y 0.2; the face x = 0.5 + 0.2 at (0.7, 0.05, 0).
  const auto turnedFace = world(0.7, 0.05, 0.0);
  const std::vector<Case> cases = {
      {"a box",
       "<box size='0.2 0.4 0.1'/>",
       "xyz='0.5 0 0'",
       {},
       {boxFace[0], boxFace[1], boxFace[2]}},
      {"a cylinder",
       "<cylinder radius='0.1' length='0.4'/>",
       "xyz='0.5 0 0'",
       {},
       {side[0], side[1], side[2]}},
      {"a sphere", "<sphere radius='0.15'/>", "xyz='0.5 0.2 0.1'", {}, {pole[0], pole[1], pole[2]}},
      {"a turned box",
       "<box size='0.2 0.4 0.1'/>",
       "xyz='0.5 0 0' rpy='0 0 1.5707963267948966'",
       {},
       {turnedFace[0], turnedFace[1], turnedFace[2]}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Scene scene = OneShape(k.geometry, k.origin);
    scene.robot->links[0]->q = q;
    // From 3 m out along the link's x (and a little above), towards the point.
    const auto eye = world(3.0, 0.3, 0.4);
    const double from[3] = {eye[0], eye[1], eye[2]};
    const Ray3 ray = Towards(from, k.want);
    const ArmPick pick = PickArm(*scene.robot, scene.shapes.get(), ray);
    ASSERT_TRUE(pick.hit);
    EXPECT_EQ(pick.link, 0);
    EXPECT_LT(Distance(pick.point, k.want), 1e-12);
    // The point in the link's frame, placed again.
    const std::vector<Pose3> frames = LinkFrames(*scene.robot);
    double back[3];
    frames[0].Apply(pick.local, back);
    EXPECT_LT(Distance(back, pick.point), 1e-12);
    // Aimed past it, the ray meets nothing: the figure is not drawn under shapes.
    const double beside[3] = {k.want[0], k.want[1], k.want[2] + 1.0};
    EXPECT_FALSE(PickArm(*scene.robot, scene.shapes.get(), Towards(from, beside)).hit);
  }
}

// A mesh shape scaled by its scale: the ray meets its triangles where a box of the same size has
// its face; a mesh that fails to load leaves its link to the figure.
TEST(PickArm, AMeshIsPickedOnItsTrianglesAndAFailedOneLeavesTheFigure) {
  Scene scene = OneShape("<box size='1 1 1'/>", "xyz='0.5 0 0'");
  VisualShape& shape = scene.shapes->shapes[0];
  shape.kind = ShapeKind::kMesh;
  shape.mesh = MeshBox(0.05f, 0.1f, 0.025f);  // scaled by 2: the box above
  shape.size[0] = shape.size[1] = shape.size[2] = 2.0;
  const double from[3] = {3.0, 0.1, 1.3}, want[3] = {0.6, 0.1, 1.02};
  const ArmPick pick = PickArm(*scene.robot, scene.shapes.get(), Towards(from, want));
  ASSERT_TRUE(pick.hit);
  EXPECT_EQ(pick.link, 0);
  EXPECT_LT(Distance(pick.point, want), 1e-6);  // the mesh's corners are floats
  // Nearer than `from` along the ray nothing is seen: a start past the face picks the far side.
  const ArmPick far =
      PickArm(*scene.robot, scene.shapes.get(), Towards(from, want), pick.distance + 0.01);
  ASSERT_TRUE(far.hit);
  EXPECT_NEAR(far.point[0], 0.4, 1e-6);
  // Failed: the link is its figure, a body from the joint along its offset (none) and its housing,
  // a cylinder of 1.3 r about z at (0, 0, 1); the mesh's place is empty.
  scene.shapes->failedFrames.push_back("l");
  EXPECT_FALSE(PickArm(*scene.robot, scene.shapes.get(), Towards(from, want)).hit);
  EXPECT_FALSE(PickArm(*scene.robot, nullptr, Towards(from, want)).hit);
}

// The built-in arm at q = 0 lies along y on the floor: bodies of radius 0.03 from (0, 0.3 i, 0) to
// (0, 0.3 (i + 1), 0), housings along x of radius 0.039 and length 0.075 at (0, 0.3 i, 0), each cut
// into kFigureSlices sides as the view draws them: a ray square to a side meets it at most the
// sides' sagitta r (1 - cos(pi / slices)) inside the round cylinder.
TEST(PickArm, TheFigureOfTheBuiltInArmIsPickedOnItsBodiesAndHousings) {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  struct Case {
    double from[3];
    double want[3];
    int link;
  };
  const double r = 0.03;
  const Case cases[] = {
      // Straight down onto body 2's top.
      {{0.0, 0.75, 2.0}, {0.0, 0.75, r}, 2},
      // From the side (+x) onto body 4.
      {{2.0, 1.35, 0.0}, {r, 1.35, 0.0}, 4},
      // Along x onto the cap of housing 3 at y = 0.9: x = 1.25 r.
      {{2.0, 0.9 + 0.01, 0.02}, {1.25 * r, 0.9 + 0.01, 0.02}, 3},
      // From above onto housing 1's side, which stands out of the bodies: z = 1.3 r.
      {{0.03, 0.3, 2.0}, {0.03, 0.3, 1.3 * r}, 1},
  };
  const double sagitta = 1.3 * r * (1.0 - std::cos(kPi / kFigureSlices));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.link);
    const ArmPick pick = PickArm(*robot, nullptr, Towards(k.from, k.want));
    ASSERT_TRUE(pick.hit);
    EXPECT_EQ(pick.link, k.link);
    EXPECT_LE(Distance(pick.point, k.want), sagitta);
  }
  // A cap is flat: the housing's is met exactly.
  EXPECT_LT(Distance(PickArm(*robot, nullptr, Towards(cases[2].from, cases[2].want)).point,
                     cases[2].want),
            1e-12);
  // Beside the arm, and beyond its tip: empty space.
  const double from[3] = {0.0, 0.75, 2.0}, beside[3] = {0.2, 0.75, 0.0},
               beyond[3] = {0.0, 1.9, 0.0};
  EXPECT_FALSE(PickArm(*robot, nullptr, Towards(from, beside)).hit);
  EXPECT_FALSE(PickArm(*robot, nullptr, Towards(from, beyond)).hit);
  // Turned by its joints the figure follows: with joint 0 at 90 degrees the arm stands up along z.
  robot->links[0]->q = kPi / 2.0;
  const double side[3] = {2.0, 0.0, 1.05}, want[3] = {r, 0.0, 1.05};
  const ArmPick up = PickArm(*robot, nullptr, Towards(side, want));
  ASSERT_TRUE(up.hit);
  EXPECT_EQ(up.link, 3);
  EXPECT_LE(Distance(up.point, want), sagitta);
  // Its point in link 3's frame: 0.15 m along the link (its y) and r off its axis.
  EXPECT_NEAR(up.local[1], 0.15, 1e-12);
}

// A prismatic joint's slider is a square rod along the joint's axis, its faces turned as the
// incoming frame turns about that axis (the view draws it in that frame): with the frame turned by
// a about the axis, a ray square to the axis through it meets the rod w / cos a from the axis, not
// w, for either axis code and either sign of q.
TEST(PickArm, TheSliderTurnsWithItsIncomingFrameAboutTheAxis) {
  const double a = 0.6, r = 0.1, w = 0.5 * kSliderWidth * r, reach = 0.8;
  struct Case {
    int axis;
    double q;
  };
  const Case cases[] = {{Z, reach}, {Z, -reach}, {X, reach}, {Y, reach}, {Y, -reach}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.axis) + ", " + std::to_string(k.q));
    Robot robot(0.0, 0.0, -9.81, 0.0, 0.0);
    auto link = std::make_unique<Link>();
    link->jointType = Prismatic;
    link->axis = k.axis;
    link->radius = r;
    link->q = k.q;
    robot.links.push_back(std::move(link));
    // The base turned by a about the joint's axis: the rotation's rows i, j (the other two axes).
    const int i = (k.axis + 1) % 3, j = (k.axis + 2) % 3;
    robot.basePose(i, i) = std::cos(a);
    robot.basePose(i, j) = -std::sin(a);
    robot.basePose(j, i) = std::sin(a);
    robot.basePose(j, j) = std::cos(a);
    // Halfway along the rod, from the side along the world's axis i.
    double want[3] = {0.0, 0.0, 0.0}, from[3] = {0.0, 0.0, 0.0};
    want[k.axis] = from[k.axis] = 0.5 * k.q;
    want[i] = w / std::cos(a);
    from[i] = 3.0;
    const ArmPick pick = PickArm(robot, nullptr, Towards(from, want));
    ASSERT_TRUE(pick.hit);
    EXPECT_EQ(pick.link, 0);
    EXPECT_LT(Distance(pick.point, want), 1e-12);
  }
}

}  // namespace
