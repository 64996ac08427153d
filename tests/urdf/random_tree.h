// Random URDF chains and trees for the tests that compare the loaded arm with Orocos KDL.
#pragma once

#include <random>
#include <string>

struct RandomTree {
  std::string text;
  std::string last;  // the serial chain's last link
  int links = 0;     // l1 to l<links> lie below the root l0
};

// A random serial chain of `moving` moving joints: each followed by up to two fixed joints, and
// up to two before the first; every tenth origin pitched by exactly a quarter turn. Then, with
// fork, two moving joints hung from the chain's last link (the chain parts there), and `extras`
// links hung from links drawn at random, by fixed joints or, with movingExtras, one in three by
// revolute ones.
RandomTree MakeRandomTree(std::mt19937_64& random, int moving, int extras = 0,
                          bool movingExtras = false, bool fork = false);

// One of the tree's links drawn at random as the chain's tip, or the chain's last link where the
// drawn one hangs from the root by fixed joints only (such a tip gives no arm and is refused).
std::string RandomTip(const RandomTree& tree, std::mt19937_64& random);
