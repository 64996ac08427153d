#include "random_tree.h"

#include <cstdio>
#include <memory>

#include "urdf/urdf_loader.h"

RandomTree MakeRandomTree(std::mt19937_64& random, int moving, int extras, bool movingExtras,
                          bool fork) {
  const auto num = [&](double low, double high) {  // %.17g: both parsers read the same double
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", std::uniform_real_distribution(low, high)(random));
    return std::string(text);
  };
  const auto three = [&](double low, double high) {
    return num(low, high) + " " + num(low, high) + " " + num(low, high);
  };
  const auto origin = [&](double r) {
    const bool quarter = std::uniform_int_distribution<int>(0, 9)(random) == 0;
    const std::string pitch = quarter ? "1.5707963267948966" : num(-3.1, 3.1);
    return "<origin xyz='" + three(-r, r) + "' rpy='" + num(-3.1, 3.1) + " " + pitch + " " +
           num(-3.1, 3.1) + "'/>";
  };
  const auto inertial = [&] {  // diagonally dominant, so positive definite
    return "<inertial>" + origin(0.2) + "<mass value='" + num(0.1, 3) + "'/><inertia ixx='" +
           num(0.04, 0.3) + "' iyy='" + num(0.04, 0.3) + "' izz='" + num(0.04, 0.3) + "' ixy='" +
           num(-0.01, 0.01) + "' ixz='" + num(-0.01, 0.01) + "' iyz='" + num(-0.01, 0.01) +
           "'/></inertial>";
  };
  std::string text = "<robot name='random'><link name='l0'/>";
  int links = 0;
  const auto joint = [&](const std::string& type, bool mass, int from) {
    const std::string parent = "l" + std::to_string(from), child = "l" + std::to_string(++links);
    const std::string axes[] = {"1 0 0", "0 1 0", "0 0 1", "-1 0 0", "0 -1 0", "0 0 -1"};
    const int kind = std::uniform_int_distribution<int>(0, 7)(random);
    const std::string axis = kind < 6 ? axes[kind] : three(-3, 3);
    text += "<joint name='j" + child + "' type='" + type + "'><parent link='" + parent +
            "'/><child link='" + child + "'/>" + origin(0.4) +
            (type == "fixed" ? "" : "<axis xyz='" + axis + "'/>") +
            (type == "revolute" || type == "prismatic"
                 ? "<limit lower='-1' upper='1' effort='1' velocity='1'/>"
                 : "") +
            "</joint><link name='" + child + "'>" + (mass ? inertial() : "") + "</link>";
  };
  const auto count = [&] { return std::uniform_int_distribution<int>(0, 2)(random); };
  for (int f = count(); f > 0; --f) {
    joint("fixed", count() == 0, links);
  }
  for (int j = 0; j < moving; ++j) {
    const bool own = count() > 0;  // else its mass comes only from a fixed link
    joint(j % 3 == 2 ? "prismatic" : j % 3 == 1 ? "revolute" : "continuous", own, links);
    for (int f = own ? count() : 1 + count() % 2; f > 0; --f) {
      joint("fixed", true, links);
    }
  }
  const int last = links;
  if (fork) {
    joint("prismatic", true, last);
    joint("continuous", true, last);
  }
  for (int e = 0; e < extras; ++e) {
    const int from = std::uniform_int_distribution<int>(0, links)(random);
    const bool moves = movingExtras && count() == 0;
    joint(moves ? "revolute" : "fixed", moves || count() > 0, from);
  }
  return {text + "</robot>", "l" + std::to_string(last), links};
}

std::string RandomTip(const RandomTree& tree, std::mt19937_64& random) {
  const std::string tip =
      "l" + std::to_string(std::uniform_int_distribution<int>(1, tree.links)(random));
  std::string error;
  const bool fixedToRoot = !LoadUrdfRobotFromText(tree.text, "t", error, {tip}) &&
                           error.find("is fixed to the root link") != std::string::npos;
  return fixedToRoot ? tree.last : tip;
}
