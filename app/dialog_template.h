// Dialog templates as data: the controls of a dialog with their identifiers, kinds, captions,
// positions in dialog units, styles and tab order (the order of the list). The Qt layer builds its
// widgets from a template and the fake layer of the tests its controls, so both agree on every
// identifier and on which radio buttons form one group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Style bits of a control or dialog.
inline constexpr uint32_t kStyleTabStop = 0x00010000;     // Tab moves the focus to it
inline constexpr uint32_t kStyleGroup = 0x00020000;       // starts a group of controls
inline constexpr uint32_t kStyleBorder = 0x00800000;      // framed edit
inline constexpr uint32_t kStyleAutoScroll = 0x00000080;  // edit scrolls its text sideways
inline constexpr uint32_t kStyleChild = 0x40000000;
inline constexpr uint32_t kStyleVisible = 0x10000000;
inline constexpr uint32_t kStylePopup = 0x80000000;
inline constexpr uint32_t kStyleCaption = 0x00C00000;
inline constexpr uint32_t kStyleSystemMenu = 0x00080000;
inline constexpr uint32_t kStyleSizingBorder = 0x00040000;
inline constexpr uint32_t kStyleMinimizeBox = 0x00020000;  // dialogs only
inline constexpr uint32_t kStyleMaximizeBox = 0x00010000;  // dialogs only
inline constexpr uint32_t kExStyleAppWindow = 0x00040000;  // shown in the task bar

// Identifier of a control that is never addressed (the labels).
inline constexpr int kStaticId = -1;

enum class ControlKind { kEdit, kLabel, kRadioButton, kPushButton };

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* caption;
  int x, y, width, height;  // dialog units
  uint32_t style;
};

struct DialogTemplate {
  int resourceId;
  const char* caption;
  int width, height;  // dialog units, the client area
  uint32_t style;
  uint32_t exStyle;
  const char* fontName;
  int fontPointSize;
  std::span<const ControlTemplate> controls;  // template order = tab order
};

// The main dialog's controls.
inline constexpr int kIdKineticEnergy = 1000;
inline constexpr int kIdPotentialEnergy = 1001;
inline constexpr int kIdTotalEnergy = 1002;
inline constexpr int kIdJointAngle = 1003;
inline constexpr int kIdJointTorque = 1004;
inline constexpr int kIdForward = 1005;
inline constexpr int kIdInverse = 1006;
inline constexpr int kIdReset = 1007;
inline constexpr int kIdJointAccel = 1008;
inline constexpr int kIdSetAccel = 1009;
inline constexpr int kIdSetTorque = 1010;
inline constexpr int kIdViscousFriction = 1011;
inline constexpr int kIdCoulombFriction = 1012;
inline constexpr int kIdGravity = 1013;
inline constexpr int kIdSet = 1014;

// The main dialog, resource 102: "Velmoth", 601 x 402 dialog units, resizable, 24 controls.
extern const DialogTemplate kMainDialogTemplate;

// The template's control with this identifier, null when there is none.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);

// The group of every control, by template position: a group starts at a control with
// kStyleGroup (the first control always starts one) and runs to the next such control. Returns the
// group index of the control at position index.
int GroupOf(const DialogTemplate& dialog, std::size_t index);

// Dialog units to pixels: horizontal units are a quarter of the font's average character width,
// vertical units an eighth of its character height; each product is rounded to the nearest pixel,
// halves away from zero.
int DialogUnitsToPixelsX(int units, int averageCharWidth);
int DialogUnitsToPixelsY(int units, int charHeight);

// The average character width of a font as dialog units measure it, from the width in pixels of
// the 52 letters A-Z and a-z written in a row.
int AverageCharWidthOfAlphabet(int alphabetWidth);
