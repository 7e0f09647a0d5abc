// SPDX-License-Identifier: MIT
// The table of Linux signs against what the container probe asks: each sign
// is asked at its path by the question the table names, and the signs come
// in the table's order.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "inputs/dump.h"
#include "inputs/inputs.h"
#include "inputs/recording_layers.h"
#include "platform/native.h"
#include "probes/container_probe.h"

namespace oxa::inputs {
namespace {

namespace fs = std::filesystem;

// A root where the probe asks every sign: no marker file or declaration,
// an OpenVZ host (so /proc/bc is asked too), PID 1's environment closed.
class EverySignAsked : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "oxa-signs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "proc/vz");
    fs::create_directories(root_ / "proc/bc");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path root_;
};

TEST_F(EverySignAsked, EachAtItsPathByItsQuestionInTableOrder) {
  const std::string root = root_.string();
  NativeSystem native(root.c_str());
  Dump dump;
  RecordingSystem<NativeSystem> system(native, dump);
  static_cast<void>(read_linux_signs(system));
  ASSERT_TRUE(dump.linux_signs);

  std::vector<std::pair<std::string, Input>> expected;
  for (const SignInfo& sign : kSigns) expected.emplace_back(sign.path, sign.question);
  // The recorder keeps each question's asks apart; merged by the table's
  // order they must give the table back.
  std::vector<std::pair<std::string, Input>> asked;
  std::size_t path = 0;
  std::size_t file = 0;
  for (const SignInfo& sign : kSigns) {
    const auto& paths = dump.linux_signs->paths;
    const auto& files = dump.linux_signs->files;
    if (path < paths.size() && paths[path].path == sign.path) {
      asked.emplace_back(paths[path++].path, Input::linux_path);
    } else if (file < files.size() && files[file].path == sign.path) {
      asked.emplace_back(files[file++].path, Input::linux_file);
    }
  }
  EXPECT_EQ(path, dump.linux_signs->paths.size());
  EXPECT_EQ(file, dump.linux_signs->files.size());
  EXPECT_EQ(asked, expected);
}

}  // namespace
}  // namespace oxa::inputs
