// SPDX-License-Identifier: MIT
#include "platform/posix/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace oxa {

RegularFile::RegularFile(int dir_fd, const char* path, bool follow_symlink) noexcept {
  // O_NONBLOCK: opening a FIFO without a writer returns at once instead of
  // waiting; O_NOCTTY: a terminal in the path's place does not become ours.
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (follow_symlink ? 0 : O_NOFOLLOW);
  fd_ = ::openat(dir_fd, path, flags);
  if (fd_ < 0) {
    status_ = Status::missing;
    error_ = errno;
    return;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    status_ = Status::missing;
    error_ = errno;
  } else if (!S_ISREG(info.st_mode)) {
    status_ = Status::not_regular;
  }
}

RegularFile RegularFile::duplicate(int fd) noexcept {
  RegularFile file;
  file.fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (file.fd_ < 0) {
    file.status_ = Status::missing;
    file.error_ = errno;
  }
  return file;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(other.fd_), status_(other.status_), error_(other.error_) {
  other.fd_ = -1;
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

long RegularFile::read(char* buffer, std::size_t size) noexcept {
  if (status_ != Status::ok || fd_ < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ::ssize_t got = ::read(fd_, buffer + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long>(done);
}

}  // namespace oxa
