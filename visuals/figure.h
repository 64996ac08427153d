// How the view draws an arm, in numbers that the picking of what it draws takes too: the figure's
// housings, sliders and bodies in proportion to a link's radius, and how finely the cylinders and
// spheres are cut into polygons (the view draws them with GLU's quadrics, whose corners lie at the
// angles 2 pi i / slices, x = r sin, y = r cos).
#pragma once

// A revolute joint's housing: a cylinder along the joint's axis, this many radii long and of this
// many radii; a prismatic joint's is a cube of kHousingLength radii; its slider is kSliderWidth
// radii square and reaches from the joint along its axis as far as the joint has slid.
inline constexpr double kHousingLength = 2.5;
inline constexpr double kHousingRadius = 1.3;
inline constexpr double kSliderWidth = 1.5;
// Over a link drawn by its shapes, the housing of a joint at a limit is drawn this much larger.
inline constexpr double kAtLimitOverShapes = 1.4;

// The figure's cylinders (housings and bodies), and the shapes' cylinders and spheres.
inline constexpr int kFigureSlices = 25;
inline constexpr int kShapeSlices = 32;
inline constexpr int kShapeStacks = 16;
