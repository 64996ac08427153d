// The shapes of a robot description without a display: package://, file:// and relative names
// found (and not found) along --package-path, ROS_PACKAGE_PATH and the folders above the file; STL,
// OBJ and COLLADA files read in metres with their colours (COLLADA's <unit> applied, its up_axis
// not); <visual> elements read with their origins, sizes and colours, a missing mesh given one
// notice and its links left to the figure; and, for random poses, every shape and every joint of
// the figure inside the box the arm fills and the sphere it reaches.
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <kdl/frames.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/tree.hpp>
#include <kdl/treefksolverpos_recursive.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "urdf/urdf_loader.h"
#include "visuals/arm_extent.h"
#include "visuals/mesh_import.h"
#include "visuals/mesh_locator.h"
#include "visuals/shape_loader.h"
#include "visuals/urdf_visuals.h"

namespace {

namespace fs = std::filesystem;

// A folder of its own for each test, removed afterwards.
class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("velmoth_visuals_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string Write(const std::string& relative, const std::string& text) {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::string At(const std::string& relative) const { return (root_ / relative).string(); }

  fs::path root_;
};

const char kTriangleStl[] =
    "solid t\n facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n"
    "   vertex 0 2 0\n  endloop\n endfacet\nendsolid t\n";

std::string PackageXml(const std::string& name) {
  return "<?xml version=\"1.0\"?><package format=\"2\"><name> " + name + " </name></package>";
}

// A COLLADA file of one triangle at (1000, 0, 0), (0, 2000, 0), (0, 0, 3000) in the given unit,
// of a blue material.
std::string Collada(const std::string& meter, const std::string& up) {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" version="1.4.1">
 <asset><unit name="u" meter=")" +
         meter + R"("/><up_axis>)" + up + R"(</up_axis></asset>
 <library_effects><effect id="e"><profile_COMMON><technique sid="c"><lambert>
  <diffuse><color>0 0 1 1</color></diffuse></lambert></technique></profile_COMMON></effect>
 </library_effects>
 <library_materials><material id="m" name="m"><instance_effect url="#e"/></material>
 </library_materials>
 <library_geometries><geometry id="g"><mesh>
  <source id="p"><float_array id="pa" count="9">1000 0 0 0 2000 0 0 0 3000</float_array>
   <technique_common><accessor source="#pa" count="3" stride="3"><param name="X" type="float"/>
    <param name="Y" type="float"/><param name="Z" type="float"/></accessor></technique_common>
  </source>
  <vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
  <triangles material="m" count="1"><input semantic="VERTEX" source="#v" offset="0"/>
   <p>0 1 2</p></triangles>
 </mesh></geometry></library_geometries>
 <library_visual_scenes><visual_scene id="s"><node id="n">
  <instance_geometry url="#g"><bind_material><technique_common>
   <instance_material symbol="m" target="#m"/></technique_common></bind_material>
  </instance_geometry></node></visual_scene></library_visual_scenes>
 <scene><instance_visual_scene url="#s"/></scene>
</COLLADA>
)";
}

// A link with a mass and the given visuals, and a joint between two links.
std::string Link(const std::string& name, const std::string& visuals) {
  return "<link name='" + name +
         "'><inertial><mass value='1'/><inertia ixx='0.01' iyy='0.01' izz='0.01' ixy='0' ixz='0' "
         "iyz='0'/></inertial>" +
         visuals + "</link>";
}
std::string Joint(const std::string& name, const std::string& type, const std::string& from,
                  const std::string& to, const std::string& xyz, const std::string& axis,
                  const std::string& rpy = "0 0 0") {
  return "<joint name='" + name + "' type='" + type + "'><parent link='" + from +
         "'/><child link='" + to + "'/><origin xyz='" + xyz + "' rpy='" + rpy + "'/><axis xyz='" +
         axis + "'/><limit lower='-1' upper='1' effort='1' velocity='1'/></joint>";
}

using LocatorTest = Files;

TEST_F(LocatorTest, PackagesFilesAndPaths) {
  Write("ws/src/robots/arm_description/package.xml", PackageXml("arm_description"));
  Write("ws/src/robots/arm_description/meshes/a.stl", kTriangleStl);
  Write("ws/src/other/folder/package.xml", PackageXml("renamed_pkg"));
  Write("ws/src/other/folder/meshes/b.stl", kTriangleStl);
  Write("flat/flat_pkg/c.stl", kTriangleStl);
  Write("desc/d_pkg/urdf/arm.urdf", "<robot name='r'/>");
  Write("desc/d_pkg/meshes/d.stl", kTriangleStl);
  Write("desc/arm_description/meshes/a.stl", kTriangleStl);  // above the file, found last
  Write("space dir/e f.stl", kTriangleStl);
  Write("flat/flat_pkg/sub/d.stl", kTriangleStl);
  const std::string ws = At("ws"), flat = At("flat"), urdf = At("desc/d_pkg/urdf");
  // The uri's file, relative to the test's folder, or else a part of the reason it is not found.
  // (Names with a NUL or that climb out of their package: HostileMeshesGiveANoticeAndNeverHang.)
  const struct {
    std::string uri;
    std::vector<std::string> paths;
    std::string found, problem = "";
  } cases[] = {
      {"package://arm_description/meshes/a.stl",
       {ws},
       "ws/src/robots/arm_description/meshes/a.stl"},
      {"package://renamed_pkg/meshes/b.stl", {flat, ws}, "ws/src/other/folder/meshes/b.stl"},
      {"package://flat_pkg/c.stl", {flat}, "flat/flat_pkg/c.stl"},
      {"package://flat_pkg/c.stl", {At("flat/flat_pkg")}, "flat/flat_pkg/c.stl"},
      {"model://flat_pkg/c.stl", {flat}, "flat/flat_pkg/c.stl"},
      {"package://d_pkg/meshes/d.stl", {}, "desc/d_pkg/meshes/d.stl"},
      {"package://arm_description/meshes/a.stl", {}, "desc/arm_description/meshes/a.stl"},
      {"file://" + At("space%20dir/e%20f.stl"), {}, "space dir/e f.stl"},
      {"file://localhost" + At("space%20dir/e%20f.st%6C"),
       {},
       "space dir/e f.stl"},  // an escape last
      {"package://flat_pkg/sub/../c.stl", {flat}, "flat/flat_pkg/sub/../c.stl"},
      {"../meshes/d.stl", {}, "desc/d_pkg/urdf/../meshes/d.stl"},
      {At("flat/flat_pkg/c.stl"), {}, "flat/flat_pkg/c.stl"},
      {"package://nowhere/x.stl", {ws}, "", "package 'nowhere' is in no folder"},
      {"package://arm_description/meshes/gone.stl", {ws}, "", "is not found: "},
      {"package://arm_description", {ws}, "", "names no file inside a package"},
      {"package://flat_pkg/", {flat}, "", "names no file inside a package"},
      {"https://example.org/a.stl", {}, "", "is not read"},
      {"../meshes", {}, "", "is not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uri);
    MeshLocator locator(PackageSearch{c.paths, urdf});
    std::string problem;
    EXPECT_EQ(locator.Locate(c.uri, problem), c.found.empty() ? "" : At(c.found)) << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
  }
  EXPECT_EQ(RosPackagePath(":a::b/c:"), (std::vector<std::string>{"a", "b/c"}));
  EXPECT_TRUE(RosPackagePath(nullptr).empty());
  // ROS_PACKAGE_PATH comes after --package-path.
  ::setenv("ROS_PACKAGE_PATH", (flat + ":" + ws).c_str(), 1);
  const PackageSearch search = PackageSearchFor(At("desc/d_pkg/urdf/arm.urdf"), {"given"});
  ::unsetenv("ROS_PACKAGE_PATH");
  EXPECT_EQ(search.paths, (std::vector<std::string>{"given", flat, ws}));
  EXPECT_EQ(search.fileFolder, urdf);
}

using ImportTest = Files;

// Coordinates in metres whatever the file's unit; COLLADA's up axis left as written; the colours
// the file gives.
TEST_F(ImportTest, FormatsUnitsAndColours) {
  const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 2 0\n";
  const struct {
    std::string file, text;
    float high[3];
    bool coloured;
    Rgba colour;
  } cases[] = {
      {"t.stl", kTriangleStl, {1, 2, 0}, false, {}},
      {"t.obj", "mtllib t.mtl\n" + obj + "usemtl red\nf 1 2 3\n", {1, 2, 0}, true, {1, 0, 0, 1}},
      {"plain.obj", obj + "f 1 2 3\n", {1, 2, 0}, false, {}},
      {"mm.dae", Collada("0.001", "Z_UP"), {1, 2, 3}, true, {0, 0, 1, 1}},
      {"y.dae", Collada("0.001", "Y_UP"), {1, 2, 3}, true, {0, 0, 1, 1}},
      {"m.dae", Collada("1", "Z_UP"), {1000, 2000, 3000}, true, {0, 0, 1, 1}},
  };
  Write("t.mtl", "newmtl red\nKd 1 0 0\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    std::string problem;
    const auto mesh = ImportMesh(Write(c.file, c.text), problem);
    ASSERT_NE(mesh, nullptr) << problem;
    EXPECT_EQ(mesh->TriangleCount(), 1u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(mesh->high[i], c.high[i], 1e-4 * (1 + c.high[i])) << i;
      EXPECT_NEAR(mesh->low[i], 0.0, 1e-6) << i;
    }
    const MeshPart& part = mesh->parts.front();
    EXPECT_EQ(part.coloured, c.coloured);
    if (c.coloured) {
      EXPECT_TRUE(part.colour.r == c.colour.r && part.colour.b == c.colour.b);
    }
    // One unit normal per vertex, square to the triangle.
    ASSERT_EQ(part.normals.size(), 9u);
    const float* n = part.normals.data();
    EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-5);
  }
  for (const auto& [file, text] : {std::pair{"junk.stl", "solid x\n not a facet\n"},
                                   std::pair{"empty.obj", ""}, std::pair{"junk.dae", "<COLLADA"}}) {
    std::string problem;
    EXPECT_EQ(ImportMesh(Write(file, text), problem), nullptr) << file;
    EXPECT_FALSE(problem.empty()) << file;
  }
}

// A three-link arm (a revolute joint, a sliding one, a revolute one) on a base, with every kind of
// visual.
std::string ArmText() {
  return "<robot name='arm'><material name='blue'><color rgba='0 0 1 1'/></material>" +
         Link("base",
              "<visual><origin xyz='1 2 3' rpy='0 0 1.5707963267948966'/><geometry><box "
              "size='0.1 0.2 0.3'/></geometry><material name='blue'/></visual>") +
         Link("l1",
              "<visual><geometry><cylinder radius='0.05' length='0.4'/></geometry><material "
              "name='half'><color rgba='1 0 0 0.5'/></material></visual><visual><origin "
              "xyz='0 0 0.2'/><geometry><sphere radius='0.1'/></geometry></visual>") +
         Link("l2",
              "<visual><geometry><mesh filename='meshes/t.stl' scale='2 2 2'/></geometry>"
              "<material name='green'><color rgba='0 1 0 1'/></material></visual>"
              "<visual><geometry><mesh filename='package://here/meshes/t.stl'/></geometry>"
              "</visual>") +
         Link("l3",
              "<visual><geometry><mesh filename='meshes/mm.dae'/></geometry><material "
              "name='blue'/></visual>") +
         Link("hand",
              "<visual><geometry><mesh filename='package://absent/h.stl'/></geometry>"
              "</visual>") +
         Link("finger",
              "<visual><geometry><mesh filename='package://absent/f.stl'/></geometry>"
              "</visual>") +
         Joint("j1", "revolute", "base", "l1", "0 0 0.5", "0 0 1") +
         Joint("j2", "prismatic", "l1", "l2", "0 0 0.4", "1 0 0") +
         Joint("j3", "revolute", "l2", "l3", "0.3 0 0", "0 1 0") +
         Joint("hand_joint", "fixed", "l3", "hand", "0.2 0 0", "1 0 0") +
         Joint("finger_joint", "fixed", "hand", "finger", "0.1 0 0", "1 0 0") + "</robot>";
}

using ShapesTest = Files;

// Each kind of visual with its origin, size and colour; a file named twice read once; the missing
// package's meshes in one notice, their links (and no other) left to the figure.
TEST_F(ShapesTest, VisualsOfADescription) {
  Write("meshes/t.stl", kTriangleStl);
  fs::create_directory_symlink(root_, root_ / "here");  // a package linked into a workspace
  Write("meshes/mm.dae", Collada("0.001", "Z_UP"));
  std::vector<std::string> notices{"from the loader"};
  const VisualModel model =
      LoadUrdfVisualsFromText(ArmText(), "arm.urdf", PackageSearch{{}, At("")}, notices);
  ASSERT_EQ(model.shapes.size(), 6u);
  const struct {
    const char* frame;
    ShapeKind kind;
    double size[3];
    Rgba colour;
  } expected[] = {
      {"base", ShapeKind::kBox, {0.1, 0.2, 0.3}, {0, 0, 1, 1}},
      {"l1", ShapeKind::kCylinder, {0.05, 0.05, 0.4}, {1, 0, 0, 0.5}},
      {"l1", ShapeKind::kSphere, {0.1, 0.1, 0.1}, {}},
      {"l2", ShapeKind::kMesh, {2, 2, 2}, {0, 1, 0, 1}},
      {"l2", ShapeKind::kMesh, {1, 1, 1}, {}},
      {"l3", ShapeKind::kMesh, {1, 1, 1}, {0, 0, 1, 1}},
  };
  for (std::size_t i = 0; i < model.shapes.size(); ++i) {
    SCOPED_TRACE(i);
    const VisualShape& s = model.shapes[i];
    const Rgba c = expected[i].colour;
    EXPECT_EQ(s.frame, expected[i].frame);
    EXPECT_EQ(s.kind, expected[i].kind);
    EXPECT_EQ(std::vector<double>(s.size, s.size + 3),
              std::vector<double>(expected[i].size, expected[i].size + 3));
    EXPECT_TRUE(s.colour.r == c.r && s.colour.g == c.g && s.colour.b == c.b && s.colour.a == c.a);
  }
  // The box is turned a quarter about z and sits at (1, 2, 3).
  const VisualShape& box = model.shapes[0];
  EXPECT_NEAR(box.rotation[0][1], -1.0, 1e-12);
  EXPECT_NEAR(box.rotation[1][0], 1.0, 1e-12);
  EXPECT_EQ(box.origin[0] + box.origin[1] + box.origin[2], 6.0);
  EXPECT_EQ(model.shapes[3].mesh, model.shapes[4].mesh);  // one file by two names
  EXPECT_NEAR(model.shapes[5].mesh->high[2], 3.0, 1e-4);  // in metres
  EXPECT_EQ(model.failedFrames, (std::vector<std::string>{"finger", "hand"}));
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[1],
            "arm.urdf: package 'absent' is in no folder of --package-path or ROS_PACKAGE_PATH, "
            "nor above the file (2 meshes); links 'finger', 'hand' are drawn as figures");

  // A mesh that is there but cannot be read: a line of its own, whatever names it.
  Write("meshes/t.stl", "solid x\n");
  notices.clear();
  LoadUrdfVisualsFromText(ArmText(), "arm.urdf", PackageSearch{{At("absent")}, At("")}, notices);
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[1].rfind("arm.urdf: the mesh 'meshes/t.stl' cannot be read (", 0), 0u)
      << notices[1];
  EXPECT_NE(notices[1].find("; link 'l2' is drawn as a figure"), std::string::npos) << notices[1];
}

// For random poses, every corner of every drawn shape, and every joint of the figure, lies in the
// box the arm fills and in the sphere it reaches; the box is no larger than they need.
TEST_F(ShapesTest, TheArmStaysInItsBoxAndItsReach) {
  Write("meshes/t.stl", kTriangleStl);
  Write("here/meshes/t.stl", kTriangleStl);
  Write("meshes/mm.dae", Collada("0.001", "Z_UP"));
  std::vector<std::string> notices;
  const VisualModel model =
      LoadUrdfVisualsFromText(ArmText(), "arm.urdf", PackageSearch{{}, At("")}, notices);
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(ArmText(), "arm.urdf", error);
  ASSERT_NE(robot, nullptr) << error;
  ASSERT_EQ(robot->links.size(), 3u);
  const ShapePlacement placement = PlaceShapes(model, *robot);
  // The base and the first two links are drawn by their shapes; the last, whose hand has no mesh,
  // as its figure.
  EXPECT_EQ(placement.covered, (std::vector<char>{1, 1, 1, 0}));
  std::mt19937 random(5);
  std::uniform_real_distribution<double> angle(-3.2, 3.2);
  for (int trial = 0; trial < 50; ++trial) {
    for (auto& link : robot->links) {
      link->q = angle(random) / (link->jointType == Prismatic ? 4 : 1);
    }
    for (const VisualModel* shapes : {&model, static_cast<const VisualModel*>(nullptr)}) {
      const Box3 box = ArmBox(*robot, shapes);
      const Sphere3 reach = ArmReach(*robot, shapes);
      Box3 needed;
      const auto check = [&](const double* x) {
        needed.Add(x);
        double d2 = 0.0;
        for (int k = 0; k < 3; ++k) {
          EXPECT_GE(x[k], box.low[k] - 1e-12);
          EXPECT_LE(x[k], box.high[k] + 1e-12);
          d2 += (x[k] - reach.center[k]) * (x[k] - reach.center[k]);
        }
        EXPECT_LE(std::sqrt(d2), reach.radius + 1e-12) << trial;
      };
      const std::vector<Pose3> frames = LinkFrames(*robot);
      for (std::size_t i = 0; shapes != nullptr && i < model.shapes.size(); ++i) {
        const int f = placement.frameOf[i];
        if (placement.Covers(robot->frames[static_cast<std::size_t>(f)].link)) {
          double low[3], high[3], out[3];
          model.shapes[i].Bounds(low, high);
          const Pose3 pose = ShapePose(model, placement, *robot, frames, i);
          for (int c = 0; c < 8; ++c) {
            const double corner[3] = {c & 1 ? high[0] : low[0], c & 2 ? high[1] : low[1],
                                      c & 4 ? high[2] : low[2]};
            pose.Apply(corner, out);
            check(out);
          }
        }
      }
      const std::vector<Pose3> incoming = IncomingFrames(*robot);
      if (shapes == nullptr) {
        const double floor[3] = {0.0, 0.0, 0.0};  // the column from the floor
        check(floor);
      }
      for (std::size_t k = 0; k < robot->links.size(); ++k) {
        if (shapes == nullptr || !placement.Covers(static_cast<int>(k))) {
          check(incoming[k].p);
          check(frames[k].p);
          check(incoming[k + 1].p);
        }
      }
      // No more than the housings' and bodies' thickness beyond what it holds.
      for (int k = 0; k < 3; ++k) {
        EXPECT_LE(needed.low[k] - box.low[k], 0.3) << trial;
        EXPECT_LE(box.high[k] - needed.high[k], 0.3) << trial;
      }
    }
  }
}

// A glTF file of one triangle whose buffer is the file named uri.
std::string Gltf(const std::string& uri) {
  return R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
 "nodes": [{"mesh": 0}], "meshes": [{"primitives": [{"attributes": {"POSITION": 0}}]}],
 "buffers": [{"uri": ")" +
         uri + R"(", "byteLength": 36}],
 "bufferViews": [{"buffer": 0, "byteLength": 36}],
 "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
   "min": [0, 0, 0], "max": [1, 1, 0]}]})";
}

// One link with one mesh visual, in a description of its own.
std::string OneMesh(const std::string& uri, const std::string& scale) {
  return "<robot name='r'><link name='base'/>" +
         Joint("j", "revolute", "base", "l", "0 0 0", "0 0 1") +
         Link("l", "<visual><geometry><mesh filename='" + uri + "' scale='" + scale +
                       "'/></geometry></visual>") +
         "</robot>";
}

// Hostile mesh trees: a mesh that names a FIFO, a folder, a device or a loop of links (an OBJ
// file's materials, a glTF file's buffer), names that lead out of their package, scales and units
// that draw nothing, and meshes over the caps. Each gives its notice (and the mesh its figure, or
// drawn without what it names); none of them hangs: a FIFO read would wait for ever.
TEST_F(ShapesTest, HostileMeshesGiveANoticeAndNeverHang) {
  fs::create_directories(At("m/folder"));
  ASSERT_EQ(mkfifo(At("m/fifo").c_str(), 0600), 0);
  fs::create_symlink("loop_b", At("m/loop_a"));
  fs::create_symlink("loop_a", At("m/loop_b"));
  fs::create_symlink("/dev/zero", At("m/zero"));
  Write("pkg/package.xml", PackageXml("pkg"));
  Write("outside.mtl", "newmtl red\nKd 1 0 0\n");
  const std::string triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  std::string polygon = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf";
  for (int i = 0; i < 1000000; ++i) {
    polygon += " " + std::to_string(i % 3 + 1);
  }
  std::string large = triangle + "f";  // 50 polygons of 1000 corners: too long to cut
  for (int i = 0; i < 1000; ++i) {
    large += " " + std::to_string(i % 3 + 1);
  }
  large += "\n";
  for (int i = 0; i < 6; ++i) {
    large += large.substr(large.find('f'));
  }
  const struct {
    std::string file, text;  // written unless the text is empty
    bool drawn;              // the link is drawn by its mesh
    std::string notice;      // a part of the notice, "" for none
    std::string uri = "";    // "": the file
    std::string scale = "1 1 1";
  } cases[] = {
      {"m/fifo.obj", "mtllib fifo\n" + triangle, true,
       "the mesh 'm/fifo.obj' names files that are not read: 'fifo' (" + At("m/fifo") +
           "): not a regular file; it is drawn without them"},
      {"m/folder.obj", "mtllib folder\n" + triangle, true,
       "'folder' (" + At("m/folder") + "): not a regular file (a folder)"},
      {"m/zero.obj", "mtllib zero\n" + triangle, true,
       "'zero' (" + At("m/zero") + "): not a regular file"},
      {"m/devzero.obj", "mtllib /dev/zero\n" + triangle, true, "'/dev/zero': not a regular file"},
      {"m/loop.obj", "mtllib loop_a\n" + triangle, true,
       "'loop_a' (" + At("m/loop_a") + "): Too many levels of symbolic links"},
      {"m/fifo.gltf", Gltf("fifo"), false, "'fifo' (" + At("m/fifo") + "): not a regular file"},
      {"m/zero.gltf", Gltf("/dev/zero"), false, "'/dev/zero': not a regular file"},
      {"m/fifo", "", false, "is not a regular file"},
      {"pkg/m/out.obj", "mtllib ../../outside.mtl\n" + triangle, true,
       "'../../outside.mtl' (" + At("pkg/m/../../outside.mtl") +
           "): it leads out of the mesh's package",
       "package://pkg/m/out.obj"},
      {"pkg/m/t.stl", kTriangleStl, false, "is refused: it climbs out of its package",
       "package://pkg/../t.stl"},
      {"m/t.stl", kTriangleStl, false, "is refused: it holds a NUL character (%00)",
       "file://" + At("m/t.stl%00.dae")},
      {"m/t.stl", kTriangleStl, false,
       "link 'l' scales the mesh 'm/t.stl' by 1 0 1, and a scale must be finite, above 0 and at "
       "most 1e+06, not 0; that link is drawn as a figure",
       "", "1 0 1"},
      {"m/t.stl", kTriangleStl, false, "not -1; that link", "", "1 1 -1"},
      {"m/t.stl", kTriangleStl, false, "not 2e+06; that link", "", "2e6 2e6 2e6"},
      {"m/unit0.dae", Collada("0", "Z_UP"), false,
       "is refused (" + At("m/unit0.dae") +
           "): it scales itself (its COLLADA <unit>, or its root's transform): a scale must be "
           "finite, above 0 and at most 1e+06, not 0"},
      {"m/unitneg.dae", Collada("-1", "Z_UP"), false, "not -1"},
      {"m/unitbig.dae", Collada("1e39", "Z_UP"), false, "it scales itself"},
      {"m/polygon.obj", polygon, false,
       "): 1000000 corners in one polygon, more than the 1000 a polygon may have; link 'l' is "
       "drawn as a figure"},
      {"m/large.obj", large, false,
       "): 64000000 as the sum of the squares of the corners of its polygons of more than four "
       "(the time cutting them into triangles takes), more than the 40000000 a mesh may have"},
      {"m/cut.stl", "solid x\nfacet normal 0 0 1\n", false,
       "the mesh 'm/cut.stl' cannot be read ("},  // the importer leaks here: see lsan_suppressions
      {"m/t.stl", kTriangleStl, true, "", "", "1 1 1e6"},
  };
  for (const auto& c : cases) {
    const std::string uri = c.uri.empty() ? c.file : c.uri;
    SCOPED_TRACE(uri + " " + c.scale);
    if (!c.text.empty()) {
      Write(c.file, c.text);
    }
    std::vector<std::string> notices;
    const VisualModel model =
        LoadUrdfVisualsFromText(OneMesh(uri, c.scale), "r.urdf", {{}, At("")}, notices);
    EXPECT_EQ(model.shapes.size(), c.drawn ? 1u : 0u);
    EXPECT_EQ(model.failedFrames,
              c.drawn ? std::vector<std::string>{} : std::vector<std::string>{"l"});
    ASSERT_EQ(notices.size(), c.notice.empty() ? 0u : 1u);
    EXPECT_TRUE(c.notice.empty() || notices[0].find(c.notice) != std::string::npos) << notices[0];
  }
}

// Ten thousand visuals of missing meshes: one notice for the meshes of each missing package, one
// for each missing file, each naming its links once, in the order the file names them (the
// notices are gathered in linear time, and a package is looked for once).
TEST_F(ShapesTest, ManyMissingMeshesShareTheirNotices) {
  std::string text = "<robot name='r'><link name='base'>";
  for (int i = 0; i < 10000; ++i) {
    const std::string uri =
        i % 2 == 0 ? "package://gone_" + std::to_string(i % 4) + "/m" + std::to_string(i) + ".stl"
                   : "missing/" + std::to_string(i % 10) + ".stl";
    text += "<visual><geometry><mesh filename='" + uri + "'/></geometry></visual>";
  }
  text += "</link></robot>";
  std::vector<std::string> notices;
  const VisualModel model = LoadUrdfVisualsFromText(text, "r.urdf", {{At("")}, At("")}, notices);
  EXPECT_EQ(model.failedFrames, std::vector<std::string>{"base"});
  ASSERT_EQ(notices.size(), 2u + 5u);
  EXPECT_EQ(notices[0],
            "r.urdf: package 'gone_0' is in no folder of --package-path or ROS_PACKAGE_PATH, "
            "nor above the file (2500 meshes); link 'base' is drawn as a figure");
  EXPECT_EQ(notices[1].rfind("r.urdf: the mesh 'missing/1.stl' is not found: ", 0), 0u);
  EXPECT_EQ(notices[2].rfind("r.urdf: package 'gone_2' ", 0), 0u);
}

// The world pose of every shape is its link's frame (KDL's, from KDL's own parse of the same
// file) times the visual's origin (from its xyz and rpy), in random poses of the arm.
TEST_F(ShapesTest, ShapesSitWhereKdlPutsTheirLinksTimesTheirOrigins) {
  Write("m/t.stl", kTriangleStl);
  const struct {
    const char* link;
    double xyz[3], rpy[3];
  } visuals[] = {
      {"base", {0.1, -0.2, 0.3}, {0.3, -0.2, 1.1}},
      {"l1", {0.05, 0.1, 0.2}, {-0.7, 0.4, 0.2}},
      {"l2", {-0.3, 0.2, 0.1}, {1.2, 0.1, -0.6}},
      {"tool", {0.0, 0.05, -0.1}, {0.0, 1.5, 0.3}},
  };
  // Each link's visual by its row (decimal text that reads back as the same doubles).
  const auto visual = [&](std::size_t i) {
    const auto three = [](const double* x) {
      return std::to_string(x[0]) + " " + std::to_string(x[1]) + " " + std::to_string(x[2]);
    };
    return "<visual><origin xyz='" + three(visuals[i].xyz) + "' rpy='" + three(visuals[i].rpy) +
           "'/><geometry><mesh filename='m/t.stl'/></geometry></visual>";
  };
  const std::string text =
      "<robot name='r'><link name='base'>" + visual(0) + "</link>" +
      Joint("j1", "revolute", "base", "l1", "0.1 0 0.4", "0 0 1", "0.2 0 0.3") +
      Link("l1", visual(1)) +
      Joint("j2", "prismatic", "l1", "l2", "0 0.3 0.1", "0 1 0", "0 0.5 0") +
      Link("l2", visual(2)) + Joint("j3", "revolute", "l2", "l3", "0.2 0 0", "1 0 0", "0 0 -0.4") +
      Link("l3", "") + Joint("fix", "fixed", "l3", "tool", "0 0 0.15", "1 0 0", "0.3 0.2 0.1") +
      "<link name='tool'>" + visual(3) + "</link></robot>";
  std::vector<std::string> notices;
  const VisualModel model = LoadUrdfVisualsFromText(text, "r.urdf", {{}, At("")}, notices);
  ASSERT_EQ(model.shapes.size(), 4u);
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(text, "r.urdf", error);
  ASSERT_NE(robot, nullptr) << error;
  KDL::Tree tree;
  ASSERT_TRUE(kdl_parser::treeFromString(text, tree));
  KDL::TreeFkSolverPos_recursive fk(tree);
  const ShapePlacement placement = PlaceShapes(model, *robot);
  std::mt19937 random(11);
  std::uniform_real_distribution<double> value(-2.0, 2.0);
  for (int trial = 0; trial < 10; ++trial) {
    KDL::JntArray q(tree.getNrOfJoints());
    for (const auto& link : robot->links) {
      link->q = value(random);
      for (const auto& [name, element] : tree.getSegments()) {
        if (GetTreeElementSegment(element).getJoint().getName() == link->jointName) {
          q(GetTreeElementQNr(element)) = link->q;
        }
      }
    }
    const std::vector<Pose3> frames = LinkFrames(*robot);
    for (std::size_t i = 0; i < model.shapes.size(); ++i) {
      const auto& v = visuals[i];
      ASSERT_EQ(model.shapes[i].frame, v.link);
      KDL::Frame link;
      ASSERT_GE(fk.JntToCart(q, link, v.link), 0);
      const KDL::Frame expected =
          link * KDL::Frame(KDL::Rotation::RPY(v.rpy[0], v.rpy[1], v.rpy[2]),
                            KDL::Vector(v.xyz[0], v.xyz[1], v.xyz[2]));
      const Pose3 pose = ShapePose(model, placement, *robot, frames, i);
      for (int r = 0; r < 3; ++r) {
        EXPECT_NEAR(pose.p[r], expected.p(r), 1e-12) << v.link << " trial " << trial;
        for (int c = 0; c < 3; ++c) {
          EXPECT_NEAR(pose.r[r][c], expected.M(r, c), 1e-12) << v.link << " trial " << trial;
        }
      }
    }
  }
}

// The loader reads on its own thread: before a mesh is read, its link is drawn as its figure and
// the progress says how many are read; Stop gives up at once what is left, unsaid, and keeps what
// was read and said.
TEST_F(ShapesTest, TheLoaderShowsWhatIsReadAndStopsAtOnce) {
  Write("meshes/t.stl", kTriangleStl);
  Write("here/meshes/t.stl", kTriangleStl);
  Write("meshes/mm.dae", Collada("0.001", "Z_UP"));
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t allowed = 0;  // meshes the thread may read
  ShapeLoader* running = nullptr;
  const auto gate = [&](std::size_t mesh) {
    std::unique_lock<std::mutex> lock(mutex);
    // Stop sets the flag and then joins: the gate looks at it now and then.
    while (!changed.wait_for(lock, std::chrono::milliseconds(1),
                             [&] { return mesh < allowed || (running && running->Stopping()); })) {
    }
  };
  const auto waitFor = [](ShapeLoader& loader, std::size_t read) {
    // The thread publishes what it read before it waits at the gate, and after the last mesh.
    while (loader.Latest().read < read) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  // A loader of the arm, which the gate sees once it is made.
  const auto start = [&](std::size_t allow) {
    const std::lock_guard<std::mutex> hold(mutex);
    allowed = allow;
    auto loader = std::make_unique<ShapeLoader>(
        std::make_unique<UrdfShapes>(ArmText(), "arm.urdf", PackageSearch{{}, At("")}), gate);
    running = loader.get();
    return loader;
  };
  {
    const std::unique_ptr<ShapeLoader> loader = start(0);
    ShapeLoader::State state = loader->Latest();
    EXPECT_EQ(state.read, 0u);
    EXPECT_EQ(state.total, 5u);  // t.stl twice by two names, mm.dae, and two of a missing package
    EXPECT_FALSE(state.finished);
    EXPECT_EQ(MeshProgressText(state.read, state.total), "meshes: 0 of 5");
    // The primitives are there; the links that wait for a mesh are figures.
    EXPECT_EQ(state.model->shapes.size(), 3u);
    EXPECT_EQ(state.model->failedFrames, (std::vector<std::string>{"finger", "hand", "l2", "l3"}));
    {
      const std::lock_guard<std::mutex> hold(mutex);
      allowed = 5;
    }
    changed.notify_all();
    waitFor(*loader, 5);
    state = loader->Latest();
    EXPECT_TRUE(state.finished);
    EXPECT_EQ(state.model->shapes.size(), 6u);
    EXPECT_EQ(state.model->failedFrames, (std::vector<std::string>{"finger", "hand"}));
    ASSERT_EQ(state.notices.size(), 1u);
    EXPECT_NE(state.notices[0].find("package 'absent'"), std::string::npos);
  }
  // Stopped while it waits before the second mesh: what was read stays, the rest is unsaid.
  const std::unique_ptr<ShapeLoader> loader = start(1);
  waitFor(*loader, 1);
  loader->Stop();
  const ShapeLoader::State state = loader->Latest();
  EXPECT_FALSE(state.finished);
  EXPECT_EQ(state.read, 1u);
  ASSERT_EQ(state.notices.size(), 1u);  // the first mesh read, of the missing package
  EXPECT_NE(state.notices[0].find("(the mesh 'package://absent/f.stl')"), std::string::npos);
}

}  // namespace
