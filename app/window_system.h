// The window-system layer: the few services of the desktop toolkit that the control panel's logic
// relies on, as an interface of our own. CVelmothDlg is written against it only, so its behaviour
// can be driven without a display through a fake (tests/app) and, unchanged, through the real Qt
// dialog (QtDialogWindow).
//
// Controls are addressed by their identifiers in the dialog template (dialog_template.h). Text is
// 8-bit: every character of a control is one byte.
#pragma once

#include <cstdint>

struct Robot;

// Where a child window lies in its parent's client area, in pixels.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// An application icon loaded by the layer; 0 is no icon.
using IconHandle = std::uintptr_t;

// The 3-D view window as the dialog sees it. Deleting it destroys the window and releases what the
// view holds (its OpenGL context included).
class ViewWindow {
 public:
  virtual ~ViewWindow() = default;

  // Asks for one repaint of the whole view, without erasing the background first.
  virtual void Invalidate() = 0;

  // New size in pixels; the window keeps its top-left corner.
  virtual void SetSize(int width, int height) = 0;
};

// Check states of a radio button.
inline constexpr unsigned kUnchecked = 0;
inline constexpr unsigned kChecked = 1;

// Size types that come with a resize of the dialog.
inline constexpr unsigned kSizeRestored = 0;
inline constexpr unsigned kSizeMinimized = 1;
inline constexpr unsigned kSizeMaximized = 2;

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Replaces the whole text of a control.
  virtual void SetDlgItemText(int id, const char* text) = 0;

  // Copies at most size - 1 characters of the control's text into buffer and terminates them
  // (nothing is written when size is 0). Returns the number of characters copied; an unknown
  // identifier reads as empty text.
  virtual int GetDlgItemText(int id, char* buffer, int size) const = 0;

  // kChecked for a checked radio button, kUnchecked otherwise.
  virtual unsigned IsDlgButtonChecked(int id) const = 0;

  // kChecked checks the button and unchecks the others of its group; kUnchecked clears it.
  virtual void CheckDlgButton(int id, unsigned check) = 0;

  // A disabled control takes no input but still shows its text.
  virtual void EnableDlgItem(int id, bool enable) = 0;

  // Starts (or restarts) a periodic timer whose ticks reach the dialog's OnTimer with this
  // identifier, on the user-interface thread, one at a time. The timer keeps pace with the wall
  // clock: periods that fell due while the thread was busy are delivered late, back to back, up
  // to a cap; only beyond it are they dropped.
  virtual void SetTimer(unsigned id, unsigned periodMs) = 0;

  // Asks for OnAppMessage(id) on the user-interface thread once the messages before it are
  // handled. Safe to call from any thread; a message that arrives after the dialog ended is lost.
  virtual void PostAppMessage(unsigned id) = 0;

  // The dialog's client area: left and top are 0.
  virtual PixelRect GetClientRect() const = 0;

  // Creates the 3-D view of the robot as a visible child window at rect. The view holds the
  // pointer without owning it; the caller owns the returned window and must delete it before the
  // robot. Returns null when the window cannot be made.
  virtual ViewWindow* CreateView(Robot* robot, const PixelRect& rect) = 0;

  // Shows a modal OK message box and returns when it is dismissed. Its text is in the user's
  // encoding (it may name files and quote the system's messages).
  virtual void MessageBox(const char* text) = 0;

  // The application icon with the given resource identifier, 0 when there is none.
  virtual IconHandle LoadIcon(int resourceId) = 0;

  // Sets the dialog's large (caption, task switcher) or small (task bar) icon.
  virtual void SetIcon(IconHandle icon, bool big) = 0;

  // Whether the dialog is minimised.
  virtual bool IsIconic() const = 0;

  // Edge length in pixels of a standard icon.
  virtual int IconSize() const = 0;

  // Draws the icon with its top-left corner at (x, y) of the client area; only while the dialog
  // handles a paint.
  virtual void DrawIcon(IconHandle icon, int x, int y) = 0;
};

// The messages a dialog answers. The layer delivers them one at a time on the user-interface
// thread; a command is a click on the button with that identifier.
class DialogMessages {
 public:
  virtual ~DialogMessages() = default;

  // The controls exist; returns true when the layer should give the focus to the first control
  // with a tab stop.
  virtual bool OnInitDialog() = 0;
  virtual void OnTimer(unsigned id) = 0;
  // Whether the timer's due periods may be delivered now. False: the dialog is still busy with
  // earlier ones, so the periods are not owed (the run slows down) and the timer asks again a
  // period later.
  virtual bool WantsTimer(unsigned /*id*/) { return true; }
  // A message the dialog posted to itself (PostAppMessage).
  virtual void OnAppMessage(unsigned /*id*/) {}
  virtual void OnSize(unsigned type, int width, int height) = 0;
  virtual void OnPaint() = 0;
  virtual void OnDestroy() = 0;

  // Returns true when the dialog has a handler for the command.
  virtual bool OnCommand(int id) = 0;
};
