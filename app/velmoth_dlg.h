// CVelmothDlg: the main dialog's logic. It owns the Robot the panel and the 3-D view show, keeps
// the user's torque and acceleration vectors, has a simulation tick requested every period, shows
// the ticks when they are done and carries out the panel's commands. The ticks are computed by a
// PhysicsThread on a copy of the arm, so that the window keeps drawing and answering whatever a
// tick costs; the panel's commands reach that copy between ticks, in the order they were given.
// With the thread, a TickPacer of its own asks for the ticks as they fall due, so that their pace
// does not depend on how soon the window's thread comes to its messages; without one (the tests'
// fake layer), each message of the window system's tick timer requests one.
// It knows the window system only through WindowSystem, so the same code runs in the Qt dialog and
// under the fake layer of the tests.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog_template.h"
#include "app/physics_thread.h"
#include "app/tick_pacer.h"
#include "app/window_system.h"
#include "matrix/matrix.h"
#include "robot/robot.h"
#include "simulation/replay.h"
#include "simulation/step_options.h"

// What one tick did, for the instruments that follow the simulation: the arm after the tick, the
// mode it ran in (kIdForward, kIdInverse, or 0 when neither is selected and nothing moved), and the
// tick's two vectors: in forward mode the torques applied (the user's, saturated at the joints'
// efforts where effort limits are on) and the accelerations they caused, in inverse mode the user's
// accelerations and the torques that produce them. The tick's number among those requested comes
// with it, and everything it took from the user (its friction, gravity, the arm's physics and the
// step too) as it was when the tick was computed.
struct TickResult {
  const Robot& robot;
  int mode;
  const matrix<double>& accel;
  const matrix<double>& torque;
  uint64_t serial = 0;                 // 0: not numbered
  const TickInputs* inputs = nullptr;  // null: not known
  // Where the joints were put since the tick before (limits switched on); null: nowhere.
  const std::vector<double>* setQ = nullptr;
  // The controller's reference as the tick began it (null: none had started); and the reference
  // and the error at the tick's end (null: no reference; see TickDone).
  const ReferenceStart* referenceStart = nullptr;
  const std::vector<double>* reference = nullptr;
  const std::vector<double>* error = nullptr;
};

// Where the dialog's arm comes from and how it starts: by default the built-in arm of six links,
// at rest with every joint at zero. "Reset" puts every joint at zero, at rest, whatever the start.
struct ArmSetup {
  std::function<std::unique_ptr<Robot>()> make;  // null: the built-in arm
  std::string q0;   // initial joint positions as vector text; empty: all zero
  std::string qd0;  // initial joint velocities as vector text; empty: all zero
  // What the panel's "Set" would take at the start, as its fields' texts; absent: the arm's own.
  std::optional<std::string> viscous;
  std::optional<std::string> coulomb;
  std::optional<std::string> gravity;
  // How the ticks advance it.
  StepOptions step = DefaultStepOptions(false);
  // Its own physics: whether its joints stop at their limits, which friction they take (absent:
  // the file's, unless viscous or coulomb is given, which every joint then takes, as "Set" with
  // values typed), and whether the torques saturate at the joints' efforts.
  bool limits = true;
  std::optional<FrictionSource> friction;
  bool effortLimits = false;
  // The controller the ticks start with (control_settings.h; by default none: the typed torques).
  ControllerSettings controller;
  // Forces held on the arm from the start (external_forces.h); their frames must be the arm's.
  std::vector<ExternalForce> forces;
  // What the user should know of how the arm was made (joints held fixed, implausible inertias),
  // each line starting with the file it is about, as the loader names it: noticeSource, then ": ".
  std::vector<std::string> notices;
  std::string noticeSource;
  // The velmoth-sim options that make the same arm, for a recording's replay: --urdf FILE and
  // --tip LINK, or --links N. Left empty, a built-in arm (no `make`) is named by its links, and an
  // arm made otherwise is not named.
  ReplayArm simArm;
};

// Follows the simulation: told after every tick, after every "Reset" and after every pose the
// teach panel sets (CVelmothDlg::SetPose), which is a Reset to that pose.
class TickListener {
 public:
  virtual ~TickListener() = default;
  virtual void OnTick(const TickResult& tick) = 0;
  // robot: the arm as the Reset left it, at rest with every joint at zero (or in the pose set), or
  // at the nearest limit where that is outside its limits.
  virtual void OnResetJointState(const Robot& /*robot*/) {}
};

// The timer that drives the simulation tick, and its period.
inline constexpr unsigned kTickTimerId = 1000;
inline constexpr unsigned kTickPeriodMs = 10;

// The message the physics thread posts to the dialog: ticks are done.
inline constexpr unsigned kTicksDoneMessage = 0x8001;

// The view lies this many pixels below the top of the dialog's client area, under the panel.
inline constexpr int kViewTop = 130;

// Resource identifier of the application icon.
inline constexpr int kAppIconId = 128;

// The help command (F1); the application answers it.
inline constexpr int kHelpCommandId = 57670;

class CVelmothDlg : public DialogMessages {
 public:
  explicit CVelmothDlg(WindowSystem& window);
  ~CVelmothDlg() override;

  CVelmothDlg(const CVelmothDlg&) = delete;
  CVelmothDlg& operator=(const CVelmothDlg&) = delete;

  // Chooses the arm that OnInitDialog builds.
  void SetArmSetup(ArmSetup setup) { m_setup = std::move(setup); }
  // Whether OnInitDialog starts a thread for the ticks, paced by a thread of its own (the window),
  // or computes each tick at once when the window system's timer requests it (the default).
  void SetTicksOnThread(bool threaded) { m_threaded = threaded; }

  // Builds the arm and the view, starts the ticks, selects forward mode and fills the panel.
  bool OnInitDialog() override;

  // Without the thread: requests one simulation tick with the mode and the vectors as they are now
  // and shows it; every timer identifier requests the same tick.
  void OnTimer(unsigned id) override;
  // No more ticks are wanted while those requested already amount to enough work.
  bool WantsTimer(unsigned id) override;
  // Shows the ticks done.
  void OnAppMessage(unsigned id) override;

  // The clock the ticks keep with the thread: the run control pauses, steps and slows it down.
  TickPacer& Pacer() { return m_pacer; }

  // For a pause: drops the ticks requested that have not started and shows those done. A tick in
  // progress that is expected to end at once is waited for, briefly; a longer one finishes in the
  // background and is shown when done.
  void SettleTicks();
  // The wall time a tick takes (the last one, or the one in progress when longer), 0 before any.
  int64_t TickCostNs() const;

  // Keeps the view filling the client area below the panel.
  void OnSize(unsigned type, int width, int height) override;

  // Draws the icon centred in the client area while the dialog is minimised.
  void OnPaint() override;

  // Deletes the view, then the robot it draws.
  void OnDestroy() override;

  // The message map: a click on 1005, 1006, 1007, 1009, 1010 or 1014 runs its handler.
  bool OnCommand(int id) override;

  // Listeners are told in the order they were added; they must outlive the dialog or be removed.
  void AddTickListener(TickListener* listener);
  void RemoveTickListener(TickListener* listener);

  // The icon to show while the minimised dialog is dragged.
  IconHandle OnQueryDragIcon() const { return m_hIcon; }

  void OnBnClickedReset();
  // The teach panel's pose: as "Reset", but with the joints at q (n values) instead of at zero,
  // outside the ticks: at rest, the energy balance starting afresh, the controller's reference
  // from there. The joint angles' read-out and the view show it at once.
  void SetPose(const std::vector<double>& q);
  void OnBnClickedSetAccel();
  void OnBnClickedSetTorque();
  void OnBnClickedForward();
  void OnBnClickedInverse();
  void OnBnClickedSet();

  // The panel's text fields: a number, a column vector written into a control, and a column
  // vector read back from one (the vector keeps its shape). The texts round their values; a field
  // that still holds exactly the text the dialog last wrote into it reads back as the values
  // behind that text, so that a "Set" never changes a value the user did not touch.
  void SetDlgItemDouble(int id, double value);
  void SetDlgItemMatrix(const matrix<double>& vector, int id);
  void GetDlgItemMatrix(matrix<double>& vector, int id);
  double GetDlgItemCoefficient(int id);

  // The tick's engine, integrator and substeps; they may change while the arm runs.
  StepOptions GetStepOptions() const;
  void SetStepOptions(const StepOptions& options);

  // The arm's own physics, which may change while it runs: its joints' limits (a joint outside
  // them when they are switched on is put at the nearest), which friction coefficients they take,
  // and the efforts' saturation. "Set" with a friction coefficient typed makes every joint take
  // the panel's.
  void SetLimits(bool on);
  void SetFrictionSource(FrictionSource source);
  void SetEffortLimits(bool on);

  // The controller of the forward ticks, from the next tick on; its reference starts afresh from
  // the pose the arm is in then when the law, target or trajectory change (and after a "Reset").
  void SetController(const ControllerSettings& settings);
  const ControllerSettings& GetController() const { return m_setup.controller; }

  // The mouse's pull on the arm from the next tick requested on (none: it ends); the forces held
  // and the pull the ticks take.
  void SetPull(const std::optional<Pull>& pull);
  const ArmForces& Forces() const { return m_forces; }

  // What the user should know of how the arm started (a start outside its limits), from
  // OnInitDialog on.
  const std::vector<std::string>& StartNotices() const { return m_startNotices; }
  // Which joints' torques the last forward tick shown saturated at their efforts.
  const std::vector<uint8_t>& Saturated() const { return m_saturated; }

  // How velmoth-sim makes the same arm.
  ReplayArm SimArm() const;
  // The step starts afresh from the next tick requested on, as a new one would, forgetting what it
  // carried from tick to tick (dopri5's step size, the implicit step's refinement): a recording
  // starts so, as its replay does. Returns that tick's number (TickResult::serial).
  uint64_t RestartStep();

  // Owned; null before OnInitDialog and after OnDestroy. The view holds a pointer to the robot,
  // so it is always deleted first.
  ViewWindow* m_pView = nullptr;
  Robot* m_pRobot = nullptr;
  // Computes the ticks on its own copy of the arm; each tick done is copied into m_pRobot.
  std::unique_ptr<PhysicsThread> m_pPhysics;

  // The vectors the user last set with "Set Accel." and "Set Torque": n x 1 zeros from
  // OnInitDialog on. Only the commands write them; the tick works on copies.
  matrix<double> m_accel{3};
  matrix<double> m_torque{3};

  IconHandle m_hIcon = 0;

 private:
  // The text last written into a field and the values it stands for.
  struct WrittenText {
    std::string text;
    matrix<double> vector{0, 1};
    double number = 0.0;
  };
  // The field's text when it is the one last written into it, null otherwise.
  const WrittenText* Untouched(int id, const char* text) const;
  // Whether the user changed the field's text since the dialog last wrote it.
  bool Edited(int id) const;
  // The tick the user asks for now: the mode chosen and copies of the vectors set.
  TickRequest RequestNow() const;
  // Hands the physics thread the request that the paced ticks take from now on.
  void PublishRequest();
  // Shows the ticks done, in order: each is copied into the arm and told to the listeners; the
  // panel's read-outs and the view show the newest.
  void ShowTicksDone();
  // Hands the arm's physics (limits, friction source, efforts) to the ticks from the next on.
  void SendPhysics();

  WindowSystem& m_window;
  ArmSetup m_setup;
  std::vector<TickListener*> m_listeners;
  std::map<int, WrittenText> m_written;
  std::vector<std::string> m_startNotices;
  std::vector<uint8_t> m_saturated;
  ArmForces m_forces;
  bool m_threaded = false;
  // A tick shown left the state not finite: until "Reset", no later tick is shown.
  bool m_diverged = false;
  TickPacer m_pacer{static_cast<int64_t>(kTickPeriodMs) * 1'000'000};
};
