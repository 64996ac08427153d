#include "tests/app/fake_window_system.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "robot/robot.h"

FakeView::FakeView(FakeWindowSystem& owner, Robot* robot, const PixelRect& rect)
    : rect(rect), owner_(owner), robot_(robot) {
  ++owner_.viewsCreated;
  owner_.view_ = this;
}

FakeView::~FakeView() {
  // Like the real view, this one may look at its robot until it is gone: a robot deleted before
  // its view is a use after free that the sanitizer build reports right here.
  volatile std::size_t links = robot_->links.size();
  (void)links;
  ++owner_.viewsDeleted;
  if (owner_.view_ == this) {
    owner_.view_ = nullptr;
  }
}

void FakeView::SetSize(int width, int height) {
  rect.right = rect.left + width;
  rect.bottom = rect.top + height;
}

FakeWindowSystem::FakeWindowSystem(const DialogTemplate& dialog, int clientWidth, int clientHeight)
    : clientWidth_(clientWidth), clientHeight_(clientHeight) {
  for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
    const ControlTemplate& c = dialog.controls[i];
    if (c.id != kStaticId) {
      controls_.emplace(c.id, Control{c.kind, GroupOf(dialog, i), c.caption});
    }
  }
}

void FakeWindowSystem::Create(DialogMessages& messages) {
  messages_ = &messages;
  messages.OnInitDialog();
}

void FakeWindowSystem::Destroy() {
  if (messages_ == nullptr) {
    return;
  }
  timers.clear();
  messages_->OnDestroy();
  messages_ = nullptr;
}

bool FakeWindowSystem::Type(int id, const std::string& text) {
  Control& c = Find(id);
  if (c.kind != ControlKind::kEdit || !c.enabled) {
    return false;
  }
  c.text = text;
  return true;
}

void FakeWindowSystem::Click(int id) {
  Control& c = Find(id);
  if (!c.enabled || messages_ == nullptr) {
    return;
  }
  if (c.kind == ControlKind::kRadioButton) {
    CheckDlgButton(id, kChecked);
  }
  messages_->OnCommand(id);
}

void FakeWindowSystem::Resize(int width, int height, unsigned type) {
  clientWidth_ = width;
  clientHeight_ = height;
  if (messages_ != nullptr) {
    messages_->OnSize(type, width, height);
  }
}

void FakeWindowSystem::Tick() {
  if (messages_ == nullptr) {
    return;
  }
  for (const auto& [id, period] : timers) {
    messages_->OnTimer(id);
  }
}

const FakeWindowSystem::Control& FakeWindowSystem::ControlAt(int id) const {
  const auto it = controls_.find(id);
  if (it == controls_.end()) {
    throw std::out_of_range("no control " + std::to_string(id));
  }
  return it->second;
}

FakeWindowSystem::Control& FakeWindowSystem::Find(int id) {
  return const_cast<Control&>(ControlAt(id));
}

void FakeWindowSystem::SetDlgItemText(int id, const char* text) {
  const auto it = controls_.find(id);
  if (it != controls_.end()) {
    it->second.text = text;
  }
}

int FakeWindowSystem::GetDlgItemText(int id, char* buffer, int size) const {
  if (size <= 0) {
    return 0;
  }
  const auto it = controls_.find(id);
  const std::string text = it == controls_.end() ? std::string() : it->second.text;
  const int n = std::min(static_cast<int>(text.size()), size - 1);
  std::memcpy(buffer, text.data(), static_cast<std::size_t>(n));
  buffer[n] = '\0';
  return n;
}

unsigned FakeWindowSystem::IsDlgButtonChecked(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? kUnchecked : it->second.check;
}

void FakeWindowSystem::CheckDlgButton(int id, unsigned check) {
  Control& c = Find(id);
  if (check == kChecked && c.kind == ControlKind::kRadioButton) {
    for (auto& [otherId, other] : controls_) {
      if (other.kind == ControlKind::kRadioButton && other.group == c.group) {
        other.check = kUnchecked;
      }
    }
  }
  c.check = check;
}

void FakeWindowSystem::EnableDlgItem(int id, bool enable) {
  Find(id).enabled = enable;
}

void FakeWindowSystem::SetTimer(unsigned id, unsigned periodMs) {
  timers[id] = periodMs;
}

ViewWindow* FakeWindowSystem::CreateView(Robot* robot, const PixelRect& rect) {
  return new FakeView(*this, robot, rect);
}

IconHandle FakeWindowSystem::LoadIcon(int resourceId) {
  return static_cast<IconHandle>(resourceId);
}

void FakeWindowSystem::SetIcon(IconHandle icon, bool big) {
  (big ? bigIcon : smallIcon) = icon;
}
