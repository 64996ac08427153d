#include "app/dialog_template.h"

#include <cstdint>

namespace {

constexpr uint32_t kEditStyle =
    kStyleChild | kStyleVisible | kStyleBorder | kStyleTabStop | kStyleAutoScroll;
constexpr uint32_t kLabelStyle = kStyleChild | kStyleVisible | kStyleGroup;
constexpr uint32_t kRadioStyle = kStyleChild | kStyleVisible;
constexpr uint32_t kButtonStyle = kStyleChild | kStyleVisible | kStyleTabStop;

using K = ControlKind;

constexpr ControlTemplate kMainControls[] = {
    {kIdKineticEnergy, K::kEdit, "", 71, 7, 40, 14, kEditStyle},
    {kIdPotentialEnergy, K::kEdit, "", 165, 7, 40, 14, kEditStyle},
    {kIdTotalEnergy, K::kEdit, "", 262, 7, 40, 14, kEditStyle},
    {kStaticId, K::kLabel, "Kinetic E.", 40, 10, 30, 8, kLabelStyle},
    {kStaticId, K::kLabel, "Potential E.", 123, 10, 38, 8, kLabelStyle},
    {kStaticId, K::kLabel, "Total E.", 230, 10, 26, 8, kLabelStyle},
    {kStaticId, K::kLabel, "Joint Angle:", 29, 28, 39, 8, kLabelStyle},
    {kIdJointAngle, K::kEdit, "", 72, 25, 338, 14, kEditStyle},
    {kStaticId, K::kLabel, "Joint Torque:", 29, 62, 44, 8, kLabelStyle},
    {kIdJointTorque, K::kEdit, "", 72, 59, 338, 14, kEditStyle},
    {kIdForward, K::kRadioButton, "Forward Dynamics", 316, 9, 75, 10, kRadioStyle},
    {kIdInverse, K::kRadioButton, "Inverse Dynamics", 396, 9, 73, 10, kRadioStyle},
    {kIdReset, K::kPushButton, "Reset", 421, 25, 50, 14, kButtonStyle},
    {kStaticId, K::kLabel, "Joint Accel.:", 29, 45, 40, 8, kLabelStyle},
    {kIdJointAccel, K::kEdit, "", 72, 42, 338, 14, kEditStyle},
    {kIdSetAccel, K::kPushButton, "Set Accel.", 421, 42, 50, 14, kButtonStyle},
    {kIdSetTorque, K::kPushButton, "Set Torque", 421, 59, 50, 14, kButtonStyle},
    {kStaticId, K::kLabel, "Viscous friction :", 485, 10, 53, 8, kLabelStyle},
    {kStaticId, K::kLabel, "Coulomb friction :", 481, 27, 57, 8, kLabelStyle},
    {kStaticId, K::kLabel, "Gravity :", 483, 44, 29, 8, kLabelStyle},
    {kIdViscousFriction, K::kEdit, "", 543, 7, 40, 14, kEditStyle},
    {kIdCoulombFriction, K::kEdit, "", 543, 25, 40, 14, kEditStyle},
    {kIdGravity, K::kEdit, "", 518, 42, 65, 14, kEditStyle},
    {kIdSet, K::kPushButton, "Set", 534, 59, 50, 14, kButtonStyle},
};

// Multiplies and divides with the product rounded to the nearest integer, halves away from zero.
int MulDivRounded(int value, int numerator, int denominator) {
  const int64_t product = static_cast<int64_t>(value) * numerator;
  const int64_t half = denominator / 2;
  const int64_t rounded =
      product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
  return static_cast<int>(rounded);
}

}  // namespace

const DialogTemplate kMainDialogTemplate = {
    102,
    "Velmoth",
    601,
    402,
    kStylePopup | kStyleVisible | kStyleCaption | kStyleSystemMenu | kStyleSizingBorder,
    kExStyleAppWindow,
    "MS Shell Dlg",
    8,
    kMainControls,
};

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
  if (id == kStaticId) {
    return nullptr;
  }
  for (const ControlTemplate& control : dialog.controls) {
    if (control.id == id) {
      return &control;
    }
  }
  return nullptr;
}

int GroupOf(const DialogTemplate& dialog, std::size_t index) {
  int group = 0;
  for (std::size_t i = 1; i <= index && i < dialog.controls.size(); ++i) {
    if (dialog.controls[i].style & kStyleGroup) {
      ++group;
    }
  }
  return group;
}

int DialogUnitsToPixelsX(int units, int averageCharWidth) {
  return MulDivRounded(units, averageCharWidth, 4);
}

int DialogUnitsToPixelsY(int units, int charHeight) {
  return MulDivRounded(units, charHeight, 8);
}

int AverageCharWidthOfAlphabet(int alphabetWidth) {
  return (alphabetWidth / 26 + 1) / 2;
}
