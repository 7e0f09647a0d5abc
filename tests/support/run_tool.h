// SPDX-License-Identifier: MIT
#pragma once

// Runs oxa-detect as a user does and captures what it prints.

#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace oxa::test {

struct Outcome {
  int exit_code = -1;
  std::string out;
  std::string err;
};

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file of its own for this test process (cases run as parallel processes).
inline std::string temp_file(const std::string& stem) {
  static int files = 0;
  return ::testing::TempDir() + "oxa_tool_" + stem + "_" + std::to_string(getpid()) + "_" +
         std::to_string(++files);
}

// `environment` is prefixed to the command line ("NAME=value ...").
inline Outcome run_tool(const std::string& args, const std::string& environment = "") {
  const std::string err_file = temp_file("stderr");
  const std::string command =
      environment + " " + std::string(OXA_DETECT_PATH) + " " + args + " 2>" + err_file;
  Outcome o;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return o;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) o.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  o.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.err = slurp(err_file);
  std::remove(err_file.c_str());
  return o;
}

}  // namespace oxa::test
