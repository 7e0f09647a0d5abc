#pragma once

// The operating-system layer of the detection run: kernel values by name, the
// steady clock, and the allocator of the block handed to the host. Probes and
// the run take it as a template argument; tests hand in a fake
// (FakeSystem), replay its own.

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace oxa {

template <class S>
concept System = requires(S& system, const char* name, std::int32_t& value, std::size_t size) {
  // sysctlbyname's meaning: 0 when the value was read, non-zero otherwise.
  { system.sysctl_int32(name, value) } -> std::same_as<int>;
  // Nanoseconds of a clock that never goes back.
  { system.steady_ns() } -> std::same_as<std::int64_t>;
  // malloc's meaning; the block is released with free().
  { system.allocate(size) } -> std::same_as<void*>;
};

// What stands at a path, its last component not followed.
enum class PathKind : unsigned char { absent, file, folder, other };

// The most of a sign file that is read: far above any container sign.
inline constexpr std::size_t kSignReadLimit = 16 * std::size_t{1024};

// A system that can also show the Linux signs of a container or a
// compatibility layer. linux_signs() says whether this system has them at
// all (false on macOS, where those probes do not run).
template <class S>
concept LinuxSystem = System<S> && requires(S& system, const char* path) {
  { system.linux_signs() } -> std::same_as<bool>;
  { system.path_kind(path) } -> std::same_as<PathKind>;
  // The first kSignReadLimit bytes of the plain file at `path` (a final
  // symlink not followed); nothing when it is absent, unreadable or not a
  // plain file. Never blocks.
  { system.read_sign(path) } -> std::same_as<std::optional<std::string>>;
  // The running kernel's release, as uname(2) gives it.
  { system.kernel_release() } -> std::same_as<std::optional<std::string>>;
};

// Reads a 32-bit kernel value by name (sysctlbyname on Apple; elsewhere no
// such names exist and every read fails). Defined per platform.
int read_sysctl_int32(const char* name, std::int32_t& value) noexcept;

// The Linux signs, defined per platform: elsewhere there are none. Paths
// are absolute; `root`, when not empty, is a folder standing in for "/".
#if defined(__linux__)
inline constexpr bool kHasLinuxSigns = true;
#else
inline constexpr bool kHasLinuxSigns = false;
#endif
PathKind native_path_kind(const char* root, const char* path);
std::optional<std::string> native_read_sign(const char* root, const char* path);
std::optional<std::string> native_kernel_release();

class NativeSystem {
 public:
  NativeSystem() noexcept = default;
  // Signs are looked for below `root` instead of "/" (for tests); it must
  // outlive the system.
  explicit NativeSystem(const char* root) noexcept : root_(root) {}

  int sysctl_int32(const char* name, std::int32_t& value) noexcept { return read_sysctl_int32(name, value); }

  std::int64_t steady_ns() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  void* allocate(std::size_t size) noexcept { return std::malloc(size); }

  [[nodiscard]] bool linux_signs() const noexcept { return kHasLinuxSigns; }
  [[nodiscard]] PathKind path_kind(const char* path) const { return native_path_kind(root_, path); }
  [[nodiscard]] std::optional<std::string> read_sign(const char* path) const {
    return native_read_sign(root_, path);
  }
  [[nodiscard]] std::optional<std::string> kernel_release() const { return native_kernel_release(); }

 private:
  const char* root_ = "";
};

}  // namespace oxa
