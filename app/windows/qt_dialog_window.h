// QtDialogWindow: the window-system layer on Qt 6 Widgets. It builds a dialog from its template
// (one widget per control, placed in dialog units of an 8-point UI font), delivers the dialog's
// messages to a DialogMessages handler one at a time on the UI thread, and provides the services of
// WindowSystem: control text and states, the tick timer, the 3-D view, icons and message boxes.
//
// The tick timer keeps a simulation clock (TickClock) against the monotonic wall clock: each timer
// event delivers one OnTimer for every whole period that has fallen due since the last one, back to
// back, within the clock's cap, and the dialog repaints once after them. Late periods are so made
// up instead of dropped; the clock's pause, step and slowdown act on the same timer. A dialog that
// is not ready for the periods due (WantsTimer) has them deferred: the run slows down instead. (The
// main dialog's ticks on their thread keep their pace on a thread of their own: see TickPacer.)
//
// A bar may sit below the dialog's client area (a status strip): the client area the dialog sees,
// and the sizes it is told about, end above it. Another may sit along its right edge above that
// one (a side panel): while it is shown, the client area ends left of it, and the window is kept
// at least as wide as the controls and the side bar together (the screen permitting).
//
// Keys: Escape and the close button end the dialog; Enter does nothing (no push button is a
// default button, so it neither ends the dialog nor clicks a button); F1 runs the help handler.
#pragma once

#include <memory>

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <vector>

#include "app/dialog_template.h"
#include "app/tick_clock.h"
#include "app/window_system.h"

class QAbstractButton;
class QButtonGroup;
class QKeyEvent;
class QPainter;
class QPaintEvent;
class QResizeEvent;
class QTimerEvent;
class COglWndCustom;

class QtDialogWindow : public QDialog, public WindowSystem {
  Q_OBJECT

 public:
  // Shows one message box text to the user; the default is a modal box with an OK button.
  using MessageBoxHook = std::function<void(QWidget* parent, const QString& text)>;

  explicit QtDialogWindow(const DialogTemplate& dialog, QWidget* parent = nullptr);
  ~QtDialogWindow() override;

  // Runs the handler's initialisation on the built controls, then gives the focus to the first
  // control with a tab stop when the handler asks for it. Does not show the dialog. The handler
  // gets messages until DestroyDialog, which must run before the handler goes.
  void InitDialog(DialogMessages& messages);

  // Initialises, runs the dialog modally until it ends, then destroys it. Returns the result of the
  // modal loop (Accepted or Rejected).
  int DoModal(DialogMessages& messages);

  // Stops every timer and sends OnDestroy once; afterwards no message reaches the handler. Runs at
  // the latest when the window object is deleted.
  void DestroyDialog();

  // The widget of a control, null for an unknown identifier.
  QWidget* Control(int id) const;

  // The 3-D view's widget (the container the view's window is embedded in) and the view itself,
  // while they exist.
  QWidget* ViewWidget() const;
  COglWndCustom* View() const;

  // Stops a timer that SetTimer started.
  void KillTimer(unsigned id);

  // The simulation clock of a timer that SetTimer started, null for another identifier; it lives
  // as long as the window, also after the timer stopped. After changing it (pause, step,
  // slowdown), WakeTimer makes a running timer follow the change at once.
  TickClock* TimerClock(unsigned id);
  void WakeTimer(unsigned id);

  // The monotonic wall clock the timers' clocks run on, in nanoseconds.
  static int64_t Now();

  // Puts bar along the bottom edge, across the whole width; the dialog's client area ends above
  // it, also when the bar changes its height. The window takes ownership.
  void SetBottomBar(QWidget* bar);
  // Puts bar along the right edge, from the top to the bottom bar, as wide as it is; shown or
  // hidden (its own show and hide), the client area makes room for it or takes the room back. The
  // window takes ownership.
  void SetSideBar(QWidget* bar);

  // What F1 (the help command) runs; by default nothing.
  void SetHelpHandler(std::function<void()> handler);

  // Replaces how message boxes are shown; an empty function restores the default. Returns the hook
  // it replaced.
  static MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

  // The 8-point UI font the dialog's controls use and its dialog base units in pixels.
  int BaseUnitX() const { return baseUnitX_; }
  int BaseUnitY() const { return baseUnitY_; }

  // WindowSystem
  void SetDlgItemText(int id, const char* text) override;
  int GetDlgItemText(int id, char* buffer, int size) const override;
  unsigned IsDlgButtonChecked(int id) const override;
  void CheckDlgButton(int id, unsigned check) override;
  void EnableDlgItem(int id, bool enable) override;
  void SetTimer(unsigned id, unsigned periodMs) override;
  void PostAppMessage(unsigned id) override;
  PixelRect GetClientRect() const override;
  ViewWindow* CreateView(Robot* robot, const PixelRect& rect) override;
  void MessageBox(const char* text) override;
  IconHandle LoadIcon(int resourceId) override;
  void SetIcon(IconHandle icon, bool big) override;
  bool IsIconic() const override;
  int IconSize() const override;
  void DrawIcon(IconHandle icon, int x, int y) override;

 protected:
  void done(int result) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  struct TickTimer {
    explicit TickTimer(int64_t periodNs) : clock(periodNs) {}
    TickClock clock;
    bool running = true;
    int qtId = 0;  // the pending single-shot Qt timer, 0 for none
  };

  void BuildControls(const DialogTemplate& dialog);
  void StopTimers();
  TickTimer* RunningTimer(unsigned id);
  void Schedule(TickTimer& timer);
  void RunBurst(unsigned id);
  int BarHeight() const;
  int SideWidth() const;
  // Places the bar along the bottom edge and tells the handler the client area's size.
  void LayOutBar(QSize size);

  std::map<int, QWidget*> controls_;
  std::map<int, QButtonGroup*> radioGroups_;  // template group -> its exclusive button group
  std::map<unsigned, std::unique_ptr<TickTimer>> timers_;  // by dialog timer id, never removed
  std::vector<QIcon> icons_;                               // IconHandle i + 1 is icons_[i]
  QPointer<QWidget> view_;
  QPointer<COglWndCustom> viewWindow_;
  QPointer<QWidget> bar_;
  QPointer<QWidget> side_;
  DialogMessages* messages_ = nullptr;
  bool ended_ = false;  // the dialog ended: the messages it posted to itself are not delivered
  std::function<void()> helpHandler_;
  QPainter* painter_ = nullptr;  // while a paint of the dialog runs
  int baseUnitX_ = 0;
  int baseUnitY_ = 0;
};
