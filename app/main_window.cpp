#include "app/main_window.h"

#include <QKeySequence>
#include <QShortcut>
#include <QToolButton>

#include "app/dialog_template.h"
#include "app/status_strip.h"
#include "dynamics/dynamics.h"
#include "view/ogl_wnd_custom.h"

MainWindow::MainWindow() : window_(kMainDialogTemplate) {
  strip_ = new StatusStrip;
  window_.SetBottomBar(strip_);
}

MainWindow::~MainWindow() {
  Close();
}

void MainWindow::Open() {
  window_.InitDialog(dlg_);
  open_ = true;
  TickClock* clock = window_.TimerClock(kTickTimerId);
  run_ = std::make_unique<RunControl>(*clock, &QtDialogWindow::Now,
                                      [this] { window_.WakeTimer(kTickTimerId); });
  dlg_.AddTickListener(run_.get());

  pauseButton_ = AddAction(Qt::Key_F5, "Pause", "Pause or resume (F5)", &RunControl::TogglePause);
  AddAction(Qt::Key_F6, "Step", "One tick, pausing first (F6)", &RunControl::Step);
  AddAction(Qt::Key_F7, "Slower", "Half the speed, down to 1/16 (F7)", &RunControl::Slower);
  AddAction(Qt::Key_F8, "Faster", "Twice the speed, up to real time (F8)", &RunControl::Faster);

  if (COglWndCustom* view = window_.View()) {
    connect(view, &COglWnd::frameSwapped, this, [this] { ++frames_; });
  }
  connect(&stripTimer_, &QTimer::timeout, this, &MainWindow::RefreshStrip);
  stripTimer_.start(kStripRefreshMs);
  RefreshStrip();
}

// A strip button and a key for one action of the run control; the key works in every window of the
// program.
QToolButton* MainWindow::AddAction(int key, const char* label, const char* tip,
                                   void (RunControl::*action)()) {
  QToolButton* button = strip_->AddButton(QString::fromLatin1(label), QString::fromLatin1(tip));
  const auto run = [this, action] {
    if (run_ != nullptr) {
      ((*run_).*action)();
      RefreshStrip();
    }
  };
  connect(button, &QToolButton::clicked, this, run);
  auto* shortcut = new QShortcut(QKeySequence(key), &window_);
  shortcut->setContext(Qt::ApplicationShortcut);
  connect(shortcut, &QShortcut::activated, this, run);
  return button;
}

int MainWindow::Exec() {
  Open();
  const int result = window_.exec();
  Close();
  return result;
}

void MainWindow::Close() {
  stripTimer_.stop();
  if (open_) {
    open_ = false;
    window_.DestroyDialog();
    dlg_.RemoveTickListener(run_.get());
  }
}

void MainWindow::RefreshStrip() {
  if (run_ == nullptr || strip_ == nullptr) {
    return;
  }
  const int64_t now = QtDialogWindow::Now();
  tickRate_.Sample(now, run_->Ticks());
  frameRate_.Sample(now, frames_);
  const double realTime = tickRate_.PerSecond() * kTimeStep;
  strip_->SetStatus(QString::fromStdString(
      run_->StatusText(realTime, frameRate_.PerSecond(), window_.View() != nullptr)));
  if (pauseButton_ != nullptr) {
    pauseButton_->setText(run_->State() == RunState::kRunning ? QStringLiteral("Pause")
                                                              : QStringLiteral("Resume"));
  }
}
