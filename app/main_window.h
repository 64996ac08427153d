// MainWindow: the simulator's window as the program shows it. The dialog (control panel above the
// 3-D view) with the status strip below the view, the run control with its keys and buttons, all
// wired together here; the dialog's logic and the view know nothing of them.
//
// Keys (they never collide with typing in the panel's fields): F5 pauses and resumes, F6 runs a
// single tick (pausing first), F7 halves the speed and F8 doubles it, between 1/16 and 1.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <memory>

#include <QToolButton>

#include "app/qt_dialog_window.h"
#include "app/run_control.h"
#include "app/status_strip.h"
#include "app/velmoth_dlg.h"

class MainWindow : public QObject {
  Q_OBJECT

 public:
  // How often the status strip is refreshed, in milliseconds.
  static constexpr int kStripRefreshMs = 250;

  MainWindow();
  ~MainWindow() override;

  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Initialises the dialog and wires the strip, the keys and the run control. Does not show it.
  void Open();
  // Opens, runs the dialog modally until it ends, then closes. Returns the modal loop's result.
  int Exec();
  // Ends the dialog: afterwards no tick runs and no message reaches the dialog's logic.
  void Close();

  QtDialogWindow& Window() { return window_; }
  CVelmothDlg& Dlg() { return dlg_; }
  RunControl& Run() { return *run_; }
  StatusStrip& Strip() { return *strip_; }

  // Frames the view has shown since the window opened.
  uint64_t Frames() const { return frames_; }

  // Brings the strip up to date now; it also does so by itself a few times per second.
  void RefreshStrip();

 private:
  QToolButton* AddAction(int key, const char* label, const char* tip, void (RunControl::*action)());

  QtDialogWindow window_;
  CVelmothDlg dlg_{window_};
  QPointer<StatusStrip> strip_;
  QPointer<QToolButton> pauseButton_;
  std::unique_ptr<RunControl> run_;
  QTimer stripTimer_;
  RateMeter tickRate_;
  RateMeter frameRate_;
  uint64_t frames_ = 0;
  bool open_ = false;
};
