// Part of every program of the sanitizer build: the leak check at exit sees no thread in passing.
//
// LeakSanitizer checks for leaks after the program's exit handlers have run: it stops every thread
// and reads their stacks, registers and thread-local storage. The toolkits end threads of their own
// at exit (Qt's D-Bus connection thread goes with Qt's global objects; its threads are detached,
// so a thread that was waited for may still be tearing itself down), and a thread caught half torn
// down, its thread-local storage partly freed, crashes the check ("Tracer caught signal 11 ...
// LeakSanitizer has encountered a fatal error") after every test passed. LeakSanitizer asks
// __lsan_is_turned_off() just before it stops the threads; the answer here waits until every other
// thread has ended or sleeps (has been asleep for kCalmMs in a row), at most kLongestMs, and then
// lets the check run in full. It does not depend on which threads the program has.
#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr int kCalmMs = 20;
constexpr int kLongestMs = 10000;

// Whether every thread but the caller has ended or sleeps; sets alone when it is the only one.
bool OthersAsleep(long self, bool& alone) {
  alone = true;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) {
    return true;
  }
  bool asleep = true;
  while (const dirent* entry = readdir(tasks)) {
    const long id = std::strtol(entry->d_name, nullptr, 10);
    if (id <= 0 || id == self) {
      continue;
    }
    alone = false;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%ld/stat", id);
    FILE* stat = std::fopen(path, "r");
    if (stat == nullptr) {
      continue;  // it ended just now
    }
    // "id (name) state ...": the state follows the last ')', as the name may hold one.
    char text[512] = {};
    const std::size_t read = std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    const char* state = nullptr;
    for (std::size_t i = 0; i < read; ++i) {
      state = text[i] == ')' ? text + i : state;
    }
    asleep = asleep && state != nullptr && state[1] == ' ' && state[2] == 'S';
  }
  closedir(tasks);
  return asleep;
}

}  // namespace

extern "C" int __lsan_is_turned_off() {
  const long self = syscall(SYS_gettid);
  const timespec millisecond{0, 1000000};
  int calm = 0;
  for (int waited = 0; waited < kLongestMs && calm < kCalmMs; ++waited) {
    bool alone = false;
    calm = OthersAsleep(self, alone) ? calm + 1 : 0;
    if (alone) {
      break;
    }
    nanosleep(&millisecond, nullptr);
  }
  return 0;
}
