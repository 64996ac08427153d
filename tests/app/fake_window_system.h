// A window system without a display: every control of a dialog template is a record of its text,
// check state and enabled state, timers tick only when the test says so, and the view is a record
// of its size and repaint requests. User actions (typing, clicking, resizing) go through the same
// rules as on screen: a disabled control takes no input, an automatic radio button checks itself
// and clears the others of its template group before its click reaches the dialog.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/dialog_template.h"
#include "app/window_system.h"

class FakeWindowSystem;

class FakeView : public ViewWindow {
 public:
  FakeView(FakeWindowSystem& owner, Robot* robot, const PixelRect& rect);
  ~FakeView() override;

  void Invalidate() override { ++invalidations; }
  void SetSize(int width, int height) override;

  PixelRect rect;
  int invalidations = 0;

 private:
  FakeWindowSystem& owner_;
  Robot* robot_;
};

class FakeWindowSystem : public WindowSystem {
 public:
  struct Control {
    ControlKind kind;
    int group;
    std::string text;
    bool enabled = true;
    unsigned check = kUnchecked;
  };

  explicit FakeWindowSystem(const DialogTemplate& dialog, int clientWidth = 900,
                            int clientHeight = 650);

  // The dialog's life: initialisation, messages, destruction.
  void Create(DialogMessages& messages);
  void Destroy();

  // User actions.
  bool Type(int id, const std::string& text);  // false when the control takes no input
  void Click(int id);
  void Resize(int width, int height, unsigned type = kSizeRestored);
  void Tick();  // one tick of every running timer

  const Control& ControlAt(int id) const;
  FakeView* View() const { return view_; }

  // WindowSystem
  void SetDlgItemText(int id, const char* text) override;
  int GetDlgItemText(int id, char* buffer, int size) const override;
  unsigned IsDlgButtonChecked(int id) const override;
  void CheckDlgButton(int id, unsigned check) override;
  void EnableDlgItem(int id, bool enable) override;
  void SetTimer(unsigned id, unsigned periodMs) override;
  PixelRect GetClientRect() const override { return {0, 0, clientWidth_, clientHeight_}; }
  ViewWindow* CreateView(Robot* robot, const PixelRect& rect) override;
  void MessageBox(const char* text) override { messageBoxes.emplace_back(text); }
  IconHandle LoadIcon(int resourceId) override;
  void SetIcon(IconHandle icon, bool big) override;
  bool IsIconic() const override { return false; }
  int IconSize() const override { return 32; }
  void DrawIcon(IconHandle, int, int) override {}

  std::map<unsigned, unsigned> timers;  // identifier -> period in ms
  std::vector<std::string> messageBoxes;
  IconHandle bigIcon = 0;
  IconHandle smallIcon = 0;
  int viewsCreated = 0;
  int viewsDeleted = 0;

 private:
  friend class FakeView;
  Control& Find(int id);

  std::map<int, Control> controls_;
  int clientWidth_;
  int clientHeight_;
  DialogMessages* messages_ = nullptr;
  FakeView* view_ = nullptr;
};
