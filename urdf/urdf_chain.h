// Which serial chain of a URDF tree becomes the simulated arm. A robot description is a tree of
// links joined by joints; the dynamics simulate one chain of moving joints in it, from the root
// down to an end link. Every other joint holds its child rigidly to its parent (a moving joint at
// position 0), so that each subtree off the chain moves with the link it hangs from.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <urdf_model/model.h>

// One link of the tree and the joint that hangs it from its parent (null for the root).
struct UrdfNode {
  const urdf::Link* link = nullptr;
  const urdf::Joint* joint = nullptr;
  int parent = -1;  // index of the parent's node
};

// Sets nodes to the links reached from the root, each after its parent, a link's children in the
// order of its child joints (depth first). Returns the problem's text when the joints, as the
// parser's model names their links, form a closed loop (a link is the child of two joints, no link
// is the root, or the root does not reach every link exactly once), else "".
std::string UrdfTreeOrder(const urdf::ModelInterface& model, std::vector<UrdfNode>& nodes);

struct UrdfChain {
  // The joints from the root to the end link, fixed and moving, root first.
  std::vector<const urdf::Joint*> path;
  // The link whose frame gives the last moving link its drawn extent: the end link, followed on
  // down as long as a link has a single child joint and that joint is fixed (a tool frame).
  std::size_t tool = 0;  // its node
  // The moving joints off the chain, held fixed, in tree order.
  std::vector<std::string> held;
  std::string end;  // the end link's name
};

// Chooses the chain: the one to the link named tip or, when tip is empty, the one that runs from
// the root for as long as it does not part into several chains of moving joints, ending at the
// link where it parts. Every joint the chain moves must be revolute, continuous or prismatic, with
// a usable axis, and follow no other joint (mimic). On a problem returns its text, else "".
// tree is UrdfTreeOrder's.
std::string ChooseUrdfChain(const std::vector<UrdfNode>& tree, const std::string& tip,
                            UrdfChain& chain);

// The line telling which joints are held fixed, or "" when none are: "2 joints off the chain are
// held fixed (a, b); the chain ends at hand; --tip chooses another end". With a tip the user chose
// the end, so the line ends after the list.
std::string HeldJointsNotice(const UrdfChain& chain, bool tipGiven);

// The names, each between two quotes, joined by ", " and by `last` before the final one: "'a',
// 'b' and 'c'". Of more than `shown` names the first `shown` are listed, then `more` and how many
// are left ("'a', ..., 'f' and 4 more"), so that a line stays readable.
std::string ListedNames(const std::vector<std::string>& names, const std::string& quote,
                        const std::string& last, const std::string& more, std::size_t shown = 6);
