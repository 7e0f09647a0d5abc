// SPDX-License-Identifier: MIT
#pragma once

// Reading a file we do not trust: identity files, SMBIOS tables, dumps. The
// path is opened once, without blocking, and used only if the open
// descriptor is a regular file, so a FIFO, socket, device or folder in its
// place (or swapped in after a check) can neither block nor flood us. Reads
// are capped by the caller.

#include <cstddef>

namespace oxa {

class RegularFile {
 public:
  enum class Status {
    ok,           // open, and a regular file
    missing,      // cannot be opened (no such file, permission, a symlink where none is followed)
    not_regular,  // opened, but a FIFO, socket, device or folder
  };

  // Opens `path`, relative to the folder `dir_fd` unless absolute (AT_FDCWD
  // for the working folder). With follow_symlink false a symlink as the last
  // component counts as missing.
  RegularFile(int dir_fd, const char* path, bool follow_symlink) noexcept;
  // A copy of an open descriptor, such as standard input, whatever it is:
  // the caller's own stays open.
  static RegularFile duplicate(int fd) noexcept;
  ~RegularFile();
  RegularFile(RegularFile&& other) noexcept;
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  RegularFile& operator=(RegularFile&&) = delete;

  [[nodiscard]] Status status() const noexcept { return status_; }
  // errno of the failed open or read; 0 otherwise.
  [[nodiscard]] int error() const noexcept { return error_; }

  // Fills `buffer` up to `size` bytes or the end of the file, retrying
  // interrupted and short reads. Returns the bytes read, or -1 with error()
  // set. Returns 0 unless status() is ok.
  long read(char* buffer, std::size_t size) noexcept;

 private:
  RegularFile() noexcept = default;

  int fd_ = -1;
  Status status_ = Status::ok;
  int error_ = 0;
};

}  // namespace oxa
