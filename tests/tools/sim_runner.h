// velmoth-sim run as a program through the shell: its exit status, standard output and standard
// error. VELMOTH_SIM names the program.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

struct SimResult {
  int status = -1;
  std::string out, err;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs velmoth-sim after prefix (e.g. a ulimit); args may redirect standard output elsewhere.
inline SimResult RunSim(const std::string& args, const std::string& prefix = "") {
  const std::string errPath = ::testing::TempDir() + "velmoth_sim_" + std::to_string(getpid());
  FILE* out = popen((prefix + VELMOTH_SIM + " 2>" + errPath + " " + args).c_str(), "r");
  SimResult r;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
    r.out += static_cast<char>(c);
  }
  const int status = pclose(out);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadFile(errPath);
  std::remove(errPath.c_str());
  return r;
}
