// The panel through a window system without a display: each control is its text and enabled state,
// the timer ticks when the test calls Tick, and the view keeps its first rectangle and counts its
// repaints. Runs the shared panel behaviour and what only this layer lets a test see.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/window_system.h"
#include "tests/app/panel_test_suite.h"

struct FakeDriver : WindowSystem {
  struct Control {
    std::string text;
    bool enabled = true;
  };

  // Like the real view, this one reads its robot until it is gone: a robot deleted first is a use
  // after free, which the sanitizer build reports right here.
  struct View : ViewWindow {
    View(FakeDriver& owner, Robot* robot, const PixelRect& rect)
        : owner(owner), robot(robot), rect(rect) {}
    ~View() override { owner.linksSeenByTheDeletedView = robot->links.size(); }
    void Invalidate() override { ++repaints; }
    void SetSize(int /*width*/, int /*height*/) override {}  // resizing is the Qt tests' part

    FakeDriver& owner;
    Robot* robot;
    PixelRect rect;
    int repaints = 0;
  };

  // Initialises the dialog; its end is up to the test, else the dialog's own destructor.
  explicit FakeDriver(int width = 900, int height = 650)
      : clientWidth(width), clientHeight(height) {
    for (const ControlTemplate& c : kMainDialogTemplate.controls) {
      controls[c.id].text = c.caption;
    }
    dlg.OnInitDialog();
  }

  CVelmothDlg& Dlg() { return dlg; }
  View& TheView() { return *static_cast<View*>(dlg.m_pView); }
  void Type(int id, const std::string& text) {
    ASSERT_TRUE(FindControl(kMainDialogTemplate, id)->kind == ControlKind::kEdit && Enabled(id));
    controls.at(id).text = text;
  }
  // A radio button checks itself, and so clears the other one of its group, before its click.
  void Click(int id) {
    if (FindControl(kMainDialogTemplate, id)->kind == ControlKind::kRadioButton) {
      checkedRadio = id;
    }
    dlg.OnCommand(id);
  }
  void Tick() {
    for (unsigned id : timers) {
      dlg.OnTimer(id);
    }
  }
  std::string Text(int id) const { return controls.at(id).text; }
  bool Enabled(int id) const { return controls.at(id).enabled; }
  bool Checked(int id) const { return checkedRadio == id; }
  void Uncheck(int id) { CheckDlgButton(id, kUnchecked); }

  // WindowSystem, for the template's identifiers only.
  void SetDlgItemText(int id, const char* text) override { controls.at(id).text = text; }
  int GetDlgItemText(int id, char* buffer, int size) const override {
    const std::string& text = controls.at(id).text;
    std::snprintf(buffer, static_cast<std::size_t>(std::max(size, 0)), "%s", text.c_str());
    return std::min(static_cast<int>(text.size()), std::max(size - 1, 0));
  }
  unsigned IsDlgButtonChecked(int id) const override { return Checked(id) ? kChecked : 0; }
  void CheckDlgButton(int id, unsigned check) override {
    checkedRadio = check == kChecked ? id : (checkedRadio == id ? 0 : checkedRadio);
  }
  void EnableDlgItem(int id, bool enable) override { controls.at(id).enabled = enable; }
  void SetTimer(unsigned id, unsigned /*periodMs*/) override { timers.insert(id); }
  PixelRect GetClientRect() const override { return {0, 0, clientWidth, clientHeight}; }
  ViewWindow* CreateView(Robot* robot, const PixelRect& rect) override {
    return new View(*this, robot, rect);
  }
  void MessageBox(const char* text) override { ADD_FAILURE() << "message box: " << text; }
  IconHandle LoadIcon(int /*resourceId*/) override { return 0; }
  void SetIcon(IconHandle /*icon*/, bool /*big*/) override {}
  bool IsIconic() const override { return false; }
  int IconSize() const override { return 32; }
  void DrawIcon(IconHandle /*icon*/, int /*x*/, int /*y*/) override {}

  std::size_t linksSeenByTheDeletedView = 0;
  std::map<int, Control> controls;  // the labels share one entry
  std::set<unsigned> timers;
  int checkedRadio = 0;  // the checked radio button, 0 for none
  int clientWidth;
  int clientHeight;
  CVelmothDlg dlg{*this};  // last, so that it goes first
};

namespace panel_test {
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, PanelTest, FakeDriver);
}  // namespace panel_test

namespace {

// Every tick repaints the view; the end deletes the view before the robot, and messages that still
// arrive afterwards find nothing to act on.
TEST(FakePanel, TicksRepaintTheViewAndTheEndDeletesItBeforeTheRobot) {
  FakeDriver d;
  d.Tick();
  d.Tick();
  EXPECT_EQ(d.TheView().repaints, 2);
  d.dlg.OnDestroy();
  EXPECT_EQ(d.linksSeenByTheDeletedView, 6u);
  EXPECT_EQ(d.dlg.m_pView, nullptr);
  EXPECT_EQ(d.dlg.m_pRobot, nullptr);
  EXPECT_TRUE(d.dlg.OnCommand(kIdReset));
  d.dlg.OnTimer(kTickTimerId);
  d.dlg.OnSize(kSizeRestored, 100, 400);
}

// The view takes the client area under the panel, without height when the dialog is shorter.
TEST(FakePanel, TheViewStartsUnderThePanelNeverWithANegativeHeight) {
  for (const int height : {650, 131, 130, 100, 0}) {
    const PixelRect r = FakeDriver(500, height).TheView().rect;
    EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}),
              (std::vector<int>{0, 130, 500, std::max(height, 130)}));
  }
}

}  // namespace
