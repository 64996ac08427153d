#include "app/windows/qt_dialog_window.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimerEvent>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <utility>

#include "view/ogl_wnd.h"
#include "view/ogl_wnd_custom.h"

// The icon images are compiled into the library; a static library must register them itself.
static void InitIconResources() {
  Q_INIT_RESOURCE(velmoth);
}

namespace {

// The application icon's images, smallest first.
constexpr const char* kIconFiles[] = {
    ":/velmoth/icons/velmoth-16.png",  ":/velmoth/icons/velmoth-24.png",
    ":/velmoth/icons/velmoth-32.png",  ":/velmoth/icons/velmoth-48.png",
    ":/velmoth/icons/velmoth-256.png",
};

QtDialogWindow::MessageBoxHook& MessageBoxHookSlot() {
  static QtDialogWindow::MessageBoxHook hook;
  return hook;
}

// The 3-D view as the dialog owns it: deleting it deletes the container, and with it the view's
// window and its OpenGL context.
class QtViewWindow : public ViewWindow {
 public:
  QtViewWindow(QWidget* container, COglWndCustom* view) : container_(container), view_(view) {}
  ~QtViewWindow() override { delete container_.data(); }

  void Invalidate() override {
    if (view_ != nullptr) {
      view_->update();
    }
  }

  void SetSize(int width, int height) override {
    if (container_ != nullptr) {
      container_->resize(width, height);
    }
  }

 private:
  QPointer<QWidget> container_;
  QPointer<COglWndCustom> view_;
};

// Window flags of a dialog template's styles: a top-level window (so it has its own entry in the
// task bar) with exactly the caption buttons the template asks for.
Qt::WindowFlags FlagsOf(const DialogTemplate& dialog) {
  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
  if ((dialog.style & kStyleCaption) == kStyleCaption) {
    flags |= Qt::WindowTitleHint;
  }
  if (dialog.style & kStyleSystemMenu) {
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  }
  if (dialog.style & kStyleMinimizeBox) {
    flags |= Qt::WindowMinimizeButtonHint;
  }
  if (dialog.style & kStyleMaximizeBox) {
    flags |= Qt::WindowMaximizeButtonHint;
  }
  return flags;
}

}  // namespace

QtDialogWindow::QtDialogWindow(const DialogTemplate& dialog, QWidget* parent)
    : QDialog(parent, FlagsOf(dialog)) {
  setWindowTitle(QString::fromLatin1(dialog.caption));

  // An 8-point UI font stands in for the template's font; its metrics give the dialog units.
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(dialog.fontPointSize);
  setFont(font);
  const QFontMetrics metrics(font);
  baseUnitX_ = AverageCharWidthOfAlphabet(metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")));
  baseUnitY_ = metrics.height();

  BuildControls(dialog);
  resize(DialogUnitsToPixelsX(dialog.width, baseUnitX_),
         DialogUnitsToPixelsY(dialog.height, baseUnitY_));
  if (!(dialog.style & kStyleSizingBorder)) {
    setFixedSize(size());
  }

  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, [this] {
    if (helpHandler_) {
      helpHandler_();
    }
  });
}

QtDialogWindow::~QtDialogWindow() {
  DestroyDialog();
}

void QtDialogWindow::BuildControls(const DialogTemplate& dialog) {
  QWidget* previousTabStop = nullptr;
  for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
    const ControlTemplate& c = dialog.controls[i];
    const QString caption = QString::fromLatin1(c.caption);
    QWidget* widget = nullptr;
    switch (c.kind) {
      case ControlKind::kEdit: {
        auto* edit = new QLineEdit(caption, this);
        edit->setFrame((c.style & kStyleBorder) != 0);
        widget = edit;
        break;
      }
      case ControlKind::kLabel: {
        auto* label = new QLabel(caption, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlKind::kRadioButton: {
        auto* radio = new QRadioButton(caption, this);
        // The radio buttons of one template group exclude each other.
        radio->setAutoExclusive(false);
        QButtonGroup*& group = radioGroups_[GroupOf(dialog, i)];
        if (group == nullptr) {
          group = new QButtonGroup(this);
          group->setExclusive(true);
        }
        group->addButton(radio);
        widget = radio;
        break;
      }
      case ControlKind::kPushButton: {
        auto* button = new QPushButton(caption, this);
        // No button becomes the default one, so Enter never clicks a button.
        button->setAutoDefault(false);
        button->setDefault(false);
        widget = button;
        break;
      }
    }
    widget->setGeometry(
        DialogUnitsToPixelsX(c.x, baseUnitX_), DialogUnitsToPixelsY(c.y, baseUnitY_),
        DialogUnitsToPixelsX(c.width, baseUnitX_), DialogUnitsToPixelsY(c.height, baseUnitY_));
    if (c.kind == ControlKind::kLabel) {
      widget->setFocusPolicy(Qt::NoFocus);
    } else if (c.style & kStyleTabStop) {
      widget->setFocusPolicy(Qt::StrongFocus);
      if (previousTabStop != nullptr) {
        QWidget::setTabOrder(previousTabStop, widget);
      }
      previousTabStop = widget;
    } else {
      widget->setFocusPolicy(Qt::ClickFocus);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
      const int id = c.id;
      connect(button, &QAbstractButton::clicked, this, [this, id] {
        if (messages_ != nullptr) {
          messages_->OnCommand(id);
        }
      });
    }
    if (c.id != kStaticId) {
      controls_[c.id] = widget;
    }
  }
}

void QtDialogWindow::InitDialog(DialogMessages& messages) {
  messages_ = &messages;
  ended_ = false;
  if (messages.OnInitDialog()) {
    // The first control in tab order that can take the focus.
    QWidget* first = nullptr;
    for (QWidget* w = nextInFocusChain(); w != nullptr && w != this; w = w->nextInFocusChain()) {
      if (w->parentWidget() == this && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled()) {
        first = w;
        break;
      }
    }
    if (first != nullptr) {
      first->setFocus(Qt::OtherFocusReason);
    }
  }
}

int QtDialogWindow::DoModal(DialogMessages& messages) {
  InitDialog(messages);
  const int result = exec();
  DestroyDialog();
  return result;
}

void QtDialogWindow::DestroyDialog() {
  StopTimers();
  DialogMessages* messages = std::exchange(messages_, nullptr);
  if (messages != nullptr) {
    messages->OnDestroy();
  }
}

void QtDialogWindow::StopTimers() {
  for (const auto& [id, timer] : timers_) {
    KillTimer(id);
  }
}

QWidget* QtDialogWindow::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

QWidget* QtDialogWindow::ViewWidget() const {
  return view_.data();
}

COglWndCustom* QtDialogWindow::View() const {
  return viewWindow_.data();
}

void QtDialogWindow::KillTimer(unsigned id) {
  const auto it = timers_.find(id);
  if (it != timers_.end()) {
    TickTimer& timer = *it->second;
    if (timer.qtId != 0) {
      killTimer(timer.qtId);
      timer.qtId = 0;
    }
    timer.running = false;
  }
}

QtDialogWindow::TickTimer* QtDialogWindow::RunningTimer(unsigned id) {
  const auto it = timers_.find(id);
  return it != timers_.end() && it->second->running ? it->second.get() : nullptr;
}

TickClock* QtDialogWindow::TimerClock(unsigned id) {
  const auto it = timers_.find(id);
  return it == timers_.end() ? nullptr : &it->second->clock;
}

void QtDialogWindow::WakeTimer(unsigned id) {
  if (TickTimer* timer = RunningTimer(id)) {
    Schedule(*timer);
  }
}

int64_t QtDialogWindow::Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void QtDialogWindow::SetBottomBar(QWidget* bar) {
  delete bar_.data();
  bar_ = bar;
  bar->setParent(this);
  bar->setGeometry(0, height() - bar->height(), width(), bar->height());
  bar->installEventFilter(this);
  bar->show();
}

void QtDialogWindow::SetSideBar(QWidget* bar) {
  delete side_.data();
  side_ = bar;
  bar->setParent(this);
  bar->installEventFilter(this);
  LayOutBar(size());
}

// A bar that grows or shrinks (a strip showing more lines) keeps to the bottom edge, and the view
// above it gives up or takes the room; so does the view beside a side bar shown, hidden or made
// wider.
bool QtDialogWindow::eventFilter(QObject* watched, QEvent* event) {
  const auto* resize =
      event->type() == QEvent::Resize ? static_cast<QResizeEvent*>(event) : nullptr;
  if (watched == bar_.data() && resize != nullptr &&
      resize->oldSize().height() != resize->size().height()) {
    LayOutBar(size());
  }
  if (watched == side_.data() &&
      (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent ||
       (resize != nullptr && resize->oldSize().width() != resize->size().width()))) {
    // The controls stay in sight beside the bar while it is shown.
    int controls = 0;
    for (const auto& [id, control] : controls_) {
      controls = std::max(controls, control->geometry().right() + 1);
    }
    const QScreen* screen = this->screen();
    const int room = screen != nullptr ? screen->availableGeometry().width() : controls;
    setMinimumWidth(side_->isHidden() ? 0 : std::min(controls + side_->width(), room));
    LayOutBar(size());
  }
  return QDialog::eventFilter(watched, event);
}

int QtDialogWindow::BarHeight() const {
  return bar_ != nullptr ? bar_->height() : 0;
}

int QtDialogWindow::SideWidth() const {
  return side_ != nullptr && !side_->isHidden() ? side_->width() : 0;
}

void QtDialogWindow::SetHelpHandler(std::function<void()> handler) {
  helpHandler_ = std::move(handler);
}

QtDialogWindow::MessageBoxHook QtDialogWindow::SetMessageBoxHook(MessageBoxHook hook) {
  return std::exchange(MessageBoxHookSlot(), std::move(hook));
}

void QtDialogWindow::SetDlgItemText(int id, const char* text) {
  QWidget* widget = Control(id);
  const QString value = QString::fromLatin1(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(value);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
  }
}

int QtDialogWindow::GetDlgItemText(int id, char* buffer, int size) const {
  if (size <= 0) {
    return 0;
  }
  QWidget* widget = Control(id);
  QString value;
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    value = edit->text();
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    value = button->text();
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    value = label->text();
  }
  // One byte per character; characters outside Latin-1 read as '?'.
  const QByteArray bytes = value.left(size - 1).toLatin1();
  const int n = std::min(static_cast<int>(bytes.size()), size - 1);
  std::memcpy(buffer, bytes.constData(), static_cast<std::size_t>(n));
  buffer[n] = '\0';
  return n;
}

unsigned QtDialogWindow::IsDlgButtonChecked(int id) const {
  auto* button = qobject_cast<QAbstractButton*>(Control(id));
  return button != nullptr && button->isChecked() ? kChecked : kUnchecked;
}

void QtDialogWindow::CheckDlgButton(int id, unsigned check) {
  auto* button = qobject_cast<QAbstractButton*>(Control(id));
  if (button == nullptr) {
    return;
  }
  if (check == kChecked) {
    button->setChecked(true);
    return;
  }
  // An exclusive group keeps its checked button; clearing one leaves the group without a check.
  QButtonGroup* group = button->group();
  if (group != nullptr) {
    group->setExclusive(false);
  }
  button->setChecked(false);
  if (group != nullptr) {
    group->setExclusive(true);
  }
}

void QtDialogWindow::EnableDlgItem(int id, bool enable) {
  if (QWidget* widget = Control(id)) {
    widget->setEnabled(enable);
  }
}

void QtDialogWindow::SetTimer(unsigned id, unsigned periodMs) {
  KillTimer(id);
  const int64_t period = static_cast<int64_t>(periodMs) * 1'000'000;
  std::unique_ptr<TickTimer>& timer = timers_[id];
  if (timer == nullptr) {
    timer = std::make_unique<TickTimer>(period);
  } else {
    timer->clock = TickClock(period);
  }
  timer->running = true;
  timer->clock.Start(Now());
  Schedule(*timer);
}

// One single-shot precise timer at a time, aimed at the clock's next due period (rounded up to the
// millisecond, so that the period has fallen due when it fires); none while the clock is paused
// with no step pending.
void QtDialogWindow::Schedule(TickTimer& timer) {
  if (timer.qtId != 0) {
    killTimer(timer.qtId);
    timer.qtId = 0;
  }
  const int64_t due = timer.clock.NextDue();
  if (due == std::numeric_limits<int64_t>::max()) {
    return;
  }
  const int64_t now = Now();
  const int64_t ms = due <= now ? 0 : (due - now + 999'999) / 1'000'000;
  timer.qtId = startTimer(static_cast<int>(std::min<int64_t>(ms, 1'000'000)), Qt::PreciseTimer);
}

// The periods due, delivered back to back (see TickClock::RunBurst). A dialog still busy with
// earlier periods has these deferred.
void QtDialogWindow::RunBurst(unsigned id) {
  timers_.at(id)->clock.RunBurst(
      &Now, [this, id] { return messages_ == nullptr || messages_->WantsTimer(id); },
      [this, id] {
        if (RunningTimer(id) == nullptr || messages_ == nullptr) {
          return false;  // the dialog ended during the burst
        }
        messages_->OnTimer(id);
        return true;
      });
}

void QtDialogWindow::PostAppMessage(unsigned id) {
  // A queued call runs on this window's thread; Qt drops it if the window is gone by then.
  QMetaObject::invokeMethod(
      this,
      [this, id] {
        if (messages_ != nullptr && !ended_) {
          messages_->OnAppMessage(id);
        }
      },
      Qt::QueuedConnection);
}

PixelRect QtDialogWindow::GetClientRect() const {
  return {0, 0, std::max(0, width() - SideWidth()), std::max(0, height() - BarHeight())};
}

ViewWindow* QtDialogWindow::CreateView(Robot* robot, const PixelRect& rect) {
  // Without a usable OpenGL the view reports the failure itself and no window holds it.
  if (!COglWnd::CheckGlPlatform()) {
    return nullptr;
  }
  auto* view = new COglWndCustom(robot);
  QWidget* container = view->EmbedIn(this);
  container->setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
  container->setVisible(true);
  view_ = container;
  viewWindow_ = view;
  return new QtViewWindow(container, view);
}

void QtDialogWindow::MessageBox(const char* text) {
  // A message may name files and quote the system's reasons: text in the user's encoding.
  const QString value = QString::fromLocal8Bit(text);
  if (MessageBoxHookSlot()) {
    MessageBoxHookSlot()(this, value);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, windowTitle(), value, QMessageBox::Ok, this);
  box.exec();
}

IconHandle QtDialogWindow::LoadIcon(int resourceId) {
  if (resourceId != 128) {
    return 0;
  }
  InitIconResources();
  QIcon icon;
  for (const char* file : kIconFiles) {
    icon.addFile(QString::fromLatin1(file));
  }
  icons_.push_back(icon);
  return static_cast<IconHandle>(icons_.size());
}

void QtDialogWindow::SetIcon(IconHandle icon, bool /*big*/) {
  // A Qt window has one icon holding every size; the large and the small icon are its images.
  if (icon != 0 && icon <= icons_.size()) {
    setWindowIcon(icons_[icon - 1]);
  }
}

bool QtDialogWindow::IsIconic() const {
  return isMinimized();
}

int QtDialogWindow::IconSize() const {
  return style()->pixelMetric(QStyle::PM_LargeIconSize);
}

void QtDialogWindow::DrawIcon(IconHandle icon, int x, int y) {
  if (painter_ != nullptr && icon != 0 && icon <= icons_.size()) {
    const int size = IconSize();
    icons_[icon - 1].paint(painter_, QRect(x, y, size, size));
  }
}

void QtDialogWindow::done(int result) {
  // Once the dialog has ended no further tick runs or is shown; the view and the robot go with the
  // window.
  StopTimers();
  ended_ = true;
  QDialog::done(result);
}

void QtDialogWindow::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter) {
    // Enter typed after a value must not end the simulation or click a button.
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void QtDialogWindow::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (messages_ == nullptr) {
    return;
  }
  QPainter painter(this);
  painter_ = &painter;
  messages_->OnPaint();
  painter_ = nullptr;
}

void QtDialogWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayOutBar(event->size());
}

void QtDialogWindow::LayOutBar(QSize size) {
  if (bar_ != nullptr) {
    bar_->setGeometry(0, size.height() - BarHeight(), size.width(), BarHeight());
  }
  // At a new width the bar may have taken another height (and been laid out anew meanwhile).
  const int bar = BarHeight();
  const int side = SideWidth();
  if (side_ != nullptr) {
    side_->setGeometry(size.width() - side_->width(), 0, side_->width(),
                       std::max(0, size.height() - bar));
    side_->raise();
  }
  if (messages_ == nullptr) {
    return;
  }
  const unsigned type = isMinimized()   ? kSizeMinimized
                        : isMaximized() ? kSizeMaximized
                                        : kSizeRestored;
  messages_->OnSize(type, std::max(0, size.width() - side), std::max(0, size.height() - bar));
}

void QtDialogWindow::timerEvent(QTimerEvent* event) {
  for (const auto& [id, timer] : timers_) {
    if (timer->qtId == event->timerId()) {
      killTimer(timer->qtId);
      timer->qtId = 0;
      RunBurst(id);
      // A tick may have stopped the timer, or woken it with a new single shot already.
      if (timer->running && timer->qtId == 0) {
        Schedule(*timer);
      }
      return;
    }
  }
  QDialog::timerEvent(event);
}
