// dialog_bench: runs the real main window (panel, 3-D view, status strip and tick timer) for a
// while and reports how well the simulation keeps pace with the wall clock: simulated seconds per
// second of wall-clock time as a real-time factor (1.0 = real time), the simulated time dropped as
// slip, the frame rate of the view, the tick-to-tick interval, and what showing the ticks done, the
// view's paints and the window's repaints cost. Needs a display; under Xvfb the view draws with
// Mesa's software renderer.
//
//   dialog_bench [--seconds S] [--load N] [--plots] [--urdf FILE | --links N]
//                [--package-path DIR]... [--figure] [--substeps N] [--engine NAME]
//                [--integrator NAME] [--q0 TEXT] [--viscous X] [--torque TEXT] [--fit] [--framing]
//                [--screenshot FILE.png] [--picture FOLDER] [--without-view] [--keys]
//                [--sigterm N] [--record FILE] [--settle S] [--drag] [--controller NAME ...]
//
// --controller and the other options of a controller (--control-rate, --target, --trajectory,
// --duration, --kp, ..., as velmoth's and velmoth-sim's) run the arm under that controller from
// the start, with the control lab shown as the window shows it then.
// --load N keeps N busy processes running for the duration, as other programs on the machine
// would. --plots opens the live plots beside the window. --urdf, --package-path, --q0 and
// --viscous choose the arm and its start as velmoth's options do, and the time taken to read the
// file's shapes and meshes is reported; --figure draws the arm as its figure instead of its shapes;
// --fit fits the arm into the view. --framing reports, at the end, how the camera then frames the
// arm as drawn (whether it is wholly in the view, its projected height against the view's
// smaller side, the eye's height), and again after Fit. --without-view runs the panel alone (as
// when OpenGL is missing). At the end, --screenshot saves what the screen shows of the window (and
// of the plots, when open), and --picture saves the view's own picture into FOLDER as the window's
// Screenshot button does.
//
// --links, --substeps, --engine and --integrator choose the built-in arm's length and the step as
// velmoth's options do. Throughout, a probe timer due every 50 ms measures how late the window's
// thread answers it: the longest a key or a click would have waited. --keys then presses F5 twenty
// times (pause, resume, ...), F11 and finally Escape, each at a precise moment, and reports how
// long each took to take effect from that moment. --sigterm N instead starts the velmoth program
// (from the bench's own folder) N times with the same arm, sends it SIGTERM two seconds after it
// started and reports how long it took to end. --record FILE records every tick into FILE from
// the start. The measured run starts once the window has run for --settle S seconds (0.5 by
// default); the process's resident memory and the heap in use are reported at its start, every
// minute and at its end (the bench's own lists of samples are made full size before it starts, so
// that they do not count). --drag pulls the arm with the mouse throughout the measured run: Ctrl
// and the left button pressed on the arm's outermost link that shows, then the cursor moved round a
// circle of 60 pixels every 16 ms (a hand that never rests), released at the end.
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMatrix4x4>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVector3D>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/velmoth_app.h"
#include "app/windows/main_window.h"
#include "dynamics/dynamics.h"
#include "simulation/control_options.h"
#include "urdf/urdf_loader.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd_custom.h"
#include "visuals/arm_extent.h"
#include "visuals/arm_pick.h"
#include "visuals/urdf_visuals.h"

namespace {

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

// The heap's bytes in use in MiB (what malloc has handed out and not had back, in every arena).
double HeapMiB() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd) / 1048576.0;
}

// Makes room for count samples and touches it, so that filling it later does not grow the process.
template <typename T>
void MakeRoom(std::vector<T>& samples, std::size_t count) {
  samples.resize(count);
  samples.clear();
}

// The process's resident memory in MiB.
double ResidentMiB() {
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm != nullptr) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
      resident = 0;
    }
    std::fclose(statm);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

void Report(const char* what, const std::vector<double>& ms) {
  std::printf("%-36s median %7.3f ms   p99 %7.3f ms   max %7.3f ms   (%zu samples)\n", what,
              Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0), ms.size());
}

// Starts n processes that keep a core busy until they are killed (or the bench ends).
std::vector<pid_t> StartLoad(int n) {
  std::vector<pid_t> children;
  for (int i = 0; i < n; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      volatile unsigned long spin = 0;
      for (;;) {
        spin = spin + 1;
      }
    }
    if (pid > 0) {
      children.push_back(pid);
    }
  }
  return children;
}

void StopLoad(const std::vector<pid_t>& children) {
  for (pid_t pid : children) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

// Notes when every tick ends.
class TickTimes : public TickListener {
 public:
  explicit TickTimes(const QElapsedTimer& clock) : clock_(clock) {}
  void OnTick(const TickResult& /*tick*/) override { ends.push_back(clock_.nsecsElapsed()); }
  std::vector<qint64> ends;

 private:
  const QElapsedTimer& clock_;
};

// Times the messages that show the ticks done, the view's paints and the window's repaints (every
// dirty widget and the flush to the screen).
class BenchApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    std::vector<double>* into = nullptr;
    if (event->type() == QEvent::MetaCall && receiver == window) {
      into = &shows;
    } else if (event->type() == QEvent::UpdateRequest && receiver == view) {
      into = &viewPaints;
    } else if (event->type() == QEvent::UpdateRequest && receiver == window) {
      into = &windowRepaints;
    } else if (plots != nullptr && event->type() == QEvent::UpdateRequest && receiver == plots) {
      into = &plotsRepaints;
    } else if (plots != nullptr && event->type() == QEvent::Timer && receiver->parent() == plots) {
      into = &plotsRefreshes;
    }
    if (into == nullptr) {
      return QApplication::notify(receiver, event);
    }
    QElapsedTimer timer;
    timer.start();
    const bool result = QApplication::notify(receiver, event);
    into->push_back(static_cast<double>(timer.nsecsElapsed()) * 1e-6);
    return result;
  }

  QObject* view = nullptr;
  QObject* window = nullptr;
  QObject* plots = nullptr;
  std::vector<double> shows;
  std::vector<double> plotsRefreshes;
  std::vector<double> plotsRepaints;
  std::vector<double> viewPaints;
  std::vector<double> windowRepaints;
};

// Starts velmoth with the arguments tries times, sends each SIGTERM two seconds after its start and
// reports how long each took to end; returns false when one could not be started or did not end
// with status 0.
bool MeasureStopSignal(const char* self, const std::vector<std::string>& arguments, int tries) {
  std::string program = self;
  program = program.substr(0, program.find_last_of('/') + 1) + "velmoth";
  std::vector<double> ms;
  for (int i = 0; i < tries; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> argv{program.data()};
      for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
      }
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    if (pid < 0) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto sent = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "dialog_bench: %s ended with status %d\n", program.c_str(), status);
      return false;
    }
  }
  Report("SIGTERM to the end of the program", ms);
  return true;
}

// How the view's camera frames the arm as drawn (the balls of its outline, by the points where
// each meets the world's axes): whether all of it lands inside the picture, its projected height
// over the picture's smaller side, and the eye's height above the floor (in world coordinates).
void ReportFraming(const char* when, const COglWndCustom& view, const Robot& robot,
                   const VisualModel* shapes) {
  const QSize size = view.size() * view.devicePixelRatio();
  const COglWnd::Point3 &e = view.Eye(), &c = view.Center();
  QMatrix4x4 projection, camera;
  projection.perspective(float(view.FovY()), float(size.width()) / float(size.height()), 0.01f,
                         1e6f);
  camera.lookAt(QVector3D(e.x, e.y, e.z), QVector3D(c.x, c.y, c.z), QVector3D(0, 0, 1));
  camera.rotate(float(view.Tilt()), 0, 1, 0);
  camera.rotate(float(view.Spin()), 0, 0, 1);
  bool inside = true;
  double low = 1e300, high = -1e300;
  for (const Ball3& ball : ArmOutline(robot, view.ShowShapes() ? shapes : nullptr)) {
    for (int k = 0; k < 7; ++k) {
      QVector3D p(float(ball.center[0]), float(ball.center[1]), float(ball.center[2]));
      if (k > 0) {
        p[(k - 1) / 2] += float((k % 2 == 0 ? -1 : 1) * ball.radius);
      }
      const QVector3D w = p.project(camera, projection, QRect(QPoint(0, 0), size));
      inside =
          inside && w.x() >= 0 && w.y() >= 0 && w.x() <= size.width() && w.y() <= size.height();
      low = std::min<double>(low, w.y());
      high = std::max<double>(high, w.y());
    }
  }
  const QVector3D eye = camera.inverted().map(QVector3D(0, 0, 0));
  std::printf(
      "framing %s: the arm %s the view, its height %.0f%% of the view's smaller side, "
      "the eye %.3f m above the floor\n",
      when, inside ? "wholly in" : "NOT wholly in",
      100.0 * (high - low) / std::min(size.width(), size.height()), eye.z());
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10.0;
  int load = 0;
  std::string torque;
  std::string screenshot;
  bool withoutView = false;
  bool plots = false;
  bool fit = false;
  bool framing = false;
  std::string urdf;
  std::string q0;
  std::optional<std::string> viscous;
  std::string picture;
  int links = 0;
  int substeps = 0;
  std::string engine;
  std::string integrator;
  bool keys = false;
  int sigterm = 0;
  std::string record;
  std::vector<std::string> packagePaths;
  bool figure = false;
  double settle = 0.5;
  // The controller's options, read as velmoth reads them.
  CLI::App controlOptions;
  ControlChoice control;
  AddControlOptions(controlOptions, control);
  std::vector<std::string> controlArguments;
  bool drag = false;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (controlOptions.get_option_no_throw(argv[i]) != nullptr && hasValue) {
      controlArguments.insert(controlArguments.begin(), {argv[i + 1], argv[i]});
      ++i;
    } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--load") == 0 && hasValue) {
      load = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--torque") == 0 && hasValue) {
      torque = argv[++i];
    } else if (std::strcmp(argv[i], "--screenshot") == 0 && hasValue) {
      screenshot = argv[++i];
    } else if (std::strcmp(argv[i], "--without-view") == 0) {
      withoutView = true;
    } else if (std::strcmp(argv[i], "--plots") == 0) {
      plots = true;
    } else if (std::strcmp(argv[i], "--fit") == 0) {
      fit = true;
    } else if (std::strcmp(argv[i], "--framing") == 0) {
      framing = true;
    } else if (std::strcmp(argv[i], "--urdf") == 0 && hasValue) {
      urdf = argv[++i];
    } else if (std::strcmp(argv[i], "--q0") == 0 && hasValue) {
      q0 = argv[++i];
    } else if (std::strcmp(argv[i], "--viscous") == 0 && hasValue) {
      viscous = argv[++i];
    } else if (std::strcmp(argv[i], "--picture") == 0 && hasValue) {
      picture = argv[++i];
    } else if (std::strcmp(argv[i], "--links") == 0 && hasValue) {
      links = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--substeps") == 0 && hasValue) {
      substeps = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--engine") == 0 && hasValue) {
      engine = argv[++i];
    } else if (std::strcmp(argv[i], "--integrator") == 0 && hasValue) {
      integrator = argv[++i];
    } else if (std::strcmp(argv[i], "--keys") == 0) {
      keys = true;
    } else if (std::strcmp(argv[i], "--record") == 0 && hasValue) {
      record = argv[++i];
    } else if (std::strcmp(argv[i], "--sigterm") == 0 && hasValue) {
      sigterm = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--package-path") == 0 && hasValue) {
      packagePaths.push_back(argv[++i]);
    } else if (std::strcmp(argv[i], "--figure") == 0) {
      figure = true;
    } else if (std::strcmp(argv[i], "--settle") == 0 && hasValue) {
      settle = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--drag") == 0) {
      drag = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--seconds S] [--load N] [--plots] [--urdf FILE | --links N] "
                   "[--package-path DIR]... [--figure] [--substeps N] [--engine NAME] "
                   "[--integrator NAME] [--q0 TEXT] [--viscous X] [--torque TEXT] [--fit] "
                   "[--framing] [--screenshot FILE.png] [--picture FOLDER] [--without-view] "
                   "[--keys] [--sigterm N] [--record FILE] [--settle S] [--drag] "
                   "[--controller NAME ...]\n",
                   argv[0]);
      return 2;
    }
  }
  try {
    controlOptions.parse(controlArguments);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "dialog_bench: %s\n", e.what());
    return 2;
  }
  if (const std::string problem = CheckControlChoice(controlOptions, control); !problem.empty()) {
    std::fprintf(stderr, "dialog_bench: %s\n", problem.c_str());
    return 2;
  }
  if (!(seconds > 0.0) || !(settle >= 0.0) || load < 0 || load > 64 || links < 0 || links > 100 ||
      substeps < 0 || substeps > kMaxSubsteps || sigterm < 0 ||
      (!engine.empty() && !EngineNamed(engine)) ||
      (!integrator.empty() && !IntegratorNamed(integrator))) {
    std::fprintf(stderr,
                 "dialog_bench: --seconds expects a positive number, --settle one not negative, "
                 "--load 0 to 64, --links 0 to "
                 "100, --substeps 1 to 1000, --engine and --integrator the programs' names\n");
    return 2;
  }

  const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
  if ((platform.isEmpty() || platform.startsWith(QLatin1String("xcb"))) &&
      qEnvironmentVariableIsEmpty("DISPLAY")) {
    // Not a failure of the program measured: there is nothing to show the window on.
    std::printf("dialog_bench: skipped, no display (run it under xvfb-run)\n");
    return 0;
  }

  if (sigterm > 0) {
    std::vector<std::string> arguments;
    const auto add = [&](const char* option, const std::string& value) {
      if (!value.empty()) {
        arguments.insert(arguments.end(), {option, value});
      }
    };
    add("--urdf", urdf);
    add("--links", links > 0 ? std::to_string(links) : "");
    add("--substeps", substeps > 0 ? std::to_string(substeps) : "");
    add("--engine", engine);
    add("--integrator", integrator);
    const std::vector<pid_t> children = StartLoad(load);
    const bool ended = MeasureStopSignal(argv[0], arguments, sigterm);
    StopLoad(children);
    return ended ? 0 : 1;
  }

  // The load starts before the toolkit connects to the display, so that no child holds a copy of
  // the connection.
  const std::vector<pid_t> children = StartLoad(load);
  BenchApplication app(argc, argv);
  SetUpApplication();
  QElapsedTimer clock;
  clock.start();
  if (withoutView) {
    COglWnd::SetMessageHook([](const QString&) {});
    COglWnd::SetFaultHook([](COglWnd::GlStep) { return true; });
  }
  ArmSetup arm;
  arm.q0 = q0;
  arm.viscous = viscous;
  arm.step = DefaultStepOptions(!urdf.empty());
  if (substeps > 0) {
    arm.step.substeps = substeps;
  }
  if (!engine.empty()) {
    arm.step.engine = *EngineNamed(engine);
  }
  if (!integrator.empty()) {
    arm.step.integrator = *IntegratorNamed(integrator);
  }
  if (links > 0 && urdf.empty()) {
    arm.make = [links] { return MakeBuiltInRobot(links); };
  }
  std::shared_ptr<const VisualModel> shapes;
  uint32_t joints = links > 0 ? static_cast<uint32_t>(links) : kBuiltInLinkCount;
  if (!urdf.empty()) {
    std::string error;
    const std::unique_ptr<Robot> loaded = LoadUrdfRobot(urdf, error, {}, &arm.notices);
    joints = loaded != nullptr ? static_cast<uint32_t>(loaded->links.size()) : 0;
    const auto start = std::chrono::steady_clock::now();
    auto model = std::make_shared<VisualModel>(
        LoadUrdfVisuals(urdf, PackageSearchFor(urdf, packagePaths), arm.notices));
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::size_t triangles = 0;
    for (const VisualShape& shape : model->shapes) {
      triangles += shape.mesh != nullptr ? shape.mesh->TriangleCount() : 0;
    }
    std::printf("shapes: %zu (%zu mesh triangles), read in %.3f s\n", model->shapes.size(),
                triangles, took);
    for (const std::string& notice : arm.notices) {
      std::printf("notice: %s\n", notice.c_str());
    }
    shapes = model;
    arm.make = [&urdf] {
      std::string error;
      std::unique_ptr<Robot> robot = LoadUrdfRobot(urdf, error);
      if (robot == nullptr) {
        std::fprintf(stderr, "dialog_bench: %s\n", error.c_str());
        std::exit(2);
      }
      return robot;
    };
  }
  arm.controller = ResolveControl(control, joints);
  MainWindow main(arm);
  main.SetShapes(shapes);
  main.Open();
  if (figure) {
    main.ToggleShapes();
  }
  QtDialogWindow& window = main.Window();
  if (window.View() == nullptr && !withoutView) {
    std::fprintf(stderr, "dialog_bench: the 3-D view could not be made (no usable OpenGL)\n");
    StopLoad(children);
    return 1;
  }
  TickTimes ticks(clock);
  main.Dlg().AddTickListener(&ticks);
  std::vector<qint64> frameTimes;
  if (window.View() != nullptr) {
    QObject::connect(window.View(), &COglWnd::frameSwapped, &app,
                     [&] { frameTimes.push_back(clock.nsecsElapsed()); });
  }
  // How late the window's thread answers a timer due every 50 ms.
  std::vector<double> lateness;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  qint64 probeDue = 0;
  QObject::connect(&probe, &QTimer::timeout, &app, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (probeDue != 0) {
      lateness.push_back(static_cast<double>(std::max<qint64>(0, now - probeDue)) * 1e-6);
    }
    probeDue = now + 50'000'000;
  });
  // --keys: each key pressed at a precise moment; from that moment to its effect.
  std::vector<double> pauseKeys, screenshotKeys, escapeKeys;
  QTemporaryDir pictures;
  std::function<void(int)> pressKeys = [&](int left) {
    const qint64 due = clock.nsecsElapsed() + 100'000'000;
    QTimer::singleShot(100, Qt::PreciseTimer, &app, [&, due, left] {
      QWidget* focus = window.Control(kIdJointTorque);
      const auto took = [&] { return static_cast<double>(clock.nsecsElapsed() - due) * 1e-6; };
      if (left > 1) {
        const RunState before = main.Run().State();
        QTest::keyClick(focus, Qt::Key_F5);
        if (main.Run().State() != before) {
          pauseKeys.push_back(took());
        }
        pressKeys(left - 1);
      } else if (left == 1) {
        main.SetOutputFolder(pictures.path());
        QTest::keyClick(focus, Qt::Key_F11);
        if (main.Strip().Note().startsWith(QLatin1String("Screenshot: "))) {
          screenshotKeys.push_back(took());
        }
        pressKeys(0);
      } else {
        QTest::keyClick(focus, Qt::Key_Escape);
        if (!window.isVisible()) {
          escapeKeys.push_back(took());
        }
        QApplication::quit();
      }
    });
  };
  app.view = window.View();  // null without the view
  app.window = &window;
  if (!torque.empty()) {
    window.SetDlgItemText(kIdJointTorque, torque.c_str());
    main.Dlg().OnBnClickedSetTorque();
  }
  if (!record.empty() && !main.StartRecording(record)) {
    StopLoad(children);
    return 1;
  }
  window.show();
  if (fit) {
    main.FitView();
  }
  if (plots) {
    main.TogglePlots();
    // Beside the main window, as a user would place them, from the screen's left edge.
    window.move(0, 0);
    main.Plots()->move(window.frameGeometry().right() + 10, 0);
    app.plots = main.Plots();
  }

  // Measure after the window has appeared and settled.
  qint64 startNs = 0;
  double wall = 0.0;
  std::size_t tickCount = 0;
  uint64_t framesAtStart = 0;
  uint64_t frames = 0;
  uint64_t slipAtStart = 0;
  uint64_t slip = 0;
  std::size_t firstTick = 0;
  bool screenshotSaved = false;
  double residentAtStart = 0.0;
  double residentAtEnd = 0.0;
  double heapAtStart = 0.0;
  double heapAtEnd = 0.0;
  QTimer minutes;
  QObject::connect(&minutes, &QTimer::timeout, &app, [&] {
    std::printf("memory after %.0f s: resident %.1f MiB, heap in use %.1f MiB\n",
                static_cast<double>(clock.nsecsElapsed() - startNs) * 1e-9, ResidentMiB(),
                HeapMiB());
    std::fflush(stdout);
  });
  // --drag: where the pull is taken, the cursor's round and what the pull's force was.
  QPoint pressedAt(-1, -1);
  int pulledLink = -1;
  QTimer hand;
  hand.setTimerType(Qt::PreciseTimer);
  int handStep = 0;
  std::vector<double> newtons;
  COglWndCustom* dragView = window.View();
  const auto moveHand = [&] {
    const double angle = 0.1 * handStep++;
    const QPointF at(pressedAt.x() + 60.0 * (std::cos(angle) - 1.0),
                     pressedAt.y() + 60.0 * std::sin(angle));
    QMouseEvent move(QEvent::MouseMove, at, dragView->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::ControlModifier);
    QApplication::sendEvent(dragView, &move);
    if (dragView->GetPullMarker()) {
      newtons.push_back(dragView->GetPullMarker()->newtons);
    }
  };
  QObject::connect(&hand, &QTimer::timeout, &app, moveHand);
  const auto startDrag = [&] {
    if (dragView == nullptr) {
      return;
    }
    for (int y = 4; y < dragView->height() - 4; y += 3) {
      for (int x = 4; x < dragView->width() - 4; x += 3) {
        const ArmPick pick = dragView->PickAt(QPointF(x, y));
        if (pick.hit && pick.link > pulledLink) {
          pulledLink = pick.link;
          pressedAt = QPoint(x, y);
        }
      }
    }
    if (pulledLink < 0) {
      std::printf("drag: no link shows in the view\n");
      return;
    }
    QTest::mousePress(dragView, Qt::LeftButton, Qt::ControlModifier, pressedAt);
    MakeRoom(newtons, static_cast<std::size_t>((seconds + 1.0) * 100.0));
    hand.start(16);
  };

  QTimer::singleShot(static_cast<int>(settle * 1000.0), [&] {
    // Room for more samples than a measured run can take at 250 per second, made before it.
    const auto room = static_cast<std::size_t>((seconds + 1.0) * 250.0);
    for (std::vector<double>* samples : {&app.shows, &app.viewPaints, &app.windowRepaints,
                                         &app.plotsRefreshes, &app.plotsRepaints, &lateness}) {
      MakeRoom(*samples, room);
    }
    MakeRoom(frameTimes, room);
    std::vector<qint64> ends = ticks.ends;
    MakeRoom(ticks.ends, ends.size() + room);
    ticks.ends.insert(ticks.ends.end(), ends.begin(), ends.end());
    firstTick = ticks.ends.size();
    residentAtStart = ResidentMiB();
    heapAtStart = HeapMiB();
    probe.start(50);
    minutes.start(60'000);
    if (drag) {
      startDrag();
    }
    framesAtStart = main.Frames();
    slipAtStart = main.Run().SlippedTicks();
    startNs = clock.nsecsElapsed();
    QTimer::singleShot(static_cast<int>(seconds * 1000.0), Qt::PreciseTimer, &app, [&] {
      wall = static_cast<double>(clock.nsecsElapsed() - startNs) * 1e-9;
      tickCount = ticks.ends.size() - firstTick;
      frames = main.Frames() - framesAtStart;
      slip = main.Run().SlippedTicks() - slipAtStart;
      residentAtEnd = ResidentMiB();
      heapAtEnd = HeapMiB();
      minutes.stop();
      if (hand.isActive()) {
        hand.stop();
        QTest::mouseRelease(dragView, Qt::LeftButton, Qt::ControlModifier, pressedAt);
      }
      if (!screenshot.empty()) {
        // What the screen shows in the window's place (and the plots').
        QRect area = window.frameGeometry();
        if (main.Plots() != nullptr) {
          area = area.united(main.Plots()->frameGeometry());
        }
        const QPixmap shot = window.screen()->grabWindow(0).copy(area);
        screenshotSaved = shot.save(QString::fromStdString(screenshot));
      }
      if (!picture.empty()) {
        main.SetOutputFolder(QString::fromStdString(picture));
        const QString saved = main.TakeScreenshot();
        std::printf("picture: %s\n", qPrintable(saved));
      }
      if (framing && window.View() != nullptr) {
        ReportFraming(fit ? "after Fit" : "at the start view", *window.View(), *main.Dlg().m_pRobot,
                      shapes.get());
        main.FitView();
        ReportFraming("after Fit", *window.View(), *main.Dlg().m_pRobot, shapes.get());
      }
      probe.stop();
      if (keys) {
        window.activateWindow();  // the keys act in the active window
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(&window);
        pressKeys(21);  // twenty F5, F11, Escape
      } else {
        QApplication::quit();
      }
    });
  });
  QApplication::exec();
  StopLoad(children);

  std::vector<double> intervals;
  for (std::size_t i = firstTick + 1; i < firstTick + tickCount; ++i) {
    intervals.push_back(static_cast<double>(ticks.ends[i] - ticks.ends[i - 1]) * 1e-6);
  }
  const double factor = static_cast<double>(tickCount) * kTimeStep / wall;
  const QSize view = app.view != nullptr ? window.ViewWidget()->size() : QSize(0, 0);
  std::printf(
      "dialog_bench: %.2f s of wall-clock time, %d busy processes, platform %s, window %dx%d, "
      "view %dx%d\n",
      wall, load, qPrintable(QGuiApplication::platformName()), window.width(), window.height(),
      view.width(), view.height());
  std::printf("arm of %zu joints, controller %s\n", main.Dlg().m_pRobot->links.size(),
              ControllerText(main.Dlg().GetController()).c_str());
  std::printf("ticks: %zu, %.1f per second; real-time factor %.4f; slip %.2f s\n", tickCount,
              static_cast<double>(tickCount) / wall, factor, static_cast<double>(slip) * kTimeStep);
  std::printf("%.1f frames per second\n", static_cast<double>(frames) / wall);
  if (drag && pulledLink >= 0) {
    std::printf("pulled link %d all the time: the force median %.2f N, at most %.2f N\n",
                pulledLink, Percentile(newtons, 0.5), Percentile(newtons, 1.0));
  }
  std::printf("resident memory %.1f MiB at the start, %.1f MiB at the end\n", residentAtStart,
              residentAtEnd);
  std::printf("heap in use %.1f MiB at the start, %.1f MiB at the end\n", heapAtStart, heapAtEnd);
  if (!record.empty()) {
    std::printf("recorded %llu ticks to %s\n",
                static_cast<unsigned long long>(main.Recording().Rows()), record.c_str());
  }
  if (app.plots != nullptr) {
    Report("plots refresh (series from the trace)", app.plotsRefreshes);
    Report("plots repaint (charts and flush)", app.plotsRepaints);
  }
  std::vector<double> frameGaps;
  for (std::size_t i = 1; i < frameTimes.size(); ++i) {
    if (frameTimes[i] - startNs <= static_cast<qint64>(wall * 1e9)) {
      frameGaps.push_back(static_cast<double>(frameTimes[i] - frameTimes[i - 1]) * 1e-6);
    }
  }
  std::printf("a tick takes %.3f ms on the physics thread (the last one)\n",
              static_cast<double>(main.Dlg().TickCostNs()) * 1e-6);
  Report("frame-to-frame interval", frameGaps);
  Report("lateness of a 50 ms timer (input wait)", lateness);
  if (keys) {
    Report("F5 (pause, resume) to its effect", pauseKeys);
    Report("F11 (screenshot) to its effect", screenshotKeys);
    Report("Escape to the window's end", escapeKeys);
  }
  Report("tick-to-tick interval", intervals);
  Report("ticks shown (arm, listeners, panel)", app.shows);
  Report("view paint (OpenGL drawing and swap)", app.viewPaints);
  Report("window repaint (widgets and flush)", app.windowRepaints);

  main.Dlg().RemoveTickListener(&ticks);
  if (!screenshot.empty()) {
    if (!screenshotSaved) {
      std::fprintf(stderr, "dialog_bench: cannot write %s\n", screenshot.c_str());
      return 1;
    }
    std::printf("screenshot: %s\n", screenshot.c_str());
  }
  main.Close();
  PinLoadedGlDrivers();  // keeps the sanitizer build's leak check able to see the driver's memory
  return 0;
}
