// dialog_bench: runs the real main dialog (panel, tick timer and 3-D view) for a while and reports
// how well the simulation keeps pace with the wall clock: ticks per second of wall-clock time as a
// real-time factor (1.0 = one simulated second per second), the tick-to-tick interval, the cost of
// one tick and the cost of painting. Needs a display; under Xvfb the view draws with Mesa's
// software renderer.
//
//   dialog_bench [--seconds S] [--torque TEXT] [--screenshot FILE.png] [--without-view]
//
// --without-view runs the panel alone (as when OpenGL is missing), which shows how the tick timer
// keeps pace when painting costs next to nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QSurfaceFormat>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/dialog_template.h"
#include "app/qt_dialog_window.h"
#include "app/velmoth_dlg.h"
#include "dynamics/dynamics.h"
#include "tests/app/gl_driver_pin.h"
#include "view/ogl_wnd.h"

namespace {

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

void Report(const char* what, const std::vector<double>& ms) {
  std::printf("%-34s median %7.3f ms   p99 %7.3f ms   max %7.3f ms   (%zu samples)\n", what,
              Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0), ms.size());
}

// The dialog with every tick timed.
class TimedDlg : public CVelmothDlg {
 public:
  TimedDlg(WindowSystem& window, const QElapsedTimer& clock) : CVelmothDlg(window), clock_(clock) {}

  void OnTimer(unsigned id) override {
    const qint64 start = clock_.nsecsElapsed();
    if (lastStart_ >= 0) {
      intervals.push_back(static_cast<double>(start - lastStart_) * 1e-6);
    }
    lastStart_ = start;
    CVelmothDlg::OnTimer(id);
    costs.push_back(static_cast<double>(clock_.nsecsElapsed() - start) * 1e-6);
  }

  std::vector<double> intervals;  // ms between the starts of two ticks
  std::vector<double> costs;      // ms one tick takes, view invalidation included

 private:
  const QElapsedTimer& clock_;
  qint64 lastStart_ = -1;
};

// Times the view's paints (its OpenGL drawing) and the window's repaints (every dirty widget,
// the composition of the view into the window and the flush to the screen).
class BenchApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    const bool viewPaint = event->type() == QEvent::Paint && receiver == view;
    const bool windowRepaint = event->type() == QEvent::UpdateRequest && receiver == window;
    if (!viewPaint && !windowRepaint) {
      return QApplication::notify(receiver, event);
    }
    QElapsedTimer timer;
    timer.start();
    const bool result = QApplication::notify(receiver, event);
    (viewPaint ? viewPaints : windowRepaints)
        .push_back(static_cast<double>(timer.nsecsElapsed()) * 1e-6);
    return result;
  }

  QObject* view = nullptr;
  QObject* window = nullptr;
  std::vector<double> viewPaints;
  std::vector<double> windowRepaints;
};

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10.0;
  std::string torque;
  std::string screenshot;
  bool withoutView = false;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--torque") == 0 && hasValue) {
      torque = argv[++i];
    } else if (std::strcmp(argv[i], "--screenshot") == 0 && hasValue) {
      screenshot = argv[++i];
    } else if (std::strcmp(argv[i], "--without-view") == 0) {
      withoutView = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--seconds S] [--torque TEXT] [--screenshot FILE.png] "
                   "[--without-view]\n",
                   argv[0]);
      return 2;
    }
  }
  if (!(seconds > 0.0)) {
    std::fprintf(stderr, "dialog_bench: --seconds expects a positive number\n");
    return 2;
  }

  const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
  if ((platform.isEmpty() || platform.startsWith(QLatin1String("xcb"))) &&
      qEnvironmentVariableIsEmpty("DISPLAY")) {
    // Not a failure of the program measured: there is nothing to show the window on.
    std::printf("dialog_bench: skipped, no display (run it under xvfb-run)\n");
    return 0;
  }

  QSurfaceFormat::setDefaultFormat(COglWnd::SurfaceFormat());
  BenchApplication app(argc, argv);
  QElapsedTimer clock;
  clock.start();
  QtDialogWindow window(kMainDialogTemplate);
  TimedDlg dlg(window, clock);
  if (withoutView) {
    COglWnd::SetMessageHook([](const QString&) {});
    COglWnd::SetFaultHook([](COglWnd::GlStep) { return true; });
  }
  window.InitDialog(dlg);
  if (dlg.m_pView == nullptr && !withoutView) {
    std::fprintf(stderr, "dialog_bench: the 3-D view could not be made (no usable OpenGL)\n");
    return 1;
  }
  app.view = window.ViewWidget();  // null without the view
  app.window = &window;
  if (!torque.empty()) {
    window.SetDlgItemText(kIdJointTorque, torque.c_str());
    dlg.OnBnClickedSetTorque();
  }
  window.show();

  // Measure after the window has appeared and settled.
  qint64 startNs = 0;
  double wall = 0.0;
  std::size_t ticks = 0;
  bool screenshotSaved = false;
  QTimer::singleShot(500, [&] {
    dlg.intervals.clear();
    dlg.costs.clear();
    app.viewPaints.clear();
    app.windowRepaints.clear();
    startNs = clock.nsecsElapsed();
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), Qt::PreciseTimer, &app, [&] {
      wall = static_cast<double>(clock.nsecsElapsed() - startNs) * 1e-9;
      ticks = dlg.costs.size();
      if (!screenshot.empty()) {
        // What the screen shows in the window's place.
        const QRect area = window.geometry();
        const QPixmap shot = window.screen()->grabWindow(0).copy(area);
        screenshotSaved = shot.save(QString::fromStdString(screenshot));
      }
      QApplication::quit();
    });
  });
  QApplication::exec();
  dlg.intervals.resize(std::min(dlg.intervals.size(), ticks));
  dlg.costs.resize(ticks);
  const double factor = static_cast<double>(ticks) * kTimeStep / wall;
  const QSize view = app.view != nullptr ? window.ViewWidget()->size() : QSize(0, 0);
  std::printf("dialog_bench: %.2f s of wall-clock time, platform %s, window %dx%d, view %dx%d\n",
              wall, qPrintable(QGuiApplication::platformName()), window.width(), window.height(),
              view.width(), view.height());
  std::printf("ticks: %zu, %.1f per second; real-time factor %.4f\n", ticks,
              static_cast<double>(ticks) / wall, factor);
  Report("tick-to-tick interval", dlg.intervals);
  Report("tick (dynamics, panel, invalidate)", dlg.costs);
  Report("view paint (OpenGL drawing)", app.viewPaints);
  Report("window repaint (compose and flush)", app.windowRepaints);

  if (!screenshot.empty()) {
    if (!screenshotSaved) {
      std::fprintf(stderr, "dialog_bench: cannot write %s\n", screenshot.c_str());
      return 1;
    }
    std::printf("screenshot: %s\n", screenshot.c_str());
  }
  window.DestroyDialog();
  PinLoadedGlDrivers();  // keeps the sanitizer build's leak check able to see the driver's memory
  return 0;
}
