#include "tools/frame_text.h"

#include "recursive/frames.h"
#include "simulation/run_csv.h"
#include "urdf/urdf_text.h"

namespace {

void AppendLine(std::string& text, const std::string& name, int rows, int cols,
                const double* values) {
  text += name + ' ' + std::to_string(rows) + ' ' + std::to_string(cols);
  for (int k = 0; k < rows * cols; ++k) {
    AppendCsvNumber(text, values[k], ' ');
  }
  text += '\n';
}

}  // namespace

std::vector<int> FindFrames(const Robot& robot, const std::vector<std::string>& names,
                            std::string& error) {
  const std::vector<recursive::FrameModel> frames = recursive::BuildFrameModels(robot);
  std::vector<int> found;
  for (const std::string& name : names) {
    const int f = recursive::FindFrame(frames, name);
    if (f < 0) {
      error = "the arm has no frame '" + PrintableLine(name) + "'; its frames are";
      for (std::size_t i = 0; i < frames.size(); ++i) {
        error += (i == 0 ? " '" : ", '") + PrintableLine(frames[i].name) + "'";
      }
      return {};
    }
    found.push_back(f);
  }
  return found;
}

std::string KinematicsText(const Robot& robot, const std::vector<double>& q,
                           const std::vector<double>& qd, std::vector<int> frames) {
  const recursive::ChainModel model = recursive::BuildChainModel(robot);
  const std::vector<recursive::FrameModel> models = recursive::BuildFrameModels(robot);
  recursive::ChainData data(model.Size());
  recursive::Kinematics(model, data, q.data(), qd.data(), {});
  recursive::Placements(model, data, qd.data());
  if (frames.empty()) {
    for (std::size_t f = 0; f < models.size(); ++f) {
      frames.push_back(static_cast<int>(f));
    }
  }
  const int n = model.Size();
  std::vector<double> jacobian(6 * static_cast<std::size_t>(n));
  std::string text;
  for (const int f : frames) {
    const recursive::FrameModel& frame = models[static_cast<std::size_t>(f)];
    // Names are written as one word: blanks and control characters escaped.
    std::string name = PrintableLine(frame.name);
    for (std::size_t at = name.find(' '); at != std::string::npos; at = name.find(' ', at)) {
      name.replace(at, 1, "\\x20");
    }
    const spatial::Transform x = recursive::FramePose(data, frame);
    const double pose[16] = {
        x.r.m[0][0], x.r.m[0][1], x.r.m[0][2], x.p.x, x.r.m[1][0], x.r.m[1][1], x.r.m[1][2], x.p.y,
        x.r.m[2][0], x.r.m[2][1], x.r.m[2][2], x.p.z, 0.0,         0.0,         0.0,         1.0};
    AppendLine(text, "pose:" + name, 4, 4, pose);
    double drift[6];
    for (const auto axes : {recursive::FrameAxes::kBase, recursive::FrameAxes::kFrame}) {
      const std::string own = axes == recursive::FrameAxes::kFrame ? "_frame:" : ":";
      recursive::FrameJacobian(model, data, frame, axes, jacobian.data());
      AppendLine(text, "jacobian" + own + name, 6, n, jacobian.data());
      recursive::FrameDriftAcceleration(data, frame, axes, drift);
      AppendLine(text, "jdot_qd" + own + name, 6, 1, drift);
    }
  }
  return text;
}
