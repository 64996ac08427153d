// The recorder's failures halfway through a recording. (That rows reach the file while the window
// runs, and what they hold, the window's tests show.)
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/recorder.h"
#include "robot/robot.h"

namespace {

constexpr int64_t kSecond = 1'000'000'000;

struct Ticking {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  matrix<double> torque{6, 1};
  void Tick(Recorder& recorder) {
    robot->links[0]->q += 0.25;
    recorder.OnTick(TickResult{*robot, kIdForward, torque, torque});
  }
};

// In a child process: records past a limit on file sizes. 0 when the recording started, stopped
// at the limit and said so once.
int RecordPastAFileSizeLimit() {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{4096, 4096};
  setrlimit(RLIMIT_FSIZE, &limit);
  std::vector<std::string> messages;
  Recorder recorder;
  recorder.SetErrorHandler([&](const std::string& m) { messages.push_back(m); });
  std::string error;
  const std::string path = testing::TempDir() + "recorder_limit.csv";
  const bool started = recorder.Start(path, 6, 0, error);
  Ticking t;
  for (int i = 0; i < 100; ++i) {
    t.Tick(recorder);
  }
  recorder.MaybeFlush(kSecond);
  recorder.Stop();
  const bool once =
      messages.size() == 1 && messages[0] == "Recording to " + path + " stopped: File too large.";
  return started && once && !recorder.Recording() ? 0 : 1;
}

// A file that stops growing halfway (the limit on file sizes makes a write fail) stops the
// recording with one message; files that cannot be written from the start are the window test's.
TEST(Recorder, AWriteThatFailsHalfwayStopsTheRecordingWithOneMessage) {
  EXPECT_EXIT(std::exit(RecordPastAFileSizeLimit()), testing::ExitedWithCode(0), "");
}

}  // namespace
