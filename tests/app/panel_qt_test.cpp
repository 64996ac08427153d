// The shared panel behaviour through the real Qt dialog: typing goes through key events into the
// line edits and clicks through mouse events on the buttons. The tick timer is stopped so that the
// test decides when a tick runs; the view paints between ticks. Needs a display (Xvfb in CI).
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <clocale>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/velmoth_app.h"
#include "app/windows/qt_dialog_window.h"
#include "tests/app/panel_test_suite.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd.h"

namespace {

// One application for all tests; a view's OpenGL failure fails the test instead of showing a box.
struct QtApplication : ::testing::Environment {
  void SetUp() override {
    app = new QApplication(argc, argv);
    SetUpApplication();
    COglWnd::SetMessageHook([](const QString& text) { ADD_FAILURE() << text.toStdString(); });
  }
  void TearDown() override {
    PinLoadedGlDrivers();
    delete app;
  }

  int argc = 1;
  char name[16] = "panel_qt_test";
  char* argv[2] = {name, nullptr};
  QApplication* app = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace

// Drives the real dialog as a user would.
class QtDriver {
 public:
  QtDriver() {
    window.InitDialog(dlg);
    window.KillTimer(kTickTimerId);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
  }
  ~QtDriver() { window.DestroyDialog(); }

  CVelmothDlg& Dlg() { return dlg; }

  void Type(int id, const std::string& text) {
    auto* edit = qobject_cast<QLineEdit*>(window.Control(id));
    ASSERT_TRUE(edit != nullptr && edit->isEnabled()) << id;
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromStdString(text));
  }
  void Click(int id) {
    auto* button = qobject_cast<QAbstractButton*>(window.Control(id));
    ASSERT_NE(button, nullptr) << id;
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
  }
  void Tick() {
    dlg.OnTimer(kTickTimerId);
    QCoreApplication::processEvents();
  }

  std::string Text(int id) {
    char text[2048];
    window.GetDlgItemText(id, text, sizeof text);
    return text;
  }
  bool Enabled(int id) { return window.Control(id)->isEnabled(); }
  bool Checked(int id) { return window.IsDlgButtonChecked(id) == kChecked; }
  void Uncheck(int id) { window.CheckDlgButton(id, kUnchecked); }

  QtDialogWindow window{kMainDialogTemplate};
  CVelmothDlg dlg{window};
};

namespace panel_test {
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, PanelTest, QtDriver);
}  // namespace panel_test

// The panel's texts are written and read with a period whatever the user's language. The test
// suite runs this program a second time under a decimal-comma language (VELMOTH_EXPECT_LANGUAGE
// names it), where the language must really be in force for everything but numbers.
TEST(QtPanel, NumbersKeepThePeriodInAnyLanguage) {
  const char* language = std::getenv("VELMOTH_EXPECT_LANGUAGE");
  if (language != nullptr) {
    ASSERT_EQ(std::string(std::setlocale(LC_MONETARY, nullptr)).rfind(language, 0), 0u)
        << "the language is not in force: is its locale generated?";
    ASSERT_STREQ(std::localeconv()->mon_decimal_point, ",");
  }
  EXPECT_STREQ(std::localeconv()->decimal_point, ".");
  QtDriver d;
  d.Type(kIdViscousFriction, "0.5");
  d.Type(kIdGravity, "1.5, 2, -3");
  d.Click(kIdSet);
  EXPECT_EQ(d.Dlg().m_pRobot->viscousFriction, 0.5);
  EXPECT_EQ(panel_test::Column(d.Dlg().m_pRobot->gravity), (panel_test::Vec{1.5, 2.0, -3.0}));
}
