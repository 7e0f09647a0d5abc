// SPDX-License-Identifier: MIT
#pragma once

// The Linux signs of a container or compatibility layer, read with plain
// POSIX calls, so they build and are tested on every host: what stands at a
// path, a sign file's first bytes, a symlink's target, the variables of an
// environment, the kernel's release.

#include <optional>
#include <string>

#include "platform/system.h"

namespace oxa {

class SignFiles {
 public:
  SignFiles() noexcept = default;
  // Signs are looked for below `root` instead of "/" (for tests); it must
  // outlive this.
  explicit SignFiles(const char* root) noexcept : root_(root) {}

  [[nodiscard]] PathKind path_kind(const char* path) const;
  [[nodiscard]] std::optional<std::string> read_sign(const char* path) const;
  [[nodiscard]] std::optional<std::string> read_link(const char* path) const;
  // Below a root, the process's own environment too is read from the file
  // at its path there, so tests can set it.
  [[nodiscard]] std::optional<std::string> environment(const char* path) const;
  [[nodiscard]] static std::optional<std::string> kernel_release();

 private:
  const char* root_ = "";
};

}  // namespace oxa
