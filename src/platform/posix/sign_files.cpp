// SPDX-License-Identifier: MIT
#include "platform/posix/sign_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/posix/regular_file.h"

namespace oxa {

namespace {

// The path below `root`; `path` itself, without a copy, when there is none.
class RootedPath {
 public:
  RootedPath(const char* root, const char* path) : path_(path) {
    if (*root != '\0') {
      joined_ = std::string(root) + path;
      path_ = joined_.c_str();
    }
  }
  [[nodiscard]] const char* c_str() const noexcept { return path_; }

 private:
  std::string joined_;
  const char* path_;
};

// The variables of kEnvironmentVariables among the NUL-separated entries
// fed to it in pieces of any size, kept in fixed room: an environment is as
// long as its process made it, and only a few short values matter.
class EnvironmentScan {
 public:
  void feed(const char* bytes, std::size_t size) noexcept {
    for (std::size_t i = 0; i < size; ++i) {
      if (bytes[i] == '\0') {
        finish();
      } else if (length_ < sizeof entry_) {
        entry_[length_++] = bytes[i];
      }
    }
  }

  // The answer, once the whole environment (or as much as is scanned) was fed.
  std::string answer() {
    finish();  // the last entry may lack its NUL
    std::string out;
    for (std::size_t v = 0; v < kCount; ++v) {
      if (!found_[v]) continue;
      out += kEnvironmentVariables[v];
      out += '=';
      out.append(values_[v], value_lengths_[v]);
      out += '\0';
    }
    return out;
  }

 private:
  static constexpr std::size_t kCount = std::size(kEnvironmentVariables);
  static constexpr std::size_t kLongestName = [] {
    std::size_t longest = 0;
    for (const char* name : kEnvironmentVariables) longest = std::max(longest, std::string_view(name).size());
    return longest;
  }();

  void finish() noexcept {
    const std::string_view entry(entry_, length_);
    length_ = 0;
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) return;
    for (std::size_t v = 0; v < kCount; ++v) {
      // As getenv, the first entry of a name counts.
      if (found_[v] || entry.substr(0, equals) != kEnvironmentVariables[v]) continue;
      const std::string_view value = entry.substr(equals + 1, kEnvironmentValueLimit);
      std::copy(value.begin(), value.end(), values_[v]);
      value_lengths_[v] = value.size();
      found_[v] = true;
    }
  }

  char entry_[kLongestName + 1 + kEnvironmentValueLimit] = {};
  std::size_t length_ = 0;
  char values_[kCount][kEnvironmentValueLimit] = {};
  std::size_t value_lengths_[kCount] = {};
  bool found_[kCount] = {};
};

}  // namespace

PathKind SignFiles::path_kind(const char* path) const {
  const RootedPath rooted(root_, path);
  struct stat info {};
  if (::fstatat(AT_FDCWD, rooted.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return PathKind::absent;
  if (S_ISREG(info.st_mode)) return PathKind::file;
  if (S_ISDIR(info.st_mode)) return PathKind::folder;
  return PathKind::other;
}

std::optional<std::string> SignFiles::read_sign(const char* path) const {
  RegularFile file(AT_FDCWD, RootedPath(root_, path).c_str(), /*follow_symlink=*/false);
  if (file.status() != RegularFile::Status::ok) return std::nullopt;
  // Most signs are small: read in chunks rather than clear the whole limit;
  // a page at a time, as /proc hands out its tables (the PCI functions).
  std::string bytes;
  char chunk[4096];
  while (bytes.size() < kSignReadLimit) {
    const std::size_t want = std::min(sizeof chunk, kSignReadLimit - bytes.size());
    const long got = file.read(chunk, want);
    if (got < 0) return std::nullopt;
    bytes.append(chunk, static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < want) break;
  }
  return bytes;
}

std::optional<std::string> SignFiles::read_link(const char* path) const {
  // A namespace's identity is some twenty bytes; a target that fills this
  // is no such identity.
  char target[256];
  const ssize_t length = ::readlink(RootedPath(root_, path).c_str(), target, sizeof target);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof target) return std::nullopt;
  return std::string(target, static_cast<std::size_t>(length));
}

std::optional<std::string> SignFiles::environment(const char* path) const {
  EnvironmentScan scan;
  if (*root_ == '\0' && std::string_view(path) == kOwnEnvironmentPath) {
    // Our own environment is in memory; getenv finds the first entry of a
    // name, as the scan of a file does. getenv only reads: it races only
    // with a setenv in another thread, which the host must not make while
    // a detection runs (as with any library that reads its environment).
    for (const char* name : kEnvironmentVariables) {
      const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): see above
      if (value == nullptr) continue;
      const std::string_view entry[] = {name, "=", value};
      for (const std::string_view part : entry) scan.feed(part.data(), part.size());
      scan.feed("", 1);
    }
    return scan.answer();
  }
  RegularFile file(AT_FDCWD, RootedPath(root_, path).c_str(), /*follow_symlink=*/false);
  if (file.status() != RegularFile::Status::ok) return std::nullopt;
  char chunk[4096];
  for (std::size_t scanned = 0; scanned < kEnvironmentScanLimit;) {
    const std::size_t want = std::min(sizeof chunk, kEnvironmentScanLimit - scanned);
    const long got = file.read(chunk, want);
    if (got < 0) return std::nullopt;
    scan.feed(chunk, static_cast<std::size_t>(got));
    scanned += static_cast<std::size_t>(got);
    if (static_cast<std::size_t>(got) < want) break;  // the end of the file
  }
  return scan.answer();
}

std::optional<std::string> SignFiles::kernel_release() {
  struct utsname names {};
  if (::uname(&names) != 0) return std::nullopt;
  return std::string(names.release);
}

}  // namespace oxa
