// SPDX-License-Identifier: MIT
#pragma once

// A test over a folder standing in for "/", filled from a table row: the
// Linux probes read it through test::RootedSystem.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace oxa::test {

class FakeRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "oxa-root-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(root_, ignored);
  }

  // Where an absolute path of the fake root is.
  std::filesystem::path at(const std::string& path) const { return root_ / path.substr(1); }
  // Empties the root, then makes each path: a trailing '/' makes a folder,
  // the content "fifo" a FIFO, "->x" a symlink to x, anything else a file
  // holding it.
  void populate(const std::map<std::string, std::string>& files) {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directory(root_);
    for (const auto& [path, content] : files) {
      std::filesystem::create_directories(at(path).parent_path());
      if (path.back() == '/') {
        std::filesystem::create_directories(at(path));
      } else if (content == "fifo") {
        ASSERT_EQ(::mkfifo(at(path).c_str(), 0600), 0);
      } else if (content.starts_with("->")) {
        std::filesystem::create_symlink(content.substr(2), at(path));
      } else {
        std::ofstream(at(path), std::ios::binary) << content;
      }
    }
  }

  std::filesystem::path root_;
};

}  // namespace oxa::test
