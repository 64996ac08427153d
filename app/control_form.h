// ControlForm: the logic of the lab panel's controller fields, without a toolkit. The fields are
// texts and choices named after velmoth-sim's options (a ControlChoice): the law, the target in
// the panel's vector format (joint positions in rad and m; for task-pd the tool's x, y, z in the
// base frame), the trajectory with its duration or the sine's amplitude and period, the control
// rate, the gains' natural frequency and the gains, gravity compensation, the tool frame, and the
// model's mass error and friction. Apply reads them as velmoth-sim reads its options and hands the
// settings to the dialog, which carries them to the ticks between two of them.
//
// The fields round what they show; a field that still holds the text the form last wrote into it
// stands for the exact values behind that text, so that an Apply changes nothing the user did not
// touch. An empty field takes its default, and says what that is as its placeholder: the gains a
// law starts with at its target (for pd the diagonal of M(q*) w^2 and 2 M(q*) w, of which the law
// takes the whole matrix), the sine's amplitude, the period, the frequency.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "control/control_settings.h"
#include "simulation/control_options.h"

class CVelmothDlg;

class ControlForm {
 public:
  enum Field : uint8_t {
    kController,
    kRate,
    kTarget,
    kTrajectory,
    kDuration,
    kAmplitude,
    kPeriod,
    kFrequency,
    kKp,
    kKd,
    kKn,
    kCompensation,  // "on", "off"
    kTool,
    kMassError,
    kModelFriction,  // "on", "off"
    kFieldCount
  };

  // The rates offered: continuous, then 100 Hz to 1 kHz (RateName's texts).
  static std::vector<std::string> Rates();

  // Shows the dialog's controller (the start's, from the command line) in the fields.
  explicit ControlForm(CVelmothDlg& dlg);

  const std::string& Text(Field field) const { return texts_[field]; }
  // As typed or chosen; nothing changes until Apply. A new law whose target lives in another space
  // (joints, or the tool's position) empties the target: the pose the arm is in.
  void SetText(Field field, std::string text);
  // Whether the law chosen (and its trajectory) takes the field.
  bool Takes(Field field) const;
  // What an empty field stands for.
  std::string Placeholder(Field field) const;
  // The tool frames to choose from (the arm's frames, the last one the default), and the frame the
  // tool readout follows: the one chosen.
  const std::vector<std::string>& Frames() const { return frames_; }

  // Reads the fields into the controller's settings and hands them to the dialog; false, with the
  // problem in Problem(), when a number cannot be read (nothing changes then).
  bool Apply();
  const std::string& Problem() const { return problem_; }
  // The settings in force, as a line for the panel (ControllerText).
  std::string Status() const;

  // The teach panel's target, set while the arm runs: joint positions, or for task-pd the tool's
  // position. The settings in force take it (the fields the user is still editing keep their
  // texts) and the target field shows it.
  void SetTarget(const std::vector<double>& target);

 private:
  // Writes the settings into the fields and notes what each text stands for.
  void Show(const ControllerSettings& settings);
  // The defaults' placeholders for the settings, at their target.
  void MakePlaceholders(const ControllerSettings& settings);
  // Whether the field still holds the text the form wrote, standing for the values in shown_.
  bool Untouched(Field field) const { return exact_[field] && texts_[field] == written_[field]; }

  CVelmothDlg& dlg_;
  std::array<std::string, kFieldCount> texts_;
  std::array<std::string, kFieldCount> written_;  // the texts last written
  std::array<bool, kFieldCount> exact_{};         // written_ stands for shown_
  ControllerSettings shown_;                      // the values behind them
  std::array<std::string, kFieldCount> placeholders_;
  std::vector<std::string> frames_;
  std::string problem_;
};
