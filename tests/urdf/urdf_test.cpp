// The loader and both engines: M, G and C qd of a loaded arm, in closed form and by the recursive
// engine, agree within 1e-10 with Orocos KDL's ChainDynParam on the chain KDL's own URDF parser
// builds from the same text, for the samples, the built-in arm and random chains and trees with
// everything the loader folds away (arbitrary axes, turned origins, prismatic joints, fixed joints
// anywhere, masses fixed to moving links, subtrees and moving joints off the chain); which chain a
// tree gives, what the view needs from the samples, what the file's values may be, and what the
// messages show of the file. Where the file's links lie: kinematics_test.cpp.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <kdl/chaindynparam.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "dynamics/dynamics.h"
#include "random_tree.h"
#include "recursive/chain.h"
#include "urdf/urdf_chain.h"
#include "urdf/urdf_loader.h"
#include "urdf/urdf_text.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// KDL's chain from the root to end, which leaves out every mass hung off it; here each segment
// gets them back, by KDL's own algebra: the inertias of all the other segments below it, placed
// where their joints at position 0 put them.
KDL::Chain ChainWithMassesOffIt(const KDL::Tree& tree, const std::string& end) {
  KDL::Chain chain, out;
  EXPECT_TRUE(tree.getChain(tree.getRootSegment()->first, end, chain)) << end;
  std::set<std::string> on;
  for (const KDL::Segment& s : chain.segments) {
    on.insert(s.getName());
  }
  for (const KDL::Segment& s : chain.segments) {
    KDL::RigidBodyInertia inertia = s.getInertia();
    std::vector<std::pair<KDL::SegmentMap::const_iterator, KDL::Frame>> below;
    for (const auto& child : GetTreeElementChildren(tree.getSegments().at(s.getName()))) {
      below.emplace_back(child, KDL::Frame::Identity());
    }
    while (!below.empty()) {
      const auto [it, at] = below.back();
      below.pop_back();
      if (on.count(it->first) == 0) {
        const KDL::Segment& off = GetTreeElementSegment(it->second);
        const KDL::Frame frame = at * off.pose(0.0);
        inertia = inertia + frame * off.getInertia();
        for (const auto& child : GetTreeElementChildren(it->second)) {
          below.emplace_back(child, frame);
        }
      }
    }
    out.addSegment(KDL::Segment(s.getName(), s.getJoint(), s.getFrameToTip(), inertia));
  }
  return out;
}

// M (row-major), G and C qd at the robot's state and gravity: [0] in closed form, [1] by the
// recursive engine (M by composite bodies, G and then G + C qd by Newton-Euler).
struct Terms {
  std::vector<double> m, g, cqd;
};
std::vector<Terms> BothEngines(Robot& robot) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  std::vector<Terms> out(
      2, Terms{std::vector<double>(n * n), std::vector<double>(n), std::vector<double>(n)});
  const EquationTerms t = EvaluateEquationTerms(robot);
  const matrix<double> cqd = t.C * t.qd;
  std::vector<double> q(n), qd(n), zero(n, 0.0), h(n);
  for (uint32_t i = 0; i < n; ++i) {
    q[i] = robot.links[i]->q;
    qd[i] = robot.links[i]->qd;
    out[0].g[i] = t.G(i, 0);
    out[0].cqd[i] = cqd(i, 0);
    for (uint32_t j = 0; j < n; ++j) {
      out[0].m[i * n + j] = t.M(i, j);
    }
  }
  const recursive::ChainModel model = recursive::BuildChainModel(robot);
  recursive::ChainData data(static_cast<int>(n));
  const matrix<double>& g = robot.gravity;
  recursive::Kinematics(model, data, q.data(), zero.data(), {g(0, 0), g(1, 0), g(2, 0)});
  recursive::NewtonEuler(model, data, zero.data(), out[1].g.data());
  recursive::CompositeBody(model, data, out[1].m.data());
  recursive::Kinematics(model, data, q.data(), qd.data(), {g(0, 0), g(1, 0), g(2, 0)});
  recursive::NewtonEuler(model, data, zero.data(), h.data());
  for (uint32_t i = 0; i < n; ++i) {
    out[1].cqd[i] = h[i] - out[1].g[i];
  }
  return out;
}

// Loads text and compares M, G and C qd at 10 random states with KDL on the chain that KDL's own
// parser builds from it, to the link end (by default the tip, or else the one leaf of a serial
// tree).
void ExpectLoadedTextAgreesWithKdl(const std::string& text, std::mt19937_64& random,
                                   const UrdfOptions& options = {}, std::string end = "") {
  std::string error;
  std::unique_ptr<Robot> robot = LoadUrdfRobotFromText(text, "text", error, options);
  ASSERT_TRUE(robot) << error;
  KDL::Tree tree;
  ASSERT_TRUE(kdl_parser::treeFromString(text, tree));
  end = end.empty() ? options.tip : end;
  for (const auto& [name, element] : tree.getSegments()) {
    end = end.empty() && GetTreeElementChildren(element).empty() ? name : end;
  }
  const KDL::Chain chain = ChainWithMassesOffIt(tree, end);
  const auto n = static_cast<uint32_t>(robot->links.size());
  ASSERT_EQ(chain.getNrOfJoints(), n);
  const matrix<double>& g = robot->gravity;
  KDL::ChainDynParam kdl(chain, KDL::Vector(g(0, 0), g(1, 0), g(2, 0)));
  KDL::JntArray q(n), qd(n), coriolis(n), gravity(n);
  KDL::JntSpaceInertiaMatrix mass(n);
  // Joint positions in [-pi, pi] (in [-0.5, 0.5] m when sliding), velocities in [-2, 2].
  std::uniform_real_distribution<double> angle(-3.14159, 3.14159), length(-0.5, 0.5), rate(-2, 2);
  for (int state = 0; state < 10; ++state) {
    SCOPED_TRACE(testing::Message() << "state " << state);
    for (uint32_t i = 0; i < n; ++i) {
      Link& link = *robot->links[i];
      q(i) = link.q = link.jointType == Prismatic ? length(random) : angle(random);
      qd(i) = link.qd = rate(random);
    }
    ASSERT_EQ(
        kdl.JntToMass(q, mass) | kdl.JntToGravity(q, gravity) | kdl.JntToCoriolis(q, qd, coriolis),
        0);
    const std::vector<Terms> engines = BothEngines(*robot);
    for (std::size_t e = 0; e < engines.size(); ++e) {
      const Terms& t = engines[e];
      const char* engine = e == 0 ? "closed form " : "recursive ";
      for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
          EXPECT_NEAR(t.m[i * n + j], mass(i, j), 1e-10) << engine << "M(" << i << ", " << j << ")";
        }
        EXPECT_NEAR(t.g[i], gravity(i), 1e-10) << engine << "G(" << i << ")";
        EXPECT_NEAR(t.cqd[i], coriolis(i), 1e-10) << engine << "(C qd)(" << i << ")";
      }
    }
  }
}

// Loads text as "t" (with the tip); the error and notices without their "t: ".
struct Loaded {
  std::unique_ptr<Robot> robot;
  std::string error;    // "" when it loads
  std::string notices;  // one per line
};
Loaded Load(const std::string& text, const std::string& tip = "") {
  Loaded l;
  std::vector<std::string> notices;
  l.robot = LoadUrdfRobotFromText(text, "t", l.error, {tip}, &notices);
  EXPECT_EQ(l.robot == nullptr, !l.error.empty()) << l.error;
  if (!l.error.empty()) {
    EXPECT_EQ(l.error.rfind("t: ", 0), 0u) << l.error;
    l.error.erase(0, 3);
  }
  for (const std::string& line : notices) {
    EXPECT_EQ(line.rfind("t: ", 0), 0u) << line;
    l.notices += line.substr(3) + "\n";
  }
  return l;
}

// The notice of a link whose principal moments break the triangle inequality.
std::string Implausible(const std::string& link, const std::string& largest,
                        const std::string& others) {
  return "link '" + link + "' has an implausible inertia: its largest principal moment (" +
         largest + " kg m^2) exceeds the sum of the other two (" + others +
         " kg m^2); it is loaded as given\n";
}

TEST(Urdf, SamplesAgreeWithKdlAndGiveTheViewItsFramesAndSizes) {
  // The published data break the triangle inequality; the arm loads as given.
  const std::string puma =
      Implausible("link1", "0.35", "0") + Implausible("link3", "0.086", "0.0785");
  const std::string fingers =
      "2 joints off the chain are held fixed (finger_left_joint, finger_right_joint); the chain "
      "ends at hand; --tip chooses another end\n";
  const struct {
    const char* name;
    const char* joints;    // per link its kind and axis code
    double baseZ;          // the first joint's height
    double lastOffset[3];  // the last link's drawing extent, in its own frame
    double firstRadius;
    const char* end;      // where the chain ends
    std::string notices;  // after "FILE: ", one per line
  } samples[] = {
      // The lower rod reaches twice as far as its centre of mass; the rods' cylinders give the
      // radius.
      {"double_pendulum", "RY RY", 2, {0, 0, -1}, 0.02, "", ""},
      // Axes of -y turn the link frames so that x is the axis; the gripper joins the hand, and
      // its frame, 0.3 m along the hand's URDF x, lies along the turned y.
      {"planar_3link", "RX RX RX", 1, {0, 0.3, 0}, 0.06, "", ""},
      // The tool frame 12 cm down the -z axis lies along the turned x.
      {"scara", "RZ RZ PX RX", 0.4, {0.12, 0, 0}, 0.05, "", ""},
      {"puma560", "RZ RZ RZ RZ RZ RZ", 0.67, {0, 0, 0.05}, 0.09, "", puma},
      // The chain parts into the fingers at the hand, whose frame gives the extent; the fingers,
      // the hand, the sensor and its frame join the flange link.
      {"arm7_gripper", "RZ RY RZ RX RZ RY RZ", 0.15, {0, 0, 0.07}, 0.06, "hand", fingers},
      // Two frames fixed side by side on the flange link: no tool frame, twice its centre of mass.
      // Its links are meshes: a tenth of the first link's length gives the figure's radius.
      {"industrial6",
       "RZ RY RY RX RY RX",
       0.15,
       {0.016, 0, 0},
       0.1 * std::hypot(0.05, 0.15),
       "link_6",
       ""},
  };
  std::mt19937_64 random(11);
  for (const auto& s : samples) {
    SCOPED_TRACE(s.name);
    const std::string path = std::string(VELMOTH_EXAMPLES) + "/" + s.name + ".urdf";
    ExpectLoadedTextAgreesWithKdl(Read(path), random, {}, s.end);
    std::string error, notices;
    std::vector<std::string> lines = {"stale"};
    const std::unique_ptr<Robot> robot = LoadUrdfRobot(path, error, {}, &lines);
    ASSERT_TRUE(robot) << error;
    for (const std::string& line : lines) {
      notices += line.substr(line.rfind(path + ": ", 0) == 0 ? path.size() + 2 : 0) + "\n";
    }
    EXPECT_EQ(notices, s.notices);
    EXPECT_TRUE(robot->name == s.name && robot->coulombFriction == 0.1 &&
                robot->viscousFriction == 0.1 && robot->gravity(2, 0) == -9.81);
    std::string joints;
    for (const auto& link : robot->links) {
      joints += std::string(joints.empty() ? "" : " ") +
                (link->jointType == Prismatic ? 'P' : 'R') + static_cast<char>('X' + link->axis);
    }
    ASSERT_EQ(joints, s.joints);
    EXPECT_NEAR(robot->basePose(2, 3), s.baseZ, 1e-12);
    const Link& last = *robot->links.back();
    EXPECT_NEAR(std::hypot(last.offsetX - s.lastOffset[0], last.offsetY - s.lastOffset[1],
                           last.offsetZ - s.lastOffset[2]),
                0, 1e-12);
    EXPECT_NEAR(robot->links[0]->radius, s.firstRadius, 1e-12);
  }
}

// The built-in arm (written as URDF; it loads into the arm velmoth-sim builds) and random chains;
// random trees without a tip, with subtrees fixed anywhere and every other one with a fork of
// moving joints where the chain ends; with a tip at any link, moving joints hung anywhere off the
// chain as well.
TEST(Urdf, BuiltInArmAndRandomChainsAndTreesAgreeWithKdlWithTheMassesOffTheChainAdded) {
  std::mt19937_64 random(11);
  ExpectLoadedTextAgreesWithKdl(Read(VELMOTH_URDF_TESTS "/builtin_arm.urdf"), random);
  for (int chain = 0; chain < 60; ++chain) {
    const std::string text = MakeRandomTree(random, 1 + chain % 7).text;
    SCOPED_TRACE(text);
    ExpectLoadedTextAgreesWithKdl(text, random);
  }
  for (int t = 0; t < 40; ++t) {
    const RandomTree tree = MakeRandomTree(random, 1 + t % 6, 2 + t % 5, false, t % 2 == 0);
    SCOPED_TRACE(tree.text);
    ExpectLoadedTextAgreesWithKdl(tree.text, random, {}, tree.last);
  }
  for (int t = 0; t < 60; ++t) {
    const RandomTree tree = MakeRandomTree(random, 1 + t % 6, 3 + t % 5, true, t % 2 == 0);
    const UrdfOptions options{RandomTip(tree, random)};
    SCOPED_TRACE(options.tip + " of " + tree.text);
    ExpectLoadedTextAgreesWithKdl(tree.text, random, options);
  }
}

// A tree of links written "parent child kind [leader], ...": kind c continuous, p prismatic,
// f fixed, x floating; a leader makes the joint mimic the joint of that name. Each joint is named
// after its child link; every link has a mass.
std::string Tree(const std::string& shape) {
  std::string text = "<robot name='tree'>", parent, child, kind, leader;
  std::set<std::string> links;
  for (std::size_t at = 0; at < shape.size();) {
    const std::size_t comma = std::min(shape.find(',', at), shape.size());
    std::istringstream joint(shape.substr(at, comma - at));
    leader.clear();
    joint >> parent >> child >> kind >> leader;
    const std::string type = kind == "c"   ? "continuous"
                             : kind == "p" ? "prismatic"
                             : kind == "f" ? "fixed"
                                           : "floating";
    text += "<joint name='" + child + "' type='" + type + "'><parent link='" + parent +
            "'/><child link='" + child + "'/><axis xyz='0 0 1'/>" +
            "<limit lower='0' upper='1' effort='1' velocity='1'/>" +
            (leader.empty() ? "" : "<mimic joint='" + leader + "'/>") + "</joint>";
    links.insert(parent);
    links.insert(child);
    at = comma + 1;
  }
  for (const std::string& link : links) {
    text += "<link name='" + link +
            "'><inertial><mass value='1'/><inertia ixx='1' iyy='1' izz='1' ixy='0' ixz='0' "
            "iyz='0'/></inertial></link>";
  }
  return text + "</robot>";
}

// The text with the link's inertial made "mass | com | ixx iyy izz [ixy ixz iyz]".
std::string WithInertial(std::string text, const std::string& link, const std::string& values) {
  std::istringstream in(values);
  std::string mass, bar, x, y, z, inertia = "'/><inertia";
  in >> mass >> bar >> x >> y >> z >> bar;
  for (const char* name : {"ixx", "iyy", "izz", "ixy", "ixz", "iyz"}) {
    std::string value = "0";
    in >> value;
    inertia += std::string(" ") + name + "='" + value + "'";
  }
  const std::size_t at = text.find("<inertial>", text.find("<link name='" + link + "'>"));
  return text.replace(at, text.find("</inertial>", at) - at,
                      "<inertial><origin xyz='" + x + " " + y + " " + z + "'/><mass value='" +
                          mass + inertia + "/>");
}

TEST(Urdf, TreesGiveTheirChainWithANoticeOrAreRefusedWithOneLine) {
  const std::string fingers = "base l1 c, l1 hand f, hand tcp f, hand fa p, hand fb p fa";
  const std::string torso =
      "world torso f, torso camera f, torso la1 c, la1 la2 c, torso rmount f, rmount ra1 c, "
      "ra1 ra2 c, ra2 rhand f, rhand rfa p, rhand rfb p";
  const struct {
    std::string shape, tip;
    int links;            // -1: refused
    std::string message;  // the notice or the error
  } cases[] = {
      // Frames beside the moving links and fixed fingers join the bodies they hang from.
      {"world base f, base frame f, base l1 c, l1 l2 p, l2 tool0 f, l2 flange f, l2 fa f, "
       "l2 fb f",
       "", 2, ""},
      // Moving fingers part the chain at the hand and are held, the mimic one as well.
      {fingers, "", 1,
       "2 joints off the chain are held fixed (fa, fb); the chain ends at hand; --tip chooses "
       "another end"},
      {fingers, "fa", 2, "1 joint off the chain is held fixed (fb)"},
      {fingers, "tcp", 1, "2 joints off the chain are held fixed (fa, fb)"},
      // A joint that mimics another cannot be moved by the chain.
      {fingers, "fb", -1,
       "joint 'fb' mimics joint 'fa', and joints coupled to others cannot be simulated; --tip "
       "can end the chain before it, at 'hand'"},
      {"base l1 c, l1 l2 c l1", "", -1,
       "joint 'l2' mimics joint 'l1', and joints coupled to others cannot be simulated; --tip "
       "can end the chain before it, at 'l1'"},
      {"world base f, base l1 c l0", "", -1,
       "joint 'l1' mimics joint 'l0', and joints coupled to others cannot be simulated; --tip "
       "can choose a chain without it"},
      // A torso with two arms: no chain without a tip; with one, the other arm is held.
      {torso, "", -1,
       "link 'torso' parts into 2 chains of moving joints before the first moving joint, at "
       "joints 'la1' and 'rmount'; --tip chooses one of them: 'la2' or 'rhand'"},
      {torso, "ra2", 2, "4 joints off the chain are held fixed (la1, la2, rfa, rfb)"},
      {torso, "world", -1, "--tip: 'world' is the root link; the chain must end below it"},
      // Every child joint where the chain parts is named, and a branch that parts again before
      // a moving joint offers its own branches' ends.
      {"base a c, base b p, base c c, base d f, d e c, d g c, base frame f", "", -1,
       "link 'base' parts into 4 chains of moving joints before the first moving joint, at "
       "joints 'a', 'b', 'c' and 'd'; --tip chooses one of them: 'a', 'b', 'c', 'e' or 'g'"},
      {"base a c, a b c, a c c, a d c, a e c, a f c, a g c, a h c, a i c", "", 1,
       "8 joints off the chain are held fixed (b, c, d, e, f, g and 2 more); the chain ends at "
       "a; --tip chooses another end"},
      // A floating joint off the chain is held.
      {"base a c, a b x", "a", 1, "1 joint off the chain is held fixed (b)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape + " to " + c.tip);
    const Loaded l = Load(Tree(c.shape), c.tip);
    EXPECT_EQ(l.robot ? static_cast<int>(l.robot->links.size()) : -1, c.links);
    EXPECT_EQ(c.links < 0 ? l.error : l.notices,
              c.message + (c.message.empty() || c.links < 0 ? "" : "\n"));
  }
}

// Inertia tensors that are not positive semi-definite are refused, on the chain, off it or fixed
// to the world: a negative moment, a product of inertia that outweighs its two moments, or every
// moment and pair positive but a negative determinant. A singular one is still a body. Principal
// moments that break the triangle inequality are warned about, after the held joints, but only
// where the mass takes part.
TEST(Urdf, InertiasNotPositiveSemiDefiniteAreRefusedAndImplausibleOnesWarnedAbout) {
  const struct {
    std::string link;     // base (fixed to the world), a (moved) or b (held off the chain)
    std::string inertia;  // ixx iyy izz ixy ixz iyz
    std::string said;     // "refused", or the largest moment and the sum of the others warned
  } cases[] = {
      {"a", "-0.1 1 1 0 0 0", "refused"},
      {"b", "1 1 1 0 0 1.5", "refused"},
      {"a", "1 1 1 0.9 0.9 -0.9", "refused"},
      {"base", "1 1 1 0.9 0.9 -0.9", "refused"},
      {"a", "1 1 1 0.5 0.5 -0.5", ""},
      {"a", "0 0.35 0 0 0 0", "0.35 0"},
      // diag(0.1, 0.1, 0.3) turned 45 degrees about x; on the bound, diag(0.1, 0.1, 0.2) turned.
      {"a", "0.1 0.2 0.2 0 0 0.1", "0.3 0.2"},
      {"a", "0.1 0.15 0.15 0 0 0.05", ""},
      // A thin rod as files round it: a ten-thousandth past the bound.
      {"a", "0.3501 0.35 0 0 0 0", ""},
      {"b", "0 0 0.35 0 0 0", "0.35 0"},
      {"base", "0 0 0.35 0 0 0", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.link + ": " + c.inertia);
    const Loaded l = Load(WithInertial(Tree("world base f, base a c, a b p, a c p"), c.link,
                                       "1 | 0 0 0 | " + c.inertia));
    if (c.said == "refused") {
      EXPECT_EQ(l.error,
                "link '" + c.link + "' has an inertia tensor that is not positive semi-definite");
      continue;
    }
    std::string expected =
        "2 joints off the chain are held fixed (b, c); the chain ends at a; --tip chooses another "
        "end\n";
    if (!c.said.empty()) {
      const std::size_t space = c.said.find(' ');
      expected += Implausible(c.link, c.said.substr(0, space), c.said.substr(space + 1));
    }
    EXPECT_EQ(l.notices, expected);
  }
}

// Each moving joint takes its limits (revolute and prismatic joints; continuous ones have none),
// its effort (none below 0) and its <dynamics> damping and friction (an attribute left out is 0);
// limits that are no range and friction that is negative are left out with a notice.
TEST(Urdf, JointsTakeTheirLimitsEffortAndFrictionFromTheFile) {
  const double inf = INFINITY;
  const struct {
    const char* type;
    const char* elements;
    double lower, upper, effort;
    bool friction;
    double damping, coulomb;
    const char* notice;  // after "t: joint 'j' ", or null
  } cases[] = {
      {"revolute", "<limit lower='-1' upper='2' effort='30' velocity='1'/>", -1, 2, 30, false, 0, 0,
       nullptr},
      {"prismatic",
       "<limit lower='0' upper='0.2' effort='200' velocity='1'/><dynamics damping='0.5' "
       "friction='0.2'/>",
       0, 0.2, 200, true, 0.5, 0.2, nullptr},
      {"continuous", "<limit effort='5' velocity='1'/><dynamics damping='0.3'/>", -inf, inf, 5,
       true, 0.3, 0, nullptr},
      {"continuous", "", -inf, inf, inf, false, 0, 0, nullptr},
      {"revolute", "<limit effort='1' velocity='1'/>", 0, 0, 1, false, 0, 0, nullptr},
      {"revolute", "<limit lower='-1' upper='1' effort='0' velocity='1'/>", -1, 1, 0, false, 0, 0,
       nullptr},
      {"revolute", "<limit lower='1' upper='-1' effort='-1' velocity='1'/>", -inf, inf, inf, false,
       0, 0, "has limits that are no range (lower 1, upper -1); it moves without them"},
      {"revolute", "<limit lower='-1' upper='1' effort='1' velocity='1'/><dynamics damping='-2'/>",
       -1, 1, 1, false, 0, 0,
       "takes the panel's friction: damping must be finite and 0 or more, not -2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.elements);
    const Loaded l =
        Load(std::string("<robot name='r'><link name='base'/><joint name='j' type='") + c.type +
             "'><parent link='base'/><child link='a'/><axis xyz='0 0 1'/>" + c.elements +
             "</joint><link name='a'><inertial><mass value='1'/><inertia ixx='1' "
             "iyy='1' izz='1' ixy='0' ixz='0' iyz='0'/></inertial></link></robot>");
    ASSERT_TRUE(l.robot) << l.error;
    const Link& link = *l.robot->links[0];
    EXPECT_EQ(std::vector<double>(
                  {link.lower, link.upper, link.effort, link.fileViscous, link.fileCoulomb}),
              std::vector<double>({c.lower, c.upper, c.effort, c.damping, c.coulomb}));
    EXPECT_EQ(link.fileFriction, c.friction);
    EXPECT_EQ(l.notices, c.notice ? std::string("joint 'j' ") + c.notice + "\n" : "");
  }
}

// A link named in a joint by a character reference is the link the URDF parser's reader makes of
// it: without an encoding declaration "&#x141;" is 'A' (its low byte), with UTF-8 it is 'Ł'.
// Loops and missing roots written so are refused with one line, as the parser reads the names.
TEST(Urdf, NamesAreCheckedAsTheParserReadsThem) {
  const std::string mass =
      "<inertial><mass value='1'/><inertia ixx='1' iyy='1' izz='1' ixy='0' ixz='0' "
      "iyz='0'/></inertial>";
  const auto link = [&](const std::string& name) {
    return "<link name='" + name + "'>" + mass + "</link>";
  };
  const auto joint = [](const std::string& name, const std::string& parent,
                        const std::string& child) {
    return "<joint name='" + name + "' type='continuous'><parent link='" + parent +
           "'/><child link='" + child + "'/></joint>";
  };
  const std::string utf8 = "<?xml version='1.0' encoding='UTF-8'?>";
  const struct {
    std::string head, body;
    std::string error;  // "" when the arm loads
    std::size_t links = 0;
  } cases[] = {
      // A loop with 'A' the root hidden as a reference.
      {"", link("A") + link("b") + joint("j1", "&#x141;", "b") + joint("j0", "b", "A"),
       "the joints form a closed loop through link 'A'"},
      // A link declared twice under two spellings.
      {"", link("base") + link("&#x141;") + link("A") + joint("j0", "base", "A"),
       "link 'A' is not unique."},
      // With UTF-8 declared the reference is 'Ł', and names the link written as such.
      {utf8,
       link("base") + link("A") + link("Ł") + joint("j0", "base", "A") +
           joint("j1", "A", "&#x141;"),
       "", 2},
      {"",
       link("base") + link("A") + link("b") + joint("j0", "base", "&#x141;") +
           joint("j1", "A", "b"),
       "", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const Loaded l = Load(c.head + "<robot name='r'>" + c.body + "</robot>");
    EXPECT_EQ(l.error, c.error);
    EXPECT_EQ(l.robot ? l.robot->links.size() : 0, c.links);
  }
}

// Every moving joint must move some inertia: mass off its axis or inertia about it (mass alone
// for a sliding joint), in its own link and those after it, and not all of it taken up by the
// joints after it (two joints on one axis with nothing between them), at the pose of the file.
// What is small but not zero is a body.
TEST(Urdf, AJointThatMovesNoInertiaIsRefusedNamingIt) {
  const struct {
    std::string shape;
    std::vector<std::pair<std::string, std::string>> inertials;  // link: mass, com, moments
    std::string error;  // after "t: joint '", empty when it loads
  } cases[] = {
      {"base a c",
       {{"a", "1 | 0 0 0 | 1 1 0"}},
       "a' moves nothing: link 'a' and the links after it have no mass off the joint's axis and no "
       "inertia about it"},
      {"base a c, a b p",
       {{"b", "0 | 0.5 0 0 | 3 3 3"}},
       "b' moves nothing: link 'b' and the links after it have no mass"},
      // Rounding leaves 2e-16 of b's 1.28 kg m^2 to joint a.
      {"base a c, a b c",
       {{"a", "0 | 0 0 0 | 0 0 0"}, {"b", "1.7 | 0.123 -0.77 0.31 | 0.3 0.2 0.25"}},
       "a' moves no inertia of its own at the pose of the file: link 'a' has none it could "
       "move, and the joints after it move all the rest themselves"},
      {"base a p, a b p", {{"a", "0 | 0 0 0 | 1 1 1"}}, "a' moves no inertia of its own"},
      {"base a c", {{"a", "1 | 0.5 0 0 | 0 0 0"}}, ""},        // a point mass off the axis
      {"base a c", {{"a", "1e-30 | 0 0 0 | 0 0 1e-40"}}, ""},  // tiny, not zero
      {"base a c, a h f", {{"a", "0 | 0 0 0 | 0 0 0"}, {"h", "1 | 0 0.2 0 | 0 0 0"}}, ""},
      {"base a c, a b c offset", {{"a", "0 | 0 0 0 | 0 0 0"}}, ""},  // b's mass goes round a
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    const bool offset = c.shape.ends_with(" offset");
    std::string text = Tree(offset ? c.shape.substr(0, c.shape.size() - 7) : c.shape);
    if (offset) {
      text.replace(text.find("<axis", text.find("<joint name='b'")), 0, "<origin xyz='0.5 0 0'/>");
    }
    for (const auto& [link, values] : c.inertials) {
      text = WithInertial(text, link, values);
    }
    const Loaded l = Load(text);
    EXPECT_EQ(l.error.substr(0, 7 + c.error.size()), c.error.empty() ? "" : "joint '" + c.error)
        << l.error;
  }
  // A file name with a NUL would be cut there by the system, naming another file.
  std::string error, path = VELMOTH_EXAMPLES "/scara.urdf";
  path.push_back('\0');
  path.append(".x");
  EXPECT_FALSE(LoadUrdfRobot(path, error));
  EXPECT_NE(error.find(": cannot open: the file name holds a NUL character"), std::string::npos)
      << error;
}

// The parser's model is checked on its own, should a model ever reach the chain with links that
// close a loop: it is refused, and never walked round.
TEST(Urdf, AModelWhoseJointsCloseALoopIsRefusedWithoutWalkingRoundIt) {
  const auto make = [](const std::string& shape, urdf::ModelInterface& model) {
    // "parent child, ...": joints named after their child; the first parent is the root.
    std::istringstream in(shape);
    for (std::string parent, child; in >> parent >> child;) {
      child.erase(child.find_last_not_of(',') + 1);
      for (const std::string& name : {parent, child}) {
        if (!model.links_.count(name)) {
          model.links_[name] = std::make_shared<urdf::Link>();
          model.links_[name]->name = name;
        }
      }
      auto joint = std::make_shared<urdf::Joint>();
      joint->name = "j" + child + std::to_string(model.joints_.size());
      joint->type = urdf::Joint::CONTINUOUS;
      joint->parent_link_name = parent;
      joint->child_link_name = child;
      model.links_[parent]->child_joints.push_back(joint);
      if (model.joints_.count(child) == 0) {  // a second joint to a child only in the links
        model.joints_[child] = joint;
      }
      model.root_link_ = model.root_link_ ? model.root_link_ : model.links_[parent];
    }
  };
  const struct {
    std::string shape, error;
  } cases[] = {
      {"base a, a b, b a", "the joints form a closed loop through link 'a'"},
      {"a b, b a", "the joints form a closed loop; no link is the root"},
      {"base c, a b, b a", "the joints form a closed loop"},
      {"base a, a a", "the joints form a closed loop through link 'a'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    urdf::ModelInterface model;
    make(c.shape, model);
    std::vector<UrdfNode> tree;
    EXPECT_EQ(UrdfTreeOrder(model, tree), c.error);
  }
  urdf::ModelInterface twoParents;
  make("base a, base b, b a", twoParents);
  twoParents.joints_["other"] = twoParents.links_["b"]->child_joints[0];
  std::vector<UrdfNode> tree;
  EXPECT_EQ(UrdfTreeOrder(twoParents, tree),
            "link 'a' is the child of two joints ('ja0' and 'other'), which closes a loop");
}

// Values that are finite in the file but not once links are joined, or whose squares and products
// in the dynamics overflow, are refused naming the link; just below the bound both engines'
// M and G stay finite.
TEST(Urdf, ValuesTooLargeToSimulateAreRefusedNamingTheLink) {
  const auto arm = [](const std::string& massA, const std::string& massB, const std::string& type,
                      const std::string& origin, const std::string& inertia = "1") {
    const auto link = [&](const std::string& name, const std::string& m) {
      return "<link name='" + name + "'><inertial><mass value='" + m + "'/><inertia ixx='" +
             inertia + "' iyy='" + inertia + "' izz='" + inertia +
             "' ixy='0' ixz='0' iyz='0'/></inertial></link>";
    };
    return "<robot name='r'><link name='base'/>" + link("a", massA) + link("b", massB) +
           "<joint name='ja' type='continuous'><parent link='base'/><child link='a'/></joint>"
           "<joint name='jb' type='" +
           type + "'><parent link='a'/><child link='b'/><origin xyz='" + origin +
           "'/></joint></robot>";
  };
  const struct {
    std::string text, error;
  } cases[] = {
      {arm("1.7e308", "1.7e308", "fixed", "0 0 0"),
       "link 'a' has a mass that is not finite once the links fixed to it are joined"},
      {arm("1", "1", "fixed", "0 0 0", "1.7e308"),
       "link 'a' has an inertia that is not finite once the links fixed to it are joined"},
      // Joined 1e300 m apart: the parallel-axis term overflows.
      {arm("1", "1", "fixed", "1e300 0 0"),
       "link 'a' has an inertia that is not finite once the links fixed to it are joined"},
      {arm("1", "1", "continuous", "1e308 0 0"),
       "link 'a' is too long: the square of its length is not finite"},
      {arm("1", "1", "continuous", "1e153 0 0"),
       "link 'b' is too heavy or too far from the joints before it: the arm's inertia about "
       "them is not finite"},
      {arm("1", "1e300", "continuous", "1e5 0 0"),
       "link 'b' is too heavy or too far from the joints before it: the arm's inertia about "
       "them is not finite"},
      {arm("1", "1e290", "continuous", "1e5 0 0"), ""},
      {arm("1", "1", "continuous", "1e152 0 0"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Loaded l = Load(c.text);
    EXPECT_EQ(l.error, c.error);
    if (l.robot) {
      for (const auto& link : l.robot->links) {
        link->q = 0.7;
        link->qd = 0.0;
      }
      for (const Terms& t : BothEngines(*l.robot)) {
        for (const std::vector<double>* v : {&t.m, &t.g}) {
          EXPECT_TRUE(std::all_of(v->begin(), v->end(), [](double x) { return std::isfinite(x); }));
        }
      }
    }
  }
}

// Every line quotes the file's text with its control characters escaped, and on one line; text
// in UTF-16 or UTF-32 is named, and DOCTYPE declarations are refused.
TEST(Urdf, MessagesShowTheFilesTextEscapedAndNameWhatCannotBeRead) {
  const struct {
    std::string in, out;
  } lines[] = {
      {"a\x1b[31mred\x7f", "a\\x1b[31mred\\x7f"},
      {"line\nbreak\r\ttab", "line break \\x09tab"},
      {"\xc2\x9b"
       "csi \xc2\xa0\xc5\x81 kept",
       "\\u009bcsi \xc2\xa0\xc5\x81 kept"},
      {"raw \x9b and cut \xc5", "raw \\x9b and cut \\xc5"},
  };
  for (const auto& l : lines) {
    EXPECT_EQ(PrintableLine(l.in), l.out);
  }
  // In an error and in a notice alike.
  const std::string body =
      "<robot name='r'><link name='base'/><link name='a&#x1b;[31m'><inertial><mass value='1'/>"
      "<inertia ixx='1' iyy='1' izz='1' ixy='0' ixz='0' iyz='0'/></inertial></link>"
      "<joint name='j' type='continuous'><parent link='base'/><child link='a&#x1b;[31m'/>"
      "</joint>";
  std::string error;
  std::vector<std::string> notices;
  EXPECT_FALSE(LoadUrdfRobotFromText(body + "</robot>", "t", error, {"x"}));
  EXPECT_EQ(error, "t: --tip: there is no link 'x'");
  EXPECT_FALSE(LoadUrdfRobotFromText(
      body + "<joint name='k&#x9b;' type='fixed'><parent link='a&#x1b;[31m'/></joint></robot>", "t",
      error));
  EXPECT_EQ(error.find_first_of("\x1b\x9b"), std::string::npos) << error;
  EXPECT_NE(error.find("\\x9b"), std::string::npos) << error;
  EXPECT_TRUE(LoadUrdfRobotFromText(
      body + "<link name='c'/><joint name='h&#x1b;' type='continuous'><parent link='base'/>"
             "<child link='c'/></joint></robot>",
      "t", error, {"a\x1b[31m"}, &notices));
  EXPECT_EQ(notices, std::vector<std::string>{"t: 1 joint off the chain is held fixed (h\\x1b)"});

  const std::string xml = "<robot name='r'><link name='a'/></robot>";
  const auto widened = [&](int width, bool big, const std::string& mark) {
    std::string out = mark;
    for (char c : xml) {
      std::string unit(static_cast<std::size_t>(width), '\0');
      unit[big ? unit.size() - 1 : 0] = c;
      out += unit;
    }
    return out;
  };
  const struct {
    std::string text, error;
  } texts[] = {
      {widened(2, false, "\xff\xfe"),
       "the file is UTF-16 (little-endian) text; URDF files are UTF-8"},
      {widened(2, false, ""), "the file is UTF-16 (little-endian) text; URDF files are UTF-8"},
      {widened(2, true, "\xfe\xff"), "the file is UTF-16 (big-endian) text; URDF files are UTF-8"},
      {widened(2, true, ""), "the file is UTF-16 (big-endian) text; URDF files are UTF-8"},
      {widened(4, false, std::string("\xff\xfe\0\0", 4)),
       "the file is UTF-32 (little-endian) text; URDF files are UTF-8"},
      {widened(4, true, ""), "the file is UTF-32 (big-endian) text; URDF files are UTF-8"},
      {"<!DOCTYPE robot [ <!ENTITY n 'a'> ]>" + xml,
       "a DOCTYPE with declarations (<!ENTITY ...> and the like) is not supported"},
      {"<?pi >" + std::string(50, ' ') + "<robot name='r'/> ?>\n" + xml,
       "a processing instruction holding '<' at line 1 is not supported"},
      {"\xef\xbb\xbf<!DOCTYPE robot SYSTEM 'robot.dtd'>" + xml, ""},
  };
  for (const auto& t : texts) {
    EXPECT_EQ(CheckUrdfText(t.text), t.error);
  }
}

}  // namespace
