// The shared panel behaviour through the real Qt dialog: typing goes through key events into the
// line edits and clicks through mouse events on the buttons. The tick timer is stopped so that the
// test decides when a tick runs; the view paints between ticks. Needs a display (Xvfb in CI).
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSurfaceFormat>
#include <QTest>
#include <string>

#include <gtest/gtest.h>

#include "app/qt_dialog_window.h"
#include "tests/app/gl_driver_pin.h"
#include "tests/app/panel_test_suite.h"
#include "view/ogl_wnd.h"

namespace {

// One application for all tests; a view's OpenGL failure fails the test instead of showing a box.
struct QtApplication : ::testing::Environment {
  void SetUp() override {
    QSurfaceFormat::setDefaultFormat(COglWnd::SurfaceFormat());
    app = new QApplication(argc, argv);
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
