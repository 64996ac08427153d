#include "urdf/urdf_chain.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <utility>

#include "urdf/urdf_loader.h"

namespace {

std::string Quoted(const std::string& name) {
  return "'" + name + "'";
}

bool Moves(const urdf::Joint& joint) {
  return joint.type != urdf::Joint::FIXED;
}

// The tree with, for each node, its children's nodes and whether a moving joint lies below it.
class Tree {
 public:
  explicit Tree(const std::vector<UrdfNode>& nodes)
      : nodes_(nodes), children_(nodes.size()), movingBelow_(nodes.size(), false) {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      index_.emplace(nodes[i].link->name, static_cast<int>(i));
      if (nodes[i].parent >= 0) {
        children_[static_cast<std::size_t>(nodes[i].parent)].push_back(static_cast<int>(i));
      }
    }
    // Children come after their parents, so one pass from the back settles every node.
    for (std::size_t i = nodes.size(); i-- > 1;) {
      const UrdfNode& n = nodes[i];
      if (Moves(*n.joint) || movingBelow_[i]) {
        movingBelow_[static_cast<std::size_t>(n.parent)] = true;
      }
    }
  }

  const UrdfNode& Node(int i) const { return nodes_[static_cast<std::size_t>(i)]; }
  std::size_t Size() const { return nodes_.size(); }
  int Find(const std::string& link) const {
    const auto it = index_.find(link);
    return it == index_.end() ? -1 : it->second;
  }

  // The children whose joint moves or leads to one that does: each begins a chain of moving
  // joints.
  std::vector<int> Live(int i) const {
    std::vector<int> live;
    for (int c : children_[static_cast<std::size_t>(i)]) {
      if (Moves(*Node(c).joint) || movingBelow_[static_cast<std::size_t>(c)]) {
        live.push_back(c);
      }
    }
    return live;
  }

  const std::vector<int>& Children(int i) const { return children_[static_cast<std::size_t>(i)]; }

 private:
  const std::vector<UrdfNode>& nodes_;
  std::vector<std::vector<int>> children_;
  std::vector<bool> movingBelow_;
  std::map<std::string, int> index_;
};

// Where the chain from node start runs without a tip: on through the one live child of each link,
// ending at a link with none, or at the first link with several (where it parts).
struct Walk {
  std::vector<int> nodes;  // the nodes after start, in order
  int end = 0;
  bool moved = false;  // a moving joint lies between the root and the end
  bool parts = false;  // the end has several live children
};

// Each step goes to a later node, so the walk ends within as many steps as there are nodes; the
// bound keeps it so whatever the tree holds.
Walk WalkFrom(const Tree& tree, int start, bool moved) {
  Walk walk;
  walk.moved = moved;
  walk.end = start;
  for (;;) {
    const std::vector<int> live = tree.Live(walk.end);
    if (live.size() != 1 || walk.nodes.size() >= tree.Size()) {
      walk.parts = live.size() > 1;
      return walk;
    }
    walk.end = live[0];
    walk.nodes.push_back(walk.end);
    walk.moved = walk.moved || Moves(*tree.Node(walk.end).joint);
  }
}

// The refusal of a tree whose chain parts before its first moving joint: where it parts, and where
// each of the chains would end, which are the tips to choose from.
std::string PartsAtOnce(const Tree& tree, int at) {
  std::vector<std::string> joints, tips;
  const std::vector<int> live = tree.Live(at);
  for (int c : live) {
    joints.push_back(tree.Node(c).joint->name);
  }
  // Depth first, in order; a branch that parts again before a moving joint offers its own
  // branches' ends.
  std::vector<std::pair<int, bool>> todo;
  for (auto c = live.rbegin(); c != live.rend(); ++c) {
    todo.emplace_back(*c, Moves(*tree.Node(*c).joint));
  }
  while (!todo.empty()) {
    const auto [start, moved] = todo.back();
    todo.pop_back();
    const Walk walk = WalkFrom(tree, start, moved);
    if (walk.parts && !walk.moved) {
      const std::vector<int> more = tree.Live(walk.end);
      for (auto c = more.rbegin(); c != more.rend(); ++c) {
        todo.emplace_back(*c, Moves(*tree.Node(*c).joint));
      }
    } else {
      tips.push_back(tree.Node(walk.end).link->name);
    }
  }
  return "link " + Quoted(tree.Node(at).link->name) + " parts into " + std::to_string(live.size()) +
         " chains of moving joints before the first moving joint, at joints " +
         ListedNames(joints, "'", " and ", " and ") +
         "; --tip chooses one of them: " + ListedNames(tips, "'", " or ", " or ");
}

// Why a joint cannot be one the chain moves, or "".
std::string CannotMove(const urdf::Joint& joint, const std::string& parentLink, bool movedBefore) {
  if (joint.type != urdf::Joint::REVOLUTE && joint.type != urdf::Joint::CONTINUOUS &&
      joint.type != urdf::Joint::PRISMATIC) {
    const char* kind = joint.type == urdf::Joint::FLOATING ? "floating"
                       : joint.type == urdf::Joint::PLANAR ? "planar"
                                                           : "of an unknown type";
    return "joint " + Quoted(joint.name) + " is " + kind +
           "; only revolute, continuous, prismatic and fixed joints can be simulated";
  }
  // Every joint coordinate of the simulation is independent (one element of each state vector
  // per joint) and the closed-form dynamics have no coupled joints, so a joint that follows
  // another cannot move on the chain. Off the chain it is held fixed as any other joint.
  if (joint.mimic) {
    return "joint " + Quoted(joint.name) + " mimics joint " + Quoted(joint.mimic->joint_name) +
           ", and joints coupled to others cannot be simulated; --tip " +
           (movedBefore ? "can end the chain before it, at " + Quoted(parentLink)
                        : std::string("can choose a chain without it"));
  }
  const urdf::Vector3& axis = joint.axis;
  if (!std::isfinite(axis.x) || !std::isfinite(axis.y) || !std::isfinite(axis.z) ||
      (axis.x == 0.0 && axis.y == 0.0 && axis.z == 0.0)) {
    return "joint " + Quoted(joint.name) + " has no usable axis";
  }
  return "";
}

}  // namespace

std::string UrdfTreeOrder(const urdf::ModelInterface& model, std::vector<UrdfNode>& nodes) {
  // Checked on the parser's own model, by the names as it read them: each link the child of at
  // most one joint, one root, and every link reached from it exactly once. The text's own check
  // leaves no loop of links; should it ever read a name otherwise than the parser, such links
  // still must not pass unnoticed, nor be walked round forever.
  nodes.clear();
  std::map<std::string, const urdf::Joint*> parentJoint;
  for (const auto& [name, joint] : model.joints_) {
    const auto [it, added] = parentJoint.emplace(joint->child_link_name, joint.get());
    if (!added) {
      return "link " + Quoted(joint->child_link_name) + " is the child of two joints (" +
             Quoted(it->second->name) + " and " + Quoted(name) + "), which closes a loop";
    }
  }
  const urdf::Link* root = model.getRoot().get();
  if (root == nullptr || parentJoint.count(root->name) != 0) {
    return "the joints form a closed loop; no link is the root";
  }
  std::set<const urdf::Link*> reached;
  std::vector<UrdfNode> todo = {{root, nullptr, -1}};
  while (!todo.empty()) {
    const UrdfNode next = todo.back();
    todo.pop_back();
    if (next.link == nullptr || !reached.insert(next.link).second) {
      return "the joints form a closed loop through link " +
             Quoted(next.link ? next.link->name : next.joint->child_link_name);
    }
    nodes.push_back(next);
    const urdf::Link& link = *next.link;
    for (auto j = link.child_joints.rbegin(); j != link.child_joints.rend(); ++j) {
      todo.push_back({model.getLink((*j)->child_link_name).get(), j->get(),
                      static_cast<int>(nodes.size()) - 1});
    }
  }
  return nodes.size() == model.links_.size() ? "" : "the joints form a closed loop";
}

std::string ChooseUrdfChain(const std::vector<UrdfNode>& nodes, const std::string& tip,
                            UrdfChain& chain) {
  const Tree tree(nodes);
  std::vector<int> path;  // the nodes after the root
  int end = 0;
  if (tip.empty()) {
    const Walk walk = WalkFrom(tree, 0, false);
    if (walk.parts && !walk.moved) {
      return PartsAtOnce(tree, walk.end);
    }
    path = walk.nodes;
    end = walk.end;
  } else {
    end = tree.Find(tip);
    if (end < 0) {
      return "--tip: there is no link " + Quoted(tip);
    }
    if (end == 0) {
      return "--tip: " + Quoted(tip) + " is the root link; the chain must end below it";
    }
    // Parents come before their children, so the way up ends at the root.
    for (int i = end; i > 0 && path.size() < nodes.size(); i = tree.Node(i).parent) {
      path.push_back(i);
    }
    std::reverse(path.begin(), path.end());
  }

  chain = UrdfChain{};
  chain.end = tree.Node(end).link->name;
  std::vector<bool> onPath(nodes.size(), false);
  int moving = 0;
  for (int i : path) {
    onPath[static_cast<std::size_t>(i)] = true;
    const UrdfNode& n = tree.Node(i);
    chain.path.push_back(n.joint);
    if (!Moves(*n.joint)) {
      continue;
    }
    const std::string problem = CannotMove(*n.joint, tree.Node(n.parent).link->name, moving > 0);
    if (!problem.empty()) {
      return problem;
    }
    if (++moving > kUrdfMaxMovingJoints) {
      return "more than " + std::to_string(kUrdfMaxMovingJoints) + " moving joints";
    }
  }
  // A tip fixed to the root ends a chain that moves nothing: an arm of no joints.
  if (!tip.empty() && moving == 0) {
    return "--tip: " + Quoted(tip) + " is fixed to the root link " +
           Quoted(tree.Node(0).link->name) +
           " by fixed joints only; the chain must end below a moving joint";
  }
  for (std::size_t i = 1; i < nodes.size(); ++i) {
    if (!onPath[i] && Moves(*nodes[i].joint)) {
      chain.held.push_back(nodes[i].joint->name);
    }
  }
  int tool = end;
  for (std::size_t steps = 0; steps < nodes.size() && tree.Children(tool).size() == 1 &&
                              !Moves(*tree.Node(tree.Children(tool)[0]).joint);
       ++steps) {
    tool = tree.Children(tool)[0];
  }
  chain.tool = static_cast<std::size_t>(tool);
  return "";
}

std::string HeldJointsNotice(const UrdfChain& chain, bool tipGiven) {
  const std::size_t n = chain.held.size();
  if (n == 0) {
    return "";
  }
  std::string line = std::to_string(n) +
                     (n == 1 ? " joint off the chain is" : " joints off the chain are") +
                     " held fixed (" + ListedNames(chain.held, "", ", ", " and ") + ")";
  if (!tipGiven) {
    line += "; the chain ends at " + chain.end + "; --tip chooses another end";
  }
  return line;
}

std::string ListedNames(const std::vector<std::string>& names, const std::string& quote,
                        const std::string& last, const std::string& more, std::size_t shown) {
  const std::size_t listed = names.size() > shown ? shown : names.size();
  std::string text;
  for (std::size_t i = 0; i < listed; ++i) {
    const bool final = i + 1 == names.size();
    text += (i == 0 ? "" : final ? last : ", ") + quote + names[i] + quote;
  }
  if (listed < names.size()) {
    text += more + std::to_string(names.size() - listed) + " more";
  }
  return text;
}
