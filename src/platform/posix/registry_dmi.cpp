// SPDX-License-Identifier: MIT
#include "platform/posix/registry_dmi.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>

#include "platform/posix/regular_file.h"

namespace oxa {

static_assert(Registry<DmiRegistry>);

DmiRegistry::Value::Value(int folder, RegistryKey key) noexcept {
  const char* name = dmi_file(key);
  if (folder < 0 || name == nullptr) return;
  // Identity files are plain files: a symlink, FIFO, device or folder in
  // their place is no property.
  RegularFile file(folder, name, /*follow_symlink=*/false);
  if (file.status() != RegularFile::Status::ok) return;
  const long got = file.read(buffer_, sizeof buffer_);
  if (got < 0) return;

  value_.kind = ValueKind::string;
  auto size = static_cast<std::size_t>(got);
  if (size > 0 && buffer_[size - 1] == '\n') --size;
  if (size >= kIdentityBufferSize) return;  // with its NUL, too long for the buffer
  const char* end = std::find(buffer_, buffer_ + size, '\0');
  value_.readable = true;
  value_.text = std::string_view(buffer_, static_cast<std::size_t>(end - buffer_));
}

DmiRegistry::Device::~Device() {
  if (folder_ >= 0) ::close(folder_);
}

DmiRegistry::Device DmiRegistry::platform_device() const noexcept {
  // Follows symlinks: the kernel's own path is one.
  return Device(::open(root_, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace oxa
