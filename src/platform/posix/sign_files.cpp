// SPDX-License-Identifier: MIT
#include "platform/posix/sign_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <string>

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
  // Signs are small: read in chunks rather than clear the whole limit.
  std::string bytes;
  char chunk[1024];
  while (bytes.size() < kSignReadLimit) {
    const std::size_t want = std::min(sizeof chunk, kSignReadLimit - bytes.size());
    const long got = file.read(chunk, want);
    if (got < 0) return std::nullopt;
    bytes.append(chunk, static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < want) break;
  }
  return bytes;
}

std::optional<std::string> SignFiles::kernel_release() {
  struct utsname names {};
  if (::uname(&names) != 0) return std::nullopt;
  return std::string(names.release);
}

}  // namespace oxa
