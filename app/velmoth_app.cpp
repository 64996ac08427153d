#include "app/velmoth_app.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QSurfaceFormat>
#include <QtGlobal>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>

#include "app/windows/main_window.h"
#include "app/windows/qt_dialog_window.h"
#include "recursive/frames.h"
#include "robot/input_checks.h"
#include "robot/robot.h"
#include "simulation/text_fields.h"
#include "urdf/urdf_loader.h"
#include "urdf/urdf_text.h"
#include "view/gl_drivers.h"
#include "view/ogl_wnd.h"
#include "visuals/shape_loader.h"
#include "visuals/urdf_visuals.h"

CVelmothApp theApp;

const char kHelpText[] =
    "Velmoth simulates a serial robot arm: the built-in six-link arm, which starts out lying "
    "straight on the floor and falls under gravity, or the arm of a URDF file (velmoth --urdf). "
    "Every 10 ms the arm advances 0.01 s.\n"
    "\n"
    "Forward Dynamics: type one joint torque per joint into \"Joint Torque:\", separated by "
    "commas, and click \"Set Torque\". The panel shows the accelerations they cause.\n"
    "Inverse Dynamics: type joint accelerations into \"Joint Accel.:\" and click \"Set Accel.\". "
    "The panel shows the torques that produce them.\n"
    "Set: takes the viscous and Coulomb friction coefficients and the gravity vector (x, y, z).\n"
    "Reset: puts every joint back at zero, at rest.\n"
    "The panel also shows the kinetic, potential and total energy and the joint angles.\n"
    "\n"
    "View: drag with the left mouse button to turn it, with the right button to move it; the "
    "wheel zooms.\n"
    "Pull: hold Ctrl and drag a link with the left button. A spring pulls the point you took "
    "towards the cursor (at the depth you took it) while the arm runs, or tick by tick with F6; "
    "the view shows the point, the line to the cursor and the force in newtons, and the strip "
    "names the link. The wheel while pulling makes the spring stiffer or softer. Releasing the "
    "button ends the pull.\n"
    "\n"
    "The strip below the view shows the simulated time, how fast it runs against the clock, the "
    "frame rate, the speed and whether the run is running, paused or diverged.\n"
    "F5: pause or resume. F6: one tick (pauses first). F7: half the speed. F8: twice the speed "
    "(from 1/16 up to real time). When the state stops being finite the run pauses itself; "
    "Reset, then F5, starts it again.\n"
    "The lists in the strip choose how the arm is stepped, while it runs: the engine (the "
    "closed form, or the recursive one, which is exact and fast for long chains), the "
    "integrator (euler; implicit, which takes friction at the end of each substep; rk4; or "
    "dopri5, which takes as many steps as its tolerance needs), the substeps per tick and "
    "dopri5's tolerance. Coulomb friction stops joints and holds them at rest against small "
    "torques.\n"
    "An arm from a file: its joints stop at the file's limits (an inelastic impact) and rest "
    "there while pushed into them; a joint at a limit is drawn with an orange housing and "
    "named in the strip. Each joint with damping and friction in the file takes its own, the "
    "others the panel's; Set with a friction coefficient typed makes every joint take the "
    "panel's. The strip's checks and list switch the limits, the efforts (each torque "
    "saturated at its joint's effort in the file, the joints that saturate named in the strip) "
    "and the friction's source.\n"
    "F9: live plots over the last 10 s of the energies with the work of the torques (W) and the "
    "energy friction took (D), the energy balance (what is left of E - E0 - W + D, which "
    "starts afresh at Reset), the joint angles and the panel's output. "
    "F10: start or stop recording every tick to a CSV file (as velmoth-sim run writes it). "
    "F11: save the view as a PNG picture. F12: an arm from a file drawn with the shapes of its "
    "file, or as joints and bodies. Home (or a double-click in the view): fit the arm into the "
    "view. Shift+Home: the starting view.\n"
    "\n"
    "F4 (or the strip's Lab button): the control lab at the right edge. Controller: torque (the "
    "typed torques alone), gravity (plus g(q): the arm floats), pd (Kp e + Kd e' + g(q); the "
    "g(q) compensation switched off shows the sag), computed-torque (the error obeys e'' + Kd "
    "e' + Kp e = 0; a model mass error or friction not modelled becomes tracking error) or "
    "task-pd (a PD law on the tool frame's position). Target: joint positions in the panel's "
    "vector format (for task-pd the tool's x, y, z), reached along a quintic or a trapezoid in "
    "the duration given, at once (step), or a sine about it. Rate: continuous, or a digital "
    "controller at 100 to 1000 Hz whose torque is held between samples. Empty gain fields take "
    "the defaults they show, critically damped at w. The lists and checks act at once, the "
    "fields with Enter or Apply. With Efforts on, the strip names the joints whose torques "
    "saturate. F9's plots then show q* beside q, the tracking error and the torques against "
    "the efforts.\n"
    "Teach: a slider per joint. Paused (or with a law that follows no target) a slider puts "
    "the arm in that pose at rest, as Reset does (the energy balance starts afresh there); "
    "running with pd, computed-torque or task-pd it sets the target. Above the sliders: the "
    "tool frame's position and roll, pitch and yaw.\n"
    "\n"
    "Escape or the close button ends the program.";

namespace {

// Exit status for an arm description that cannot be loaded, as for a bad option.
constexpr int kBadArm = 2;
constexpr int kBadOption = 2;

// The start's friction coefficients and joint state, as the panel would read them, for an arm of
// n joints: "" or what is refused.
std::string StartValueProblem(const WindowOptions& options, uint32_t n) {
  for (const auto& [name, text] :
       {std::pair{"--viscous", &options.viscous}, std::pair{"--coulomb", &options.coulomb}}) {
    if (*text) {
      if (std::string problem = FrictionProblem(name, ReadCoefficientText(**text));
          !problem.empty()) {
        return problem;
      }
    }
  }
  for (const auto& [name, text] :
       {std::pair{"--q0", &options.q0}, std::pair{"--qd0", &options.qd0}}) {
    matrix<double> start(n, 1);
    ReadVectorText(*text, start);
    std::vector<double> values(n);
    for (uint32_t i = 0; i < n; ++i) {
      values[i] = start(i, 0);
    }
    if (std::string problem = StartProblem(name, values.data(), n); !problem.empty()) {
      return problem;
    }
  }
  return "";
}

// Messages Qt writes while it connects to the display, held back until the connection is made so
// that a failure ends in one line of our own.
QStringList& StartupMessages() {
  static QStringList messages;
  return messages;
}

[[noreturn]] void ExitWithoutDisplay(const QString& reason) {
  std::fprintf(stderr, "velmoth: %s; velmoth-sim runs the simulation without a window\n",
               reason.toLocal8Bit().constData());
  std::fflush(stderr);
  std::_Exit(1);
}

// Why the toolkit could not start: the display it could not connect to is named, else a platform
// plugin that could not be found or loaded, else the display.
QString StartupFailureReason() {
  const QString display = qEnvironmentVariable("DISPLAY");
  for (const QString& message : StartupMessages()) {
    if (message.contains(QLatin1String("could not connect to display"))) {
      return QStringLiteral("cannot open the display \"%1\" (DISPLAY)").arg(display);
    }
  }
  for (const QString& message : StartupMessages()) {
    if (message.contains(QLatin1String("platform plugin"))) {
      const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
      return QStringLiteral("cannot start the Qt platform plugin \"%1\" (QT_QPA_PLATFORM)")
          .arg(platform.isEmpty() ? QStringLiteral("xcb") : platform);
    }
  }
  return display.isEmpty() ? QStringLiteral("no display can be opened")
                           : QStringLiteral("cannot open the display \"%1\"").arg(display);
}

void StartupMessageHandler(QtMsgType type, const QMessageLogContext& /*context*/,
                           const QString& message) {
  if (type == QtFatalMsg) {
    ExitWithoutDisplay(StartupFailureReason());
  }
  StartupMessages().append(message);
}

// The end of a socket pair that the signal handler writes to; the event loop reads the other end.
int stopSignalSocket[2] = {-1, -1};
// Whether a stop signal has reached the event loop: a signal that closed only a message box at the
// start still ends the program.
bool stopSignalled = false;

void OnStopSignal(int /*signal*/) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(stopSignalSocket[0], &byte, 1);
}

// SIGINT (Ctrl-C in the terminal), SIGTERM, SIGHUP (the terminal closed) and SIGQUIT (Ctrl-\) end
// the program as the close button does: the window closes in order and a recording is written out
// and closed, its replay with its end. The handler only writes a byte;
// the event loop does the rest. From then on no message box waits for the user: what it would say
// goes to standard error, so that the program ends however its last writes went; a box that is
// up over the window when the signal comes is closed, and what it said goes there too (the help
// excepted).
void EndOnStopSignals(QObject* owner, const std::function<void()>& end) {
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, stopSignalSocket) != 0) {
    return;
  }
  auto* notifier = new QSocketNotifier(stopSignalSocket[1], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [end] {
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::read(stopSignalSocket[1], &byte, 1);
    stopSignalled = true;
    QtDialogWindow::SetMessageBoxHook([](QWidget*, const QString& text) {
      std::fprintf(stderr, "velmoth: %s\n", text.toLocal8Bit().constData());
      std::fflush(stderr);
    });
    end();
  });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    sigaction(number, &action, nullptr);
  }
}

// Whether a display is there to connect to. Platforms other than the X and Wayland ones (the
// offscreen one of tests, for instance) need none.
bool DisplayConfigured() {
  const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
  if (!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb")) &&
      !platform.startsWith(QLatin1String("wayland"))) {
    return true;
  }
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

void SetUpApplication() {
  std::setlocale(LC_NUMERIC, "C");
  QSurfaceFormat::setDefaultFormat(COglWnd::SurfaceFormat());
  QApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
  QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QApplication::setApplicationVersion(QString::fromLatin1(kApplicationVersion));
}

std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv) {
  auto application = std::make_unique<QApplication>(argc, argv);
  SetUpApplication();
  return application;
}

int CVelmothApp::Run(int argc, char** argv) {
  const int status = ParseWindowOptions(argc, argv, m_options);
  if (status >= 0) {
    return status;
  }
  // The arm is read before any window opens: a description that cannot be loaded ends the program
  // with its reason and no main window.
  std::string armError;
  auto loaded = std::make_shared<std::unique_ptr<Robot>>();
  if (!m_options.urdf.empty()) {
    std::vector<std::string> notices;
    *loaded = LoadUrdfRobot(m_options.urdf, armError, UrdfOptions{m_options.tip}, &notices);
    if (*loaded == nullptr) {
      std::fprintf(stderr, "velmoth: %s\n", armError.c_str());
    }
    // What the loader had to decide is said once on standard error and stays in the strip.
    for (const std::string& notice : notices) {
      std::fprintf(stderr, "velmoth: %s\n", notice.c_str());
      m_arm.notices.push_back(notice);
    }
    m_arm.noticeSource = m_options.urdf;
  }
  const int links = static_cast<int>(m_options.links);
  // What every front end refuses is refused here too, before the window opens; then the payloads
  // go into the arm and the forces are checked against its frames.
  if (armError.empty()) {
    const auto n = static_cast<uint32_t>(*loaded != nullptr ? (*loaded)->links.size() : links);
    if (const std::string problem = StartValueProblem(m_options, n); !problem.empty()) {
      std::fprintf(stderr, "velmoth: %s\n", problem.c_str());
      return kBadOption;
    }
    if (*loaded == nullptr) {
      *loaded = MakeBuiltInRobot(links);
    }
    if (const std::string problem = ResolveForces(m_options.push, **loaded, m_arm.forces);
        !problem.empty()) {
      std::fprintf(stderr, "velmoth: %s\n", problem.c_str());
      return kBadArm;
    }
  }
  m_arm.make = [loaded, links] {
    return *loaded != nullptr ? std::move(*loaded) : MakeBuiltInRobot(links);
  };
  // A recording's replay names the arm as velmoth-sim makes it, the file by its absolute path.
  if (m_options.urdf.empty()) {
    m_arm.simArm = {{"--links", std::to_string(links)}};
  } else {
    std::error_code failed;
    const std::filesystem::path file = std::filesystem::absolute(m_options.urdf, failed);
    m_arm.simArm = {{"--urdf", failed ? m_options.urdf : file.string()}};
    if (!m_options.tip.empty()) {
      m_arm.simArm.emplace_back("--tip", m_options.tip);
    }
  }
  for (const std::string& payload : m_options.push.payloads) {
    m_arm.simArm.emplace_back("--payload", payload);
  }
  m_arm.q0 = m_options.q0;
  m_arm.qd0 = m_options.qd0;
  m_arm.viscous = m_options.viscous;
  m_arm.coulomb = m_options.coulomb;
  m_arm.gravity = m_options.gravity;
  m_arm.step = ResolveStepOptions(m_options.step, !m_options.urdf.empty());
  m_arm.limits = m_options.physics.limits != "off";
  if (!m_options.physics.friction.empty()) {
    m_arm.friction =
        m_options.physics.friction == "file" ? FrictionSource::kFile : FrictionSource::kUniform;
  }
  m_arm.effortLimits = m_options.physics.effortLimits;
  // The controller, for the arm's joints; task-pd's tool must be one of its frames.
  if (armError.empty()) {
    const std::unique_ptr<Robot> counted = *loaded == nullptr ? MakeBuiltInRobot(links) : nullptr;
    const Robot& robot = *loaded != nullptr ? **loaded : *counted;
    m_arm.controller = ResolveControl(m_options.control, static_cast<uint32_t>(robot.links.size()));
    if (!m_options.control.tool.empty() &&
        recursive::FindFrame(recursive::BuildFrameModels(robot), m_options.control.tool) < 0) {
      std::fprintf(stderr, "velmoth: --tool: the arm has no frame '%s'\n",
                   m_options.control.tool.c_str());
      return kBadArm;
    }
  }

  if (!DisplayConfigured()) {
    if (!armError.empty()) {
      return kBadArm;
    }
    std::fprintf(stderr,
                 "velmoth: no display to show the window on (DISPLAY is not set); velmoth-sim "
                 "runs the simulation without a window\n");
    return 1;
  }

  const QtMessageHandler previous = qInstallMessageHandler(StartupMessageHandler);
  std::unique_ptr<QApplication> application = MakeApplication(argc, argv);
  qInstallMessageHandler(previous);
  for (const QString& message : StartupMessages()) {
    qWarning("%s", qUtf8Printable(message));
  }
  StartupMessages().clear();

  // A signal closes every window: the main window ends as its close button ends it, a message box
  // as its OK button does.
  EndOnStopSignals(application.get(), [] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box != nullptr && box->isVisible() && box->parentWidget() != nullptr &&
          box->text() != QLatin1String(kHelpText)) {
        std::fprintf(stderr, "velmoth: %s\n", box->text().toLocal8Bit().constData());
      }
    }
    std::fflush(stderr);
    QApplication::closeAllWindows();
  });
  if (!armError.empty()) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationName),
                    QString::fromStdString(armError), QMessageBox::Ok);
    box.exec();
    return kBadArm;
  }
  // The shapes of the arm's links: the description now, its meshes on a thread of their own while
  // the window runs.
  std::string text;
  if (!m_options.urdf.empty() && ReadUrdfFile(m_options.urdf, text).empty()) {
    m_shapes = std::make_unique<ShapeLoader>(std::make_unique<UrdfShapes>(
        text, m_options.urdf, PackageSearchFor(m_options.urdf, m_options.packagePaths)));
  }
  InitInstance();
#if defined(__SANITIZE_ADDRESS__)
  PinLoadedGlDrivers();  // so that the leak check at exit can see what the driver still holds
#endif
  return 0;
}

bool CVelmothApp::InitInstance() {
  MainWindow window(m_arm);
  if (m_shapes != nullptr) {
    window.SetShapeLoader(std::move(m_shapes));
  }
  SetMainWindow(&window.Window());
  window.Open();
  if (!m_options.record.empty()) {
    window.StartRecording(m_options.record);
  }
  // A signal while the recording's message box was up ends the program, not just the box.
  if (!stopSignalled) {
    window.Exec();
  }
  SetMainWindow(nullptr);
  return false;
}

void CVelmothApp::SetMainWindow(QtDialogWindow* window) {
  if (m_pMainWnd != nullptr) {
    m_pMainWnd->SetHelpHandler(nullptr);
  }
  m_pMainWnd = window;
  if (window != nullptr) {
    window->SetHelpHandler([this] { OnHelp(); });
  }
}

void CVelmothApp::OnHelp() {
  if (m_pMainWnd != nullptr) {
    m_pMainWnd->MessageBox(kHelpText);
  }
}
