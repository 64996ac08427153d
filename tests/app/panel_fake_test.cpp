// The panel through the fake window system: the shared panel behaviour, and what only the fake
// lets a test see (the view's rectangle, the timer, the icon, the order of destruction).
#include <string>

#include <gtest/gtest.h>

#include "tests/app/fake_window_system.h"
#include "tests/app/panel_test_suite.h"

// Drives the dialog through the fake window system.
class FakeDriver {
 public:
  FakeDriver() { window.Create(dlg); }
  ~FakeDriver() { window.Destroy(); }

  CVelmothDlg& Dlg() { return dlg; }
  void Type(int id, const std::string& text) { ASSERT_TRUE(window.Type(id, text)) << id; }
  void Click(int id) { window.Click(id); }
  std::string Text(int id) { return window.ControlAt(id).text; }
  bool Enabled(int id) { return window.ControlAt(id).enabled; }
  bool Checked(int id) { return window.ControlAt(id).check == kChecked; }
  void Uncheck(int id) { window.CheckDlgButton(id, kUnchecked); }
  void Tick() { window.Tick(); }

  FakeWindowSystem window{kMainDialogTemplate};
  CVelmothDlg dlg{window};
};

namespace panel_test {
INSTANTIATE_TYPED_TEST_SUITE_P(Fake, PanelTest, FakeDriver);
}  // namespace panel_test

namespace {

TEST(MainDialogTemplate, HasTheControlsOfThePanel) {
  const DialogTemplate& t = kMainDialogTemplate;
  EXPECT_TRUE(t.style & kStyleSizingBorder);
  EXPECT_FALSE(t.style & (kStyleMinimizeBox | kStyleMaximizeBox));
  ASSERT_EQ(t.controls.size(), 24u);
  int addressed = 0;
  for (const ControlTemplate& c : t.controls) {
    addressed += c.id != kStaticId;
    EXPECT_EQ(c.kind == ControlKind::kLabel, c.id == kStaticId);
    // Edits and push buttons take the focus with Tab; radio buttons and labels do not.
    const bool tabStop = c.kind == ControlKind::kEdit || c.kind == ControlKind::kPushButton;
    EXPECT_EQ((c.style & kStyleTabStop) != 0, tabStop) << c.caption;
  }
  EXPECT_EQ(addressed, 15);
  EXPECT_EQ(FindControl(t, kIdSet)->y, 59);
  EXPECT_EQ(FindControl(t, 999), nullptr);
}

TEST(MainDialogTemplate, BothRadioButtonsFormOneGroupOfTheirOwn) {
  const DialogTemplate& t = kMainDialogTemplate;
  std::size_t forward = 0, inverse = 0, torqueLabel = 0, accelLabel = 0;
  for (std::size_t i = 0; i < t.controls.size(); ++i) {
    const std::string caption = t.controls[i].caption;
    forward = t.controls[i].id == kIdForward ? i : forward;
    inverse = t.controls[i].id == kIdInverse ? i : inverse;
    torqueLabel = caption == "Joint Torque:" ? i : torqueLabel;
    accelLabel = caption == "Joint Accel.:" ? i : accelLabel;
  }
  EXPECT_EQ(GroupOf(t, forward), GroupOf(t, inverse));
  EXPECT_EQ(GroupOf(t, forward), GroupOf(t, torqueLabel));
  EXPECT_NE(GroupOf(t, inverse), GroupOf(t, accelLabel));
}

TEST(DialogUnits, MapThroughTheFontsMetricsRoundingHalvesAway) {
  struct Case {
    int units, base, x, y;
  };
  for (const Case c : {Case{601, 6, 902, 451}, Case{402, 13, 1307, 653}, Case{14, 13, 46, 23},
                       Case{0, 7, 0, 0}, Case{-3, 6, -5, -2}}) {
    EXPECT_EQ(DialogUnitsToPixelsX(c.units, c.base), c.x) << c.units << " " << c.base;
    EXPECT_EQ(DialogUnitsToPixelsY(c.units, c.base), c.y) << c.units << " " << c.base;
  }
  // The letters of an 8-point sans-serif font: 52 letters 312 pixels wide average 6 pixels.
  EXPECT_EQ(AverageCharWidthOfAlphabet(312), 6);
  EXPECT_EQ(AverageCharWidthOfAlphabet(337), 6);
  EXPECT_EQ(AverageCharWidthOfAlphabet(338), 7);
}

TEST(FakePanel, StartUpSetsIconsTimerAndTheViewBelowThePanel) {
  FakeWindowSystem window(kMainDialogTemplate, 800, 600);
  CVelmothDlg dlg(window);
  EXPECT_EQ(dlg.m_pRobot, nullptr);
  EXPECT_EQ(dlg.m_accel.RowCount(), 3u);
  window.Create(dlg);
  EXPECT_EQ(window.bigIcon, IconHandle{kAppIconId});
  EXPECT_EQ(window.smallIcon, IconHandle{kAppIconId});
  EXPECT_EQ(dlg.OnQueryDragIcon(), IconHandle{kAppIconId});
  EXPECT_EQ(window.timers, (std::map<unsigned, unsigned>{{1000u, 10u}}));
  ASSERT_NE(window.View(), nullptr);
  EXPECT_EQ(window.View(), dlg.m_pView);
  const PixelRect r = window.View()->rect;
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}),
            (std::vector<int>{0, 130, 800, 600}));
  EXPECT_EQ(dlg.m_pRobot->links.size(), 6u);
  EXPECT_EQ(dlg.m_pRobot->kineticEnergy, 0.0);
  window.Destroy();
}

TEST(FakePanel, TheViewFillsTheClientAreaBelowThePanelAtAnySize) {
  FakeDriver d;
  struct Case {
    int width, height, viewHeight;
  };
  for (const Case c : {Case{1200, 900, 770}, Case{300, 131, 1}, Case{300, 130, 0}, Case{10, 40, 0},
                       Case{0, 0, 0}}) {
    d.window.Resize(c.width, c.height);
    const PixelRect r = d.window.View()->rect;
    EXPECT_EQ((std::vector<int>{r.left, r.top, r.Width(), r.Height()}),
              (std::vector<int>{0, 130, c.width, c.viewHeight}))
        << c.width << "x" << c.height;
  }
}

TEST(FakePanel, ADialogShorterThanThePanelStartsWithAnEmptyView) {
  FakeWindowSystem window(kMainDialogTemplate, 200, 100);
  CVelmothDlg dlg(window);
  window.Create(dlg);
  EXPECT_EQ(window.View()->rect.Height(), 0);
  window.Destroy();
}

TEST(FakePanel, EveryTickRepaintsTheViewWhateverItsTimerId) {
  FakeDriver d;
  d.window.Tick();
  d.dlg.OnTimer(7);
  EXPECT_EQ(d.window.View()->invalidations, 2);
  const std::string angles = d.Text(kIdJointAngle);
  EXPECT_NE(angles, VectorText(matrix<double>(6)));  // the arm has begun to fall
}

TEST(FakePanel, DestructionDeletesTheViewBeforeTheRobotAndEndsAllMessages) {
  FakeDriver d;
  d.window.Destroy();  // the fake view reads its robot while it is deleted
  EXPECT_EQ(d.window.viewsDeleted, 1);
  EXPECT_EQ(d.dlg.m_pView, nullptr);
  EXPECT_EQ(d.dlg.m_pRobot, nullptr);
  // Messages that still come through find nothing to act on.
  EXPECT_TRUE(d.dlg.OnCommand(kIdReset));
  EXPECT_FALSE(d.dlg.OnCommand(kHelpCommandId));
  d.dlg.OnTimer(kTickTimerId);
  d.dlg.OnSize(kSizeRestored, 100, 400);
}

TEST(FakePanel, ADialogDestroyedWithoutItsWindowStillFreesViewAndRobot) {
  FakeWindowSystem window(kMainDialogTemplate);
  {
    CVelmothDlg dlg(window);
    dlg.OnInitDialog();
  }
  EXPECT_EQ(window.viewsCreated, 1);
  EXPECT_EQ(window.viewsDeleted, 1);
}

}  // namespace
