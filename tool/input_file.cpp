// SPDX-License-Identifier: MIT
#include "input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <string_view>
#include <system_error>

#include "platform/posix/regular_file.h"

namespace oxa::tool {

std::string read_input(const char* path, std::string& bytes) {
  bytes.clear();
  RegularFile file = std::string_view(path) == "-" ? RegularFile::duplicate(STDIN_FILENO)
                                                   : RegularFile(AT_FDCWD, path, /*follow_symlink=*/true);
  switch (file.status()) {
    case RegularFile::Status::ok:
      break;
    case RegularFile::Status::missing:
      return "cannot open: " + std::generic_category().message(file.error());
    case RegularFile::Status::not_regular:
      return "not a regular file";
  }
  constexpr std::size_t kChunk = std::size_t{64} << 10;
  for (;;) {
    const std::size_t size = bytes.size();
    bytes.resize(size + kChunk);
    const long got = file.read(bytes.data() + size, kChunk);
    if (got < 0) {
      bytes.clear();
      return "cannot read: " + std::generic_category().message(file.error());
    }
    bytes.resize(size + static_cast<std::size_t>(got));
    if (bytes.size() > kMaxInputBytes) {
      bytes.clear();
      return "too large (more than 16 MiB)";
    }
    if (static_cast<std::size_t>(got) < kChunk) return {};
  }
}

}  // namespace oxa::tool
