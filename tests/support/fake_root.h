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
  void file(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(at(path).parent_path());
    std::ofstream(at(path), std::ios::binary) << content;
  }
  void folder(const std::string& path) { std::filesystem::create_directories(at(path)); }
  void link(const std::string& path, const std::string& target) {
    std::filesystem::create_directories(at(path).parent_path());
    std::filesystem::create_symlink(target, at(path));
  }
  // Makes each path: a trailing '/' makes a folder, the content "fifo" a
  // FIFO, "->x" a symlink to x, anything else a file holding it.
  void add(const std::map<std::string, std::string>& files) {
    for (const auto& [path, content] : files) {
      if (path.back() == '/') {
        folder(path);
      } else if (content == "fifo") {
        folder(path.substr(0, path.rfind('/')));
        ASSERT_EQ(::mkfifo(at(path).c_str(), 0600), 0);
      } else if (content.starts_with("->")) {
        link(path, content.substr(2));
      } else {
        file(path, content);
      }
    }
  }
  // An empty root.
  void reset() {
    std::filesystem::remove_all(root_);
    std::filesystem::create_directory(root_);
  }
  // An empty root, then the paths.
  void populate(const std::map<std::string, std::string>& files) {
    reset();
    add(files);
  }

  std::filesystem::path root_;
};

}  // namespace oxa::test
