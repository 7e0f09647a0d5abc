// SPDX-License-Identifier: MIT
// The Linux container and compatibility probes: the signs read from a fake
// root folder through the native system, what each set of signs records,
// and hostile files in the signs' places.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/assessment.h"
#include "core/evidence.h"
#include "core/vocabulary.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/sign_files.h"
#include "probes/container_probe.h"

namespace oxa {
namespace {

// The signs below a folder standing in for "/", read by the same code as on
// Linux, so these tests run on every host.
class RootedSystem : public PosixSystem, public SignFiles {
 public:
  explicit RootedSystem(const char* root) noexcept : SignFiles(root) {}
  std::optional<std::int32_t> hypervisor_flag() noexcept { return std::nullopt; }
  std::optional<std::int32_t> translated_flag() noexcept { return std::nullopt; }
};
static_assert(LinuxSystem<RootedSystem>);

namespace fs = std::filesystem;

Evidence container(const char* vendor, std::int32_t weight, std::string detail) {
  return {"container", "container", vendor, std::move(detail), weight};
}

// The vendor words the probes may ever record.
const std::set<std::string, std::less<>> kVendors(kContainerVendors.begin(), kContainerVendors.end());

class FakeRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "oxa-root-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
  }

  fs::path at(const std::string& path) const { return root_ / path.substr(1); }
  void file(const std::string& path, const std::string& content) {
    fs::create_directories(at(path).parent_path());
    std::ofstream(at(path), std::ios::binary) << content;
  }
  void folder(const std::string& path) { fs::create_directories(at(path)); }

  // The container findings of a run over the fake root.
  std::vector<Evidence> findings() {
    const std::string root = root_.string();
    RootedSystem system(root.c_str());
    Result result;
    detect_container(result, read_linux_signs(system));
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"container", "ok"}}));
    for (const Evidence& e : result.evidence) EXPECT_EQ(kVendors.count(e.vendor), 1u) << e.vendor;
    return result.evidence;
  }

  fs::path root_;
};

TEST_F(FakeRoot, NothingFoundOnAPlainSystem) {
  file("/proc/1/environ", std::string("PATH=/usr/bin\0HOME=/\0", 21));
  file("/proc/self/cgroup", "0::/init.scope\n");
  folder("/run/systemd");
  EXPECT_EQ(findings(), std::vector<Evidence>{});
}

TEST_F(FakeRoot, EachRuntimeByItsSigns) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;  // path -> content; a trailing '/' makes a folder
    std::vector<Evidence> evidence;
  };
  const Case cases[] = {
      {"docker", {{"/.dockerenv", ""}}, {container("docker", 90, "/.dockerenv")}},
      {"podman",
       {{"/run/.containerenv", "engine=\"podman-4.3.1\"\n"}},
       {container("podman", 90, "/run/.containerenv")}},
      {"podman, empty containerenv",
       {{"/run/.containerenv", ""}},
       {container("podman", 90, "/run/.containerenv")}},
      {"lxc under systemd",
       {{"/run/systemd/container", "lxc\n"}},
       {container("lxc", 95, "/run/systemd/container: lxc")}},
      {"libvirt lxc",
       {{"/run/systemd/container", "lxc-libvirt\n"}},
       {container("lxc", 95, "/run/systemd/container: lxc-libvirt")}},
      {"systemd-nspawn",
       {{"/run/host/container-manager", "systemd-nspawn"}},
       {container("systemd-nspawn", 95, "/run/host/container-manager: systemd-nspawn")}},
      {"lxc without systemd, as root",
       {{"/proc/1/environ", std::string("HOME=/\0container=lxc\0TERM=linux", 31)}},
       {container("lxc", 95, "/proc/1/environ: container=lxc")}},
      {"another manager",
       {{"/proc/1/environ", std::string("container=rkt\0", 14)}},
       {container("container-other", 95, "/proc/1/environ: container=rkt")}},
      {"openvz", {{"/proc/vz/", ""}}, {container("openvz", 90, "/proc/vz without /proc/bc")}},
      {"openvz host", {{"/proc/vz/", ""}, {"/proc/bc/", ""}}, {}},
      {"kubernetes pod",
       {{"/var/run/secrets/kubernetes.io/serviceaccount/", ""}},
       {container("kubernetes", 70, "/var/run/secrets/kubernetes.io/serviceaccount")}},
      // Without root: PID 1's environment is closed, the cgroup paths speak.
      {"docker on cgroup v1",
       {{"/proc/self/cgroup", "12:devices:/docker/0123abcd\n0::/\n"}},
       {container("docker", 80, "/proc/self/cgroup")}},
      {"docker with the systemd driver",
       {{"/proc/self/cgroup", "0::/system.slice/docker-0123abcd.scope\n"}},
       {container("docker", 80, "/proc/self/cgroup")}},
      {"podman",
       {{"/proc/self/cgroup", "0::/machine.slice/libpod-0123abcd.scope/container\n"}},
       {container("podman", 80, "/proc/self/cgroup")}},
      {"lxc",
       {{"/proc/self/cgroup", "0::/lxc.payload.c1/init.scope\n"}},
       {container("lxc", 80, "/proc/self/cgroup")}},
      {"kubernetes",
       {{"/proc/self/cgroup", "4:memory:/kubepods/besteffort/pod1234/0123abcd\n"}},
       {container("kubernetes", 80, "/proc/self/cgroup")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_);
    fs::create_directory(root_);
    for (const auto& [path, content] : c.files) {
      if (path.back() == '/') {
        folder(path);
      } else {
        file(path, content);
      }
    }
    EXPECT_EQ(findings(), c.evidence);
  }
}

// The costly reads happen only while nothing cheaper has spoken. Each step
// takes away the sign that spoke and shows what is read next.
TEST_F(FakeRoot, CostlierSignsAreReadOnlyWhenNeeded) {
  file("/.dockerenv", "");
  file("/run/.containerenv", "");
  file("/run/systemd/container", "lxc\n");
  folder("/proc/vz");
  file("/proc/1/environ", std::string("container=lxc\0", 14));
  file("/proc/self/cgroup", "0::/lxc.payload.c1\n");
  const std::string root = root_.string();
  RootedSystem system(root.c_str());
  const auto read = [&] { return read_linux_signs(system); };

  LinuxSigns signs = read();  // Docker's marker file: nothing more is read
  EXPECT_EQ(signs.dockerenv, PathKind::file);
  EXPECT_EQ(signs.containerenv, PathKind::absent);
  EXPECT_FALSE(signs.systemd_container);
  EXPECT_EQ(signs.openvz, PathKind::absent);
  EXPECT_FALSE(signs.init_environment);
  EXPECT_FALSE(signs.cgroup);

  fs::remove(at("/.dockerenv"));
  signs = read();  // Podman's marker file: no declaration, no /proc/vz
  EXPECT_EQ(signs.containerenv, PathKind::file);
  EXPECT_FALSE(signs.systemd_container);
  EXPECT_EQ(signs.openvz, PathKind::absent);

  fs::remove(at("/run/.containerenv"));
  signs = read();  // a declaration: neither /proc/vz nor PID 1's environment
  EXPECT_TRUE(signs.systemd_container);
  EXPECT_EQ(signs.openvz, PathKind::absent);
  EXPECT_FALSE(signs.init_environment);

  fs::remove(at("/run/systemd/container"));
  signs = read();  // no sign yet: /proc/vz, which speaks
  EXPECT_EQ(signs.openvz, PathKind::folder);
  EXPECT_FALSE(signs.init_environment);

  fs::remove(at("/proc/vz"));
  signs = read();  // still none: the environment, readable, and no cgroup
  EXPECT_TRUE(signs.init_environment);
  EXPECT_FALSE(signs.cgroup);

  fs::remove(at("/proc/1/environ"));
  signs = read();  // the environment closed: the cgroup paths
  EXPECT_TRUE(signs.cgroup);
}

TEST_F(FakeRoot, HostileSignsNeitherBlockNorLeaveTheSet) {
  folder("/run/systemd");
  ASSERT_EQ(::mkfifo(at("/run/systemd/container").c_str(), 0600), 0);
  folder("/run/host/container-manager");  // a folder where a file belongs
  folder("/proc/1");
  fs::create_symlink("/dev/zero", at("/proc/1/environ"));
  // Odd cgroup lines, and far more than is ever read.
  file("/proc/self/cgroup", "garbage\n::\n1:cpu\n:\n" + std::string(1 << 20, 'x'));
  EXPECT_EQ(findings(), std::vector<Evidence>{});

  // A huge declaration is read only in part, and names no vendor of its own.
  fs::remove(at("/run/systemd/container"));
  file("/run/systemd/container", std::string(1 << 20, 'a'));
  const std::vector<Evidence> huge = findings();
  ASSERT_EQ(huge.size(), 1u);
  EXPECT_EQ(huge[0].vendor, "container-other");
  EXPECT_EQ(huge[0].detail.size(), Result::kMaxDetail);
}

TEST_F(FakeRoot, EnvironmentWithoutEqualsSignsIsNoDeclaration) {
  file("/proc/1/environ", std::string("container\0containerlxc\0=\0", 26));
  EXPECT_EQ(findings(), std::vector<Evidence>{});
}

// As a user that may not read them; root reads anything, so a root test
// process checks this in a child that gives up root first.
TEST_F(FakeRoot, UnreadableSignsAreAbsence) {
  file("/run/systemd/container", "lxc\n");
  file("/proc/1/environ", std::string("container=lxc\0", 14));
  fs::permissions(at("/run/systemd/container"), fs::perms::owner_write);
  fs::permissions(at("/proc/1/environ"), fs::perms::owner_write);
  for (const fs::path& dir : {root_, at("/run"), at("/run/systemd"), at("/proc"), at("/proc/1")}) {
    fs::permissions(dir, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  }
  if (::geteuid() != 0) {
    EXPECT_EQ(findings(), std::vector<Evidence>{});
    return;
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
    const std::string root = root_.string();
    RootedSystem system(root.c_str());
    const LinuxSigns signs = read_linux_signs(system);
    // Neither file could be read, so neither declares anything.
    ::_exit(!signs.systemd_container && !signs.init_environment ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not give up root; 1: a closed file was read";
}

// WSL 1 translates system calls (a compatibility layer); WSL 2 runs the
// distribution in a container inside a Hyper-V machine; a plain Hyper-V
// guest shows neither.
TEST(LinuxSigns, WslOneAndTwoApart) {
  struct Case {
    const char* release;
    std::vector<Evidence> container;
    std::vector<Evidence> compatibility;
  };
  const Case cases[] = {
      {"4.4.0-19041-Microsoft",
       {},
       {{"compatibility", "compatibility", "wsl", "kernel release 4.4.0-19041-Microsoft", 95}}},
      {"5.15.153.1-microsoft-standard-WSL2",
       {container("wsl", 90, "kernel release 5.15.153.1-microsoft-standard-WSL2")},
       {}},
      {"6.1.0-18-amd64", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.release);
    LinuxSigns signs;
    signs.kernel_release = c.release;
    Result container_result;
    detect_container(container_result, signs);
    EXPECT_EQ(container_result.evidence, c.container);
    Result compatibility_result;
    detect_compatibility(compatibility_result, signs);
    EXPECT_EQ(compatibility_result.probes, (std::vector<Probe>{{"compatibility", "ok"}}));
    EXPECT_EQ(compatibility_result.evidence, c.compatibility);
  }
}

TEST(LinuxSigns, NothingReadableIsUnavailable) {
  Result result;
  detect_container(result, LinuxSigns{});
  detect_compatibility(result, LinuxSigns{});
  EXPECT_EQ(result.probes,
            (std::vector<Probe>{{"container", "unavailable"}, {"compatibility", "unavailable"}}));
  EXPECT_TRUE(result.evidence.empty());
}

// Container and compatibility findings fill their lists and weigh nothing.
TEST(LinuxSigns, FindingsFillTheirListsWithoutScore) {
  LinuxSigns signs;
  signs.dockerenv = PathKind::file;
  signs.kernel_release = "4.4.0-19041-Microsoft";
  Result result;
  detect_container(result, signs);
  detect_compatibility(result, signs);
  const Assessment a = assess(result);
  EXPECT_EQ(a.containers, std::vector<std::string>{"docker"});
  EXPECT_EQ(a.compatibility_layers, std::vector<std::string>{"wsl"});
  EXPECT_EQ(a.score, 0);
  EXPECT_EQ(a.likelihood, "unknown");  // no probe of another kind ran
}

}  // namespace
}  // namespace oxa
