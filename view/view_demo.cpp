// velmoth-view-demo: the 3-D view with the built-in arm in a window of its own, repainted every
// 10 ms as the simulator does. With --sway the joints swing slowly, so that the redraw can be
// watched; otherwise the arm lies at rest along +y. The mouse turns, pans and zooms the view.
// With --screenshot FILE the window, as the X server shows it, is saved to FILE after a second and
// the program ends.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <cmath>

#include "robot/robot.h"
#include "view/ogl_wnd_custom.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QStringLiteral("Velmoth view"));
  const QStringList args = QApplication::arguments();
  const bool sway = args.contains(QStringLiteral("--sway"));
  const qsizetype shot = args.indexOf(QStringLiteral("--screenshot"));
  const QString shotFile = shot >= 0 && shot + 1 < args.size() ? args[shot + 1] : QString();
  if (!COglWnd::CheckGlPlatform()) {
    return 1;
  }

  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  COglWndCustom view(robot.get());
  view.resize(1000, 650);
  view.show();

  double t = 0.0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (sway) {
      t += 0.01;
      for (std::size_t i = 0; i < robot->links.size(); ++i) {
        robot->links[i]->q = 0.4 * std::sin(t + 0.5 * static_cast<double>(i));
      }
    }
    view.update();
  });
  tick.start(10);
  if (!shotFile.isEmpty()) {
    QTimer::singleShot(1000, [&] {
      view.screen()->grabWindow(view.winId()).save(shotFile);
      QApplication::quit();
    });
  }
  return QApplication::exec();
}
