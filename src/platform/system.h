// SPDX-License-Identifier: MIT
#pragma once

// The operating-system layer of the detection run, shaped like the questions
// the probes ask: the kernel's hypervisor flag, whether the process runs
// translated, the steady clock, the allocator of the block handed to the
// host, and on Linux the signs of a container or compatibility layer.
// Probes and the run take it as a template argument; each OS folder holds
// its native answer (linux/native_system.h, macos/native_system.h), tests
// hand in a fake and replay its own.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace oxa {

// The kernel flags the probes ask about, under the names macOS gives them;
// the names are also the finding's detail and the dump's record of them.
inline constexpr char kHypervisorFlagName[] = "kern.hv_vmm_present";
inline constexpr char kTranslatedFlagName[] = "sysctl.proc_translated";
// Each flag with the system's question that asks it: X(method, name).
#define OXA_KERNEL_FLAGS(X)               \
  X(hypervisor_flag, kHypervisorFlagName) \
  X(translated_flag, kTranslatedFlagName)

// The platforms the run knows, each with its own plan of probes
// (api/plans/). `linux_os`: "linux" is a macro in GNU modes.
enum class Platform : unsigned char { macos, linux_os, windows };

template <class S>
concept System = requires(S& system, std::size_t size) {
  // Whose plan the run follows with this system: the platform it answers for.
  requires std::same_as<std::remove_cv_t<decltype(S::kPlatform)>, Platform>;
  // The kernel's own word on a hypervisor: set in a guest. Nothing where
  // the kernel has no such flag.
  { system.hypervisor_flag() } -> std::same_as<std::optional<std::int32_t>>;
  // Non-zero in a process that runs translated for another architecture.
  // Nothing where the kernel has no such flag: a native process.
  { system.translated_flag() } -> std::same_as<std::optional<std::int32_t>>;
  // Nanoseconds of a clock that never goes back.
  { system.steady_ns() } -> std::same_as<std::int64_t>;
  // malloc's meaning; the block is released with free().
  { system.allocate(size) } -> std::same_as<void*>;
};

// What stands at a path, its last component not followed.
enum class PathKind : unsigned char { absent, file, folder, other };

// The most of a sign file that is read: far above any container sign.
inline constexpr std::size_t kSignReadLimit = 16 * std::size_t{1024};

// The environment variables the probes ask about.
namespace environment_variables {
// A container manager's declaration of itself.
inline constexpr char container[] = "container";
// The kubelet sets it in every container of a pod.
inline constexpr char kubernetes_service_host[] = "KUBERNETES_SERVICE_HOST";
// flatpak run sets it in every sandbox.
inline constexpr char flatpak_id[] = "FLATPAK_ID";
// Apptainer sets it inside each container, and the second under its former name.
inline constexpr char apptainer_container[] = "APPTAINER_CONTAINER";
inline constexpr char singularity_container[] = "SINGULARITY_CONTAINER";
}  // namespace environment_variables
// They all, in the order an environment question answers them.
inline constexpr const char* kEnvironmentVariables[] = {
    environment_variables::container,
    environment_variables::kubernetes_service_host,
    environment_variables::flatpak_id,
    environment_variables::apptainer_container,
    environment_variables::singularity_container,
};
// Where the kernel shows a process its own environment; the environment
// question asks by this name for the one the process holds now.
inline constexpr char kOwnEnvironmentPath[] = "/proc/self/environ";
// The most of one variable's value an answer keeps; a longer one is cut.
inline constexpr std::size_t kEnvironmentValueLimit = 255;
// The longest answer to an environment question: every variable set, each
// value as long as it is kept.
inline constexpr std::size_t kEnvironmentAnswerLimit = [] {
  std::size_t size = 0;
  for (const char* name : kEnvironmentVariables)
    size += std::string_view(name).size() + 2 + kEnvironmentValueLimit;
  return size;
}();
// The most of an environment file scanned. The kernel bounds a process's
// environment by its stack limit (a quarter of it, 2 MiB under the usual
// 8 MiB), so this covers any ordinary one whole; it is read in small chunks
// and never held.
inline constexpr std::size_t kEnvironmentScanLimit = std::size_t{4} * 1024 * 1024;

// The questions a Linux system answers about a path, each once:
//   X(method, Answer, answers, noun, most)
// answers: what a dump calls the list of them; noun: what one is called in
// its errors; most: the longest text an answer can hold (0: no text).
//   path_kind    what stands at the path, its last component not followed.
//   read_sign    the first kSignReadLimit bytes of the plain file there (a
//                final symlink not followed); nothing when it is absent,
//                unreadable or not a plain file. Never blocks.
//   read_link    where the symlink there points: the text of a namespace's
//                identity ("pid:[4026531836]"); nothing when it is no
//                symlink or unreadable.
//   environment  the variables of kEnvironmentVariables set in the
//                NUL-separated environment file there, as "name=value"
//                entries each ended by a NUL, in that table's order, the
//                first of each name, values cut to kEnvironmentValueLimit;
//                at most kEnvironmentScanLimit bytes are scanned. Nothing
//                when the file is absent, unreadable or not a plain file.
//                At kOwnEnvironmentPath the process's own environment,
//                answered from memory without a system call.
// Arguments after X's are handed on to it.
#define OXA_LINUX_PATH_QUESTIONS(X, ...)                                                                 \
  X(path_kind, PathKind, paths, "linux path", 0, __VA_ARGS__)                                            \
  X(read_sign, std::optional<std::string>, files, "linux file", kSignReadLimit, __VA_ARGS__)             \
  X(read_link, std::optional<std::string>, links, "linux link", kSignReadLimit, __VA_ARGS__)             \
  X(environment, std::optional<std::string>, environments, "linux environment", kEnvironmentAnswerLimit, \
    __VA_ARGS__)

// The Linux path questions by name, as the sign table (linux/signs.h) says
// which one reads each sign.
enum class PathQuestion : unsigned char {
#define OXA_PATH_QUESTION_ID_(method, Answer, answers, noun, most, ...) method,
  OXA_LINUX_PATH_QUESTIONS(OXA_PATH_QUESTION_ID_)
#undef OXA_PATH_QUESTION_ID_
};

// A system that shows the Linux signs of a container or a compatibility
// layer. This concept is the one gate of the Linux probes: a system that
// does not model it (macOS, a dump taken there) never runs them.
template <class S>
concept LinuxSystem = System<S> && requires(S& system, const char* path) {
#define OXA_LINUX_PATH_QUESTION_(method, Answer, answers, noun, most, ...) \
  { system.method(path) } -> std::same_as<Answer>;
  OXA_LINUX_PATH_QUESTIONS(OXA_LINUX_PATH_QUESTION_)
#undef OXA_LINUX_PATH_QUESTION_
  // The running kernel's release, as uname(2) gives it.
  {
    system.kernel_release()
    } -> std::same_as<std::optional<std::string>>;
};

}  // namespace oxa
