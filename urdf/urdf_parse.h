// What every reader of a description on the URDF parser (urdfdom) needs around it: the parser's
// messages kept instead of printed, and its links let go of each other afterwards.
#pragma once

#include <string>
#include <vector>

#include <console_bridge/console.h>
#include <urdf_model/model.h>

// While it lives, the URDF parser's error messages are kept here instead of printed: they explain a
// failure. The parser's output is switched for the process, so only one may live at a time.
class UrdfParserMessages : public console_bridge::OutputHandler {
 public:
  UrdfParserMessages() { console_bridge::useOutputHandler(this); }
  ~UrdfParserMessages() override { console_bridge::restorePreviousOutputHandler(); }
  UrdfParserMessages(const UrdfParserMessages&) = delete;
  UrdfParserMessages& operator=(const UrdfParserMessages&) = delete;

  void log(const std::string& text, console_bridge::LogLevel level, const char*, int) override {
    if (level >= console_bridge::CONSOLE_BRIDGE_LOG_ERROR) {
      errors.push_back(text);
    }
  }

  // The first three errors, which name the fault and where it is, as one text.
  std::string Errors() const {
    std::string text;
    for (std::size_t i = 0; i < errors.size() && i < 3; ++i) {
      text += (i == 0 ? "" : "; ") + errors[i];
    }
    return text;
  }

  std::vector<std::string> errors;
};

// The parser's links hold their children by shared pointers; unlinked when this goes, no loop of
// links can keep itself alive and no long chain is released recursively.
struct UrdfUnlink {
  urdf::ModelInterface& model;
  ~UrdfUnlink() {
    for (auto& entry : model.links_) {
      entry.second->child_links.clear();
      entry.second->child_joints.clear();
    }
  }
};
