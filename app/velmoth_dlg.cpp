#include "app/velmoth_dlg.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "dynamics/dynamics.h"
#include "robot/input_checks.h"
#include "robot/robot.h"
#include "simulation/joint_limits.h"
#include "simulation/text_fields.h"

namespace {

// Vector text is read from at most 1023 characters, into a buffer one character longer than the
// read limit; a coefficient from at most 63.
constexpr int kVectorReadLimit = 1024;
constexpr int kCoefficientReadLimit = 64;

// A pause waits for the tick in progress when ticks take less than this of the physics thread's
// processor time, for at most kSettleWaitNs: the arm then stops at once where the user saw it.
constexpr int64_t kSettleCostNs = 20'000'000;
constexpr int64_t kSettleWaitNs = 100'000'000;

struct CommandEntry {
  int id;
  void (CVelmothDlg::*handler)();
};

// The clicks the dialog answers, in the order they are looked up.
constexpr CommandEntry kCommandMap[] = {
    {kIdReset, &CVelmothDlg::OnBnClickedReset},
    {kIdSetAccel, &CVelmothDlg::OnBnClickedSetAccel},
    {kIdSetTorque, &CVelmothDlg::OnBnClickedSetTorque},
    {kIdForward, &CVelmothDlg::OnBnClickedForward},
    {kIdInverse, &CVelmothDlg::OnBnClickedInverse},
    {kIdSet, &CVelmothDlg::OnBnClickedSet},
};

}  // namespace

CVelmothDlg::CVelmothDlg(WindowSystem& window) : m_window(window) {
  m_hIcon = m_window.LoadIcon(kAppIconId);
}

CVelmothDlg::~CVelmothDlg() {
  // A dialog whose window never got as far as OnDestroy still frees the view before the robot.
  OnDestroy();
}

bool CVelmothDlg::OnInitDialog() {
  m_window.SetIcon(m_hIcon, true);
  m_window.SetIcon(m_hIcon, false);

  if (m_setup.make) {
    m_pRobot = m_setup.make().release();
  } else {
    m_pRobot = new Robot(0.0, 0.0, -9.81, 0.1, 0.1);
    m_pRobot->kineticEnergy = 0.0;
    m_pRobot->potentialEnergy = 0.0;
    for (int i = 0; i < kBuiltInLinkCount; ++i) {
      AddBuiltInLink(*m_pRobot);
    }
  }

  if (m_setup.viscous) {
    m_pRobot->viscousFriction = ReadCoefficientText(*m_setup.viscous);
  }
  if (m_setup.coulomb) {
    m_pRobot->coulombFriction = ReadCoefficientText(*m_setup.coulomb);
  }
  if (m_setup.gravity) {
    ReadVectorText(*m_setup.gravity, m_pRobot->gravity);
  }
  m_pRobot->limits = m_setup.limits;
  m_pRobot->frictionSource = m_setup.friction.value_or(
      m_setup.viscous || m_setup.coulomb ? FrictionSource::kUniform : FrictionSource::kFile);
  m_pRobot->effortLimits = m_setup.effortLimits;

  const auto n = static_cast<uint32_t>(m_pRobot->links.size());
  // The initial pose and velocities, read as the panel reads vector text.
  matrix<double> start(n, 1);
  ReadVectorText(m_setup.q0, start);
  for (uint32_t i = 0; i < n; ++i) {
    m_pRobot->links[i]->q = start(i, 0);
  }
  ReadVectorText(m_setup.qd0, start);
  for (uint32_t i = 0; i < n; ++i) {
    m_pRobot->links[i]->qd = start(i, 0);
  }
  m_startNotices.clear();
  if (const std::string notice = ClampStartToLimits(*m_pRobot); !notice.empty()) {
    m_startNotices.push_back(notice);
  }
  m_saturated.assign(n, 0);
  m_forces = ArmForces{m_setup.forces, std::nullopt};
  m_setup.step.substeps = std::clamp(m_setup.step.substeps, 1, kMaxSubsteps);
  m_pPhysics = std::make_unique<PhysicsThread>(
      *m_pRobot, m_setup.step, m_threaded, [this] { m_window.PostAppMessage(kTicksDoneMessage); });
  if (!(m_setup.controller == ControllerSettings{})) {
    m_pPhysics->SetController(m_setup.controller);
  }
  m_diverged = false;
  m_accel.Resize(n, 1);
  m_accel.SetZero();
  m_torque.Resize(n, 1);
  m_torque.SetZero();

  // The view takes the client area below the panel; a client area shorter than the panel leaves
  // it without height rather than with a negative one.
  PixelRect rect = m_window.GetClientRect();
  rect.top += kViewTop;
  if (rect.bottom < rect.top) {
    rect.bottom = rect.top;
  }
  m_pView = m_window.CreateView(m_pRobot, rect);

  m_window.CheckDlgButton(kIdForward, kChecked);
  SetDlgItemMatrix(m_pRobot->gravity, kIdGravity);
  SetDlgItemDouble(kIdViscousFriction, m_pRobot->viscousFriction);
  SetDlgItemDouble(kIdCoulombFriction, m_pRobot->coulombFriction);
  OnBnClickedForward();
  if (m_threaded) {
    PublishRequest();
    m_pacer.Start([this] { return m_pPhysics->CanQueue(); },
                  [this] { m_pPhysics->SubmitStanding(); });
  } else {
    m_window.SetTimer(kTickTimerId, kTickPeriodMs);
  }
  return true;
}

TickRequest CVelmothDlg::RequestNow() const {
  // The tick takes copies: what the user sets later applies to later ticks only.
  TickRequest tick;
  if (m_window.IsDlgButtonChecked(kIdForward) == kChecked) {
    tick.mode = kIdForward;
  } else if (m_window.IsDlgButtonChecked(kIdInverse) == kChecked) {
    tick.mode = kIdInverse;
  }
  tick.accel = ValuesOf(m_accel);
  tick.torque = ValuesOf(m_torque);
  tick.forces = m_forces;
  return tick;
}

void CVelmothDlg::PublishRequest() {
  if (m_threaded && m_pPhysics != nullptr) {
    m_pPhysics->SetStanding(RequestNow());
  }
}

void CVelmothDlg::OnTimer(unsigned /*id*/) {
  if (m_pRobot == nullptr) {
    return;
  }
  m_pPhysics->Submit(RequestNow());
  ShowTicksDone();  // without a thread, it is done already
}

bool CVelmothDlg::WantsTimer(unsigned /*id*/) {
  return m_pPhysics == nullptr || m_pPhysics->CanQueue();
}

void CVelmothDlg::OnAppMessage(unsigned id) {
  if (id == kTicksDoneMessage) {
    ShowTicksDone();
  }
}

void CVelmothDlg::ShowTicksDone() {
  // The newest tick shown: its mode and the output it wrote into the panel.
  int mode = -1;
  matrix<double> output;
  while (m_pPhysics != nullptr) {
    std::optional<TickDone> tick = m_pPhysics->Take();
    if (!tick) {
      break;
    }
    // The run stopped at the tick that diverged: what was computed after it is not shown.
    if (m_diverged) {
      continue;
    }
    tick->state.ApplyTo(*m_pRobot);
    if (tick->mode == kIdForward) {
      m_saturated = tick->saturated;
    }
    const matrix<double> accel = ColumnOf(tick->accel);
    const matrix<double> torque = ColumnOf(tick->torque);
    const TickResult result{*m_pRobot,
                            tick->mode,
                            accel,
                            torque,
                            tick->serial,
                            &tick->inputs,
                            tick->setQ.empty() ? nullptr : &tick->setQ,
                            tick->referenceStart ? &*tick->referenceStart : nullptr,
                            tick->reference.empty() ? nullptr : &tick->reference,
                            tick->error.empty() ? nullptr : &tick->error};
    for (TickListener* listener : m_listeners) {
      listener->OnTick(result);
    }
    mode = tick->mode;
    output = tick->mode == kIdInverse ? torque : accel;
    m_diverged = !StateIsFinite(*m_pRobot);
  }
  if (mode < 0) {
    return;
  }
  if (mode == kIdForward) {
    SetDlgItemMatrix(output, kIdJointAccel);
  } else if (mode == kIdInverse) {
    SetDlgItemMatrix(output, kIdJointTorque);
  }
  SetDlgItemDouble(kIdKineticEnergy, m_pRobot->kineticEnergy);
  SetDlgItemDouble(kIdPotentialEnergy, m_pRobot->potentialEnergy);
  SetDlgItemDouble(kIdTotalEnergy, m_pRobot->kineticEnergy + m_pRobot->potentialEnergy);
  SetDlgItemMatrix(m_pRobot->GetJointAngles(), kIdJointAngle);
  if (m_pView != nullptr) {
    m_pView->Invalidate();
  }
}

void CVelmothDlg::SettleTicks() {
  if (m_pPhysics == nullptr) {
    return;
  }
  m_pPhysics->DropPending();
  if (m_pPhysics->WorkNs() < kSettleCostNs) {
    m_pPhysics->WaitIdle(kSettleWaitNs);
  }
  ShowTicksDone();
}

int64_t CVelmothDlg::TickCostNs() const {
  return m_pPhysics != nullptr ? m_pPhysics->CostNs() : 0;
}

void CVelmothDlg::OnSize(unsigned /*type*/, int width, int height) {
  if (m_pView == nullptr) {
    return;
  }
  // The view keeps its place under the panel and fills the rest of the client area; its lower
  // edge is the client area's, so nothing of the picture is clipped off.
  const int viewHeight = height > kViewTop ? height - kViewTop : 0;
  m_pView->SetSize(width, viewHeight);
}

void CVelmothDlg::OnPaint() {
  if (!m_window.IsIconic()) {
    return;
  }
  const int iconSize = m_window.IconSize();
  const PixelRect client = m_window.GetClientRect();
  const int x = (client.Width() - iconSize + 1) / 2;
  const int y = (client.Height() - iconSize + 1) / 2;
  m_window.DrawIcon(m_hIcon, x, y);
}

void CVelmothDlg::OnDestroy() {
  // The pacer first, which asks the physics for ticks; then the physics: a tick in progress is
  // given up and the thread joined.
  m_pacer.Stop();
  m_pPhysics.reset();
  delete m_pView;
  m_pView = nullptr;
  delete m_pRobot;
  m_pRobot = nullptr;
}

bool CVelmothDlg::OnCommand(int id) {
  for (const CommandEntry& entry : kCommandMap) {
    if (entry.id == id) {
      // Between OnDestroy and the end of the window nothing is left to command.
      if (m_pRobot != nullptr) {
        (this->*entry.handler)();
        PublishRequest();
      }
      return true;
    }
  }
  return false;
}

void CVelmothDlg::OnBnClickedReset() {
  // The ticks requested before are moot: none of them is shown.
  m_pPhysics->Reset();
  m_pRobot->ResetJointState();
  // A zero outside a joint's limits is its nearest limit (the start said so).
  ClampStartToLimits(*m_pRobot);
  m_diverged = false;
  for (TickListener* listener : m_listeners) {
    listener->OnResetJointState(*m_pRobot);
  }
}

void CVelmothDlg::SetPose(const std::vector<double>& q) {
  if (m_pRobot == nullptr || q.size() != m_pRobot->links.size()) {
    return;
  }
  m_pPhysics->SetPose(q);
  m_pRobot->ResetJointState();
  for (std::size_t i = 0; i < q.size(); ++i) {
    m_pRobot->links[i]->q = q[i];
  }
  ClampStartToLimits(*m_pRobot);
  m_diverged = false;
  for (TickListener* listener : m_listeners) {
    listener->OnResetJointState(*m_pRobot);
  }
  SetDlgItemMatrix(m_pRobot->GetJointAngles(), kIdJointAngle);
  if (m_pView != nullptr) {
    m_pView->Invalidate();
  }
}

StepOptions CVelmothDlg::GetStepOptions() const {
  return m_setup.step;
}

void CVelmothDlg::SetStepOptions(const StepOptions& options) {
  // From the next tick on.
  m_setup.step = options;
  m_setup.step.substeps = std::clamp(options.substeps, 1, kMaxSubsteps);
  if (m_pPhysics != nullptr) {
    m_pPhysics->SetOptions(m_setup.step);
  }
}

void CVelmothDlg::SetLimits(bool on) {
  m_setup.limits = on;
  if (m_pRobot != nullptr) {
    m_pRobot->limits = on;
    ClampStartToLimits(*m_pRobot);
    SendPhysics();
  }
}

void CVelmothDlg::SetFrictionSource(FrictionSource source) {
  m_setup.friction = source;
  if (m_pRobot != nullptr) {
    m_pRobot->frictionSource = source;
    SendPhysics();
  }
}

void CVelmothDlg::SetEffortLimits(bool on) {
  m_setup.effortLimits = on;
  if (m_pRobot != nullptr) {
    m_pRobot->effortLimits = on;
    SendPhysics();
  }
}

void CVelmothDlg::SetController(const ControllerSettings& settings) {
  m_setup.controller = settings;
  if (m_pPhysics != nullptr) {
    m_pPhysics->SetController(settings);
  }
}

void CVelmothDlg::SetPull(const std::optional<Pull>& pull) {
  m_forces.pull = pull;
  PublishRequest();
}

void CVelmothDlg::SendPhysics() {
  if (m_pPhysics != nullptr) {
    m_pPhysics->SetPhysics(m_pRobot->limits, m_pRobot->frictionSource, m_pRobot->effortLimits);
  }
}

ReplayArm CVelmothDlg::SimArm() const {
  if (m_setup.simArm.empty() && !m_setup.make) {
    return {{"--links", std::to_string(kBuiltInLinkCount)}};
  }
  return m_setup.simArm;
}

uint64_t CVelmothDlg::RestartStep() {
  return m_pPhysics != nullptr ? m_pPhysics->RestartStep() : 0;
}

void CVelmothDlg::AddTickListener(TickListener* listener) {
  m_listeners.push_back(listener);
}

void CVelmothDlg::RemoveTickListener(TickListener* listener) {
  m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener),
                    m_listeners.end());
}

void CVelmothDlg::OnBnClickedSetAccel() {
  GetDlgItemMatrix(m_accel, kIdJointAccel);
}

void CVelmothDlg::OnBnClickedSetTorque() {
  GetDlgItemMatrix(m_torque, kIdJointTorque);
}

void CVelmothDlg::OnBnClickedForward() {
  if (m_window.IsDlgButtonChecked(kIdForward) != kChecked) {
    return;
  }
  m_window.EnableDlgItem(kIdSetTorque, true);
  m_window.EnableDlgItem(kIdSetAccel, false);
  m_window.EnableDlgItem(kIdJointTorque, true);
  m_window.EnableDlgItem(kIdJointAccel, false);
  SetDlgItemMatrix(m_torque, kIdJointTorque);
}

void CVelmothDlg::OnBnClickedInverse() {
  if (m_window.IsDlgButtonChecked(kIdInverse) != kChecked) {
    return;
  }
  m_window.EnableDlgItem(kIdSetTorque, false);
  m_window.EnableDlgItem(kIdSetAccel, true);
  m_window.EnableDlgItem(kIdJointTorque, false);
  m_window.EnableDlgItem(kIdJointAccel, true);
  SetDlgItemMatrix(m_accel, kIdJointAccel);
}

void CVelmothDlg::OnBnClickedSet() {
  // A coefficient that no friction can have is refused, as everywhere, and nothing is set.
  const double viscous = GetDlgItemCoefficient(kIdViscousFriction);
  const double coulomb = GetDlgItemCoefficient(kIdCoulombFriction);
  std::string problem = FrictionProblem("viscous", viscous);
  problem = problem.empty() ? FrictionProblem("coulomb", coulomb) : problem;
  if (!problem.empty()) {
    m_window.MessageBox(("Set is refused: " + problem + ".").c_str());
    return;
  }
  // A coefficient the user typed is every joint's: the panel's are uniform.
  if (Edited(kIdViscousFriction) || Edited(kIdCoulombFriction)) {
    SetFrictionSource(FrictionSource::kUniform);
  }
  m_pRobot->viscousFriction = viscous;
  m_pRobot->coulombFriction = coulomb;
  GetDlgItemMatrix(m_pRobot->gravity, kIdGravity);
  const matrix<double>& g = m_pRobot->gravity;
  m_pPhysics->SetParameters(m_pRobot->viscousFriction, m_pRobot->coulombFriction,
                            {g(0, 0), g(1, 0), g(2, 0)});
}

void CVelmothDlg::SetDlgItemDouble(int id, double value) {
  WrittenText& written = m_written[id];
  written.text = NumberText(value);
  written.number = value;
  m_window.SetDlgItemText(id, written.text.c_str());
}

void CVelmothDlg::SetDlgItemMatrix(const matrix<double>& vector, int id) {
  WrittenText& written = m_written[id];
  written.text = VectorText(vector);
  written.vector = vector;
  m_window.SetDlgItemText(id, written.text.c_str());
}

const CVelmothDlg::WrittenText* CVelmothDlg::Untouched(int id, const char* text) const {
  const auto it = m_written.find(id);
  return it != m_written.end() && it->second.text == text ? &it->second : nullptr;
}

bool CVelmothDlg::Edited(int id) const {
  char text[kVectorReadLimit + 1] = {};
  m_window.GetDlgItemText(id, text, kVectorReadLimit);
  text[kVectorReadLimit] = '\0';
  return Untouched(id, text) == nullptr;
}

void CVelmothDlg::GetDlgItemMatrix(matrix<double>& vector, int id) {
  char text[kVectorReadLimit + 1] = {};
  m_window.GetDlgItemText(id, text, kVectorReadLimit);
  text[kVectorReadLimit] = '\0';
  const WrittenText* written = Untouched(id, text);
  if (written == nullptr || written->vector.RowCount() != vector.RowCount()) {
    ReadVectorText(text, vector);
    return;
  }
  for (uint32_t i = 0; i < vector.RowCount(); ++i) {
    vector(i, 0) = written->vector(i, 0);
  }
}

double CVelmothDlg::GetDlgItemCoefficient(int id) {
  char text[kCoefficientReadLimit] = {};
  m_window.GetDlgItemText(id, text, kCoefficientReadLimit);
  const WrittenText* written = Untouched(id, text);
  return written != nullptr ? written->number : ReadCoefficientText(text);
}
