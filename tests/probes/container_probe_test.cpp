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
#include <initializer_list>
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
#include "support/fake_root.h"
#include "support/rooted_system.h"

namespace oxa {
namespace {

using test::RootedSystem;

namespace fs = std::filesystem;

Evidence container(const char* vendor, std::int32_t weight, std::string detail) {
  return {"container", "container", vendor, std::move(detail), weight};
}

// The vendor words the probes may ever record.
const std::set<std::string, std::less<>> kVendors(kContainerVendors.begin(), kContainerVendors.end());

// A runtime's container id.
const std::string kId(64, 'c');

class FakeRoot : public test::FakeRootTest {
 protected:
  // The namespaces the kernel shows at /proc/self/ns: the host's initial
  // ones, or a runtime's (private from the first `private_from` on).
  void namespaces(std::size_t private_from) {
    const char* kinds[][3] = {{"pid", "4026531836", "4026532301"},
                              {"uts", "4026531838", "4026532299"},
                              {"ipc", "4026531839", "4026532300"}};
    for (std::size_t i = 0; i < 3; ++i) {
      link(std::string("/proc/self/ns/") + kinds[i][0],
           std::string(kinds[i][0]) + ":[" + kinds[i][i >= private_from ? 2 : 1] + "]");
    }
  }
  LinuxSigns signs() {
    const std::string root = root_.string();
    RootedSystem system(root.c_str());
    return read_linux_signs(system);
  }

  // The container findings of a run over the fake root.
  std::vector<Evidence> findings() {
    Result result;
    detect_container(result, signs());
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"container", "ok"}}));
    for (const Evidence& e : result.evidence) EXPECT_EQ(kVendors.count(e.vendor), 1u) << e.vendor;
    return result.evidence;
  }
  std::vector<std::string> containers() {
    Result result;
    detect_container(result, signs());
    return assess(result).containers;
  }
};

std::string environ(std::initializer_list<std::string> entries) {
  std::string out;
  for (const std::string& entry : entries) out += entry + '\0';
  return out;
}

constexpr std::size_t kInitial = 3;  // no namespace of its own
constexpr std::size_t kPrivate = 0;  // PID, UTS and IPC of its own

TEST_F(FakeRoot, NothingFoundOnAPlainSystem) {
  file("/proc/1/environ", environ({"PATH=/usr/bin", "HOME=/"}));
  file("/proc/self/cgroup", "0::/init.scope\n");
  folder("/run/systemd");
  namespaces(kInitial);
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
      {"podman, privileged: its words in .containerenv",
       {{"/run/.containerenv", "engine=\"podman-4.3.1\"\n"}},
       {container("podman", 90, "/run/.containerenv")}},
      {"podman, empty containerenv",
       {{"/run/.containerenv", ""}},
       {container("podman", 90, "/run/.containerenv")}},
      {"podman, its variable",
       {{"/run/.containerenv", ""}, {"/proc/self/environ", environ({"container=podman"})}},
       {container("podman", 95, "/proc/self/environ: container=podman")}},
      {"lxc under systemd",
       {{"/run/systemd/container", "lxc\n"}},
       {container("lxc", 95, "/run/systemd/container: lxc")}},
      {"libvirt lxc",
       {{"/run/systemd/container", "lxc-libvirt\n"}},
       {container("lxc", 95, "/run/systemd/container: lxc-libvirt")}},
      {"systemd-nspawn",
       {{"/run/host/container-manager", "systemd-nspawn"}},
       {container("systemd-nspawn", 95, "/run/host/container-manager: systemd-nspawn")}},
      {"a declaration written with CR LF",
       {{"/run/systemd/container", "docker\r\n"}},
       {container("docker", 95, "/run/systemd/container: docker")}},
      {"lxc without systemd, as root",
       {{"/proc/1/environ", environ({"HOME=/", "container=lxc", "TERM=linux"})}},
       {container("lxc", 95, "/proc/1/environ: container=lxc")}},
      {"lxd without systemd, as a normal user: its socket",
       {{"/dev/lxd/sock", "fifo"}},
       {container("lxc", 90, "/dev/lxd/sock in pid:[4026532301]")}},
      {"incus", {{"/dev/incus/sock", "fifo"}}, {container("lxc", 90, "/dev/incus/sock in pid:[4026532301]")}},
      {"another manager",
       {{"/proc/1/environ", environ({"container=rkt"})}},
       {container("container-other", 95, "/proc/1/environ: container=rkt")}},
      {"flatpak",
       {{"/.flatpak-info", "[Application]\n"},
        {"/proc/self/environ", environ({"FLATPAK_ID=org.example.App"})}},
       {container("flatpak", 95, "/proc/self/environ: FLATPAK_ID")}},
      {"flatpak, its file alone",
       {{"/.flatpak-info", "[Application]\n"}},
       {container("flatpak", 90, "/.flatpak-info")}},
      {"apptainer",
       {{"/proc/self/environ", environ({"APPTAINER_CONTAINER=/home/u/c.sif"})}},
       {container("apptainer", 95, "/proc/self/environ: APPTAINER_CONTAINER")}},
      {"singularity",
       {{"/proc/self/environ", environ({"SINGULARITY_CONTAINER=c.sif"})}},
       {container("apptainer", 95, "/proc/self/environ: SINGULARITY_CONTAINER")}},
      {"openvz", {{"/proc/vz/", ""}}, {container("openvz", 90, "/proc/vz without /proc/bc")}},
      {"openvz host", {{"/proc/vz/", ""}, {"/proc/bc/", ""}}, {}},
      {"kubernetes pod",
       {{"/var/run/secrets/kubernetes.io/serviceaccount/", ""}},
       {container("kubernetes", 70, "/var/run/secrets/kubernetes.io/serviceaccount")}},
      {"kubernetes pod without its token",
       {{"/proc/self/environ", environ({"KUBERNETES_SERVICE_HOST=10.96.0.1"})}},
       {container("kubernetes", 80, "/proc/self/environ: KUBERNETES_SERVICE_HOST")}},
      {"kubernetes pod, seen in PID 1's environment",
       {{"/proc/1/environ", environ({"KUBERNETES_SERVICE_HOST=10.96.0.1"})}},
       {container("kubernetes", 80, "/proc/1/environ: KUBERNETES_SERVICE_HOST")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    namespaces(kPrivate);
    add(c.files);
    EXPECT_EQ(findings(), c.evidence);
  }
}

// Which sign wins over which, read from a fake root as on a real system.
TEST_F(FakeRoot, WhichSignWins) {
  const std::string pod_cgroup_v1 =
      "4:memory:/kubepods/besteffort/pod1234/" + kId + "\n2:cpu:/kubepods/besteffort/pod1234/" + kId + "\n";
  struct Case {
    const char* name;
    std::size_t private_from;
    std::map<std::string, std::string> files;
    std::vector<std::string> containers;
  };
  const Case cases[] = {
      {"a manager's declaration over the image's marker",
       kPrivate,
       {{"/.dockerenv", ""}, {"/run/systemd/container", "lxc\n"}},
       {"lxc"}},
      {"PID 1's declaration over the image's marker",
       kPrivate,
       {{"/.dockerenv", ""}, {"/proc/1/environ", environ({"container=lxc"})}},
       {"lxc"}},
      {"an empty .containerenv in a pod is CRI-O's",
       kPrivate,
       {{"/run/.containerenv", ""}, {"/var/run/secrets/kubernetes.io/serviceaccount/", ""}},
       {"kubernetes"}},
      {"podman's own words in a pod",
       kPrivate,
       {{"/run/.containerenv", "engine=\"podman-4.3.1\"\n"}, {"/proc/self/cgroup", pod_cgroup_v1}},
       {"podman", "kubernetes"}},
      {"PID 1's environment open without container=, a pod's cgroup",
       kPrivate,
       {{"/proc/1/environ", environ({"HOME=/"})}, {"/proc/self/cgroup", pod_cgroup_v1}},
       {"kubernetes"}},
      {"a marker in the initial namespaces is a leftover", kInitial, {{"/.dockerenv", ""}}, {}},
      {"a podman marker in the initial namespaces too", kInitial, {{"/run/.containerenv", ""}}, {}},
      {"a marker with a private PID namespace (--uts=host --ipc=host)", 0, {{"/.dockerenv", ""}}, {"docker"}},
      {"a marker with only a private IPC namespace (--pid=host --uts=host)",
       2,
       {{"/.dockerenv", ""}},
       {"docker"}},
      {"apptainer shares the host's namespaces",
       kInitial,
       {{"/proc/self/environ", environ({"APPTAINER_CONTAINER=c.sif"})}},
       {"apptainer"}},
      {"LXD's socket in its virtual machine", kInitial, {{"/dev/lxd/sock", ""}}, {}},
      {"a runtime's cgroup in the initial namespaces (--pid=host --uts=host --ipc=host)",
       kInitial,
       {{"/.dockerenv", ""}, {"/proc/self/cgroup", "0::/system.slice/docker-" + kId + ".scope\n"}},
       {"docker"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    namespaces(c.private_from);
    add(c.files);
    EXPECT_EQ(containers(), c.containers);
  }
}

// A marker's namespaces that cannot be read cannot make it a leftover.
TEST_F(FakeRoot, UnreadableNamespacesKeepTheMarker) {
  file("/.dockerenv", "");
  EXPECT_EQ(containers(), std::vector<std::string>{"docker"});
  folder("/proc/self/ns/pid");  // a folder where the link belongs
  EXPECT_EQ(containers(), std::vector<std::string>{"docker"});
}

// Cgroup paths name only the shapes runtimes make for their containers,
// never the host units named after them.
TEST(LinuxSigns, CgroupPathShapes) {
  const std::string id = kId;
  struct Case {
    std::string cgroup;
    std::vector<std::string> containers;
  };
  const Case cases[] = {
      {"12:devices:/docker/" + id + "\n11:memory:/docker/" + id + "\n0::/\n", {"docker"}},
      {"0::/system.slice/docker-" + id + ".scope\n", {"docker"}},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/docker-" + id + ".scope\n", {"docker"}},
      {"0::/machine.slice/libpod-" + id + ".scope/container\n", {"podman"}},
      {"1:name=systemd:/libpod_parent/libpod-" + id + "\n", {"podman"}},
      {"0::/lxc.payload.c1/init.scope\n", {"lxc"}},
      {"3:cpu:/lxc/c1\n", {"lxc"}},
      {"4:memory:/kubepods/besteffort/pod1234/" + id + "\n", {"kubernetes"}},
      {"0::/kubepods.slice/kubepods-burstable.slice/kubepods-burstable-pod12.slice/cri-containerd-" + id +
           ".scope\n",
       {"kubernetes"}},
      {"0::/kubepods.slice/kubepods-pod12.slice/docker-" + id + ".scope\n", {"kubernetes", "docker"}},
      // The runtimes' own units on the host, and look-alikes.
      {"0::/system.slice/docker.service\n", {}},
      {"0::/system.slice/docker-compose@shop.service\n", {}},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/docker-desktop.service\n", {}},
      {"0::/machine.slice/libpod-conmon-" + id + ".scope\n", {}},
      {"0::/lxc.monitor.c1\n", {}},
      {"0::/lxc.payload.\n", {}},
      {"0::/system.slice/containerd.service\n", {}},
      {"0::/kubepods\n", {}},
      {"0::/kubepods-like.slice/x\n", {}},
      {"0::/docker-" + id.substr(1) + ".scope\n", {}},
      {"0::/docker/" + std::string(64, 'C') + "\n", {}},
      {"0::/docker\n", {}},
      {"0::/init.scope\n0::/\n", {}},
      {"garbage\n::\n1:cpu\n:\n/docker/" + id + "\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cgroup);
    LinuxSigns signs;
    signs.cgroup = c.cgroup;
    Result result;
    detect_container(result, signs);
    EXPECT_EQ(assess(result).containers, c.containers);
    EXPECT_LE(result.evidence.size(), c.containers.size());  // one finding per vendor
  }
}

// Each sign is read only while it can still change the answer.
TEST_F(FakeRoot, SignsAreReadOnlyWhileTheyCanChangeTheAnswer) {
  namespaces(kPrivate);
  file("/proc/self/environ", environ({"container=podman", "KUBERNETES_SERVICE_HOST=10.96.0.1"}));
  file("/run/systemd/container", "lxc\n");
  file("/.dockerenv", "");
  file("/proc/1/environ", environ({"container=lxc"}));
  file("/proc/self/cgroup", "0::/\n");
  folder("/proc/vz");

  LinuxSigns s = signs();  // our own environment says it all
  EXPECT_FALSE(s.systemd_container);
  EXPECT_FALSE(s.init_environment);
  EXPECT_EQ(s.dockerenv, PathKind::absent);
  EXPECT_FALSE(s.pid_namespace);
  EXPECT_FALSE(s.cgroup);
  EXPECT_EQ(s.openvz, PathKind::absent);
  EXPECT_TRUE(s.kernel_release);

  file("/proc/self/environ", environ({"KUBERNETES_SERVICE_HOST=10.96.0.1"}));
  s = signs();  // a pod, but no runtime yet: the declaration file speaks, no marker is looked at
  EXPECT_TRUE(s.systemd_container);
  EXPECT_FALSE(s.init_environment);
  EXPECT_EQ(s.dockerenv, PathKind::absent);
  EXPECT_FALSE(s.cgroup);

  fs::remove(at("/run/systemd/container"));
  file("/proc/self/environ", "");
  s = signs();  // PID 1 declares; the marker is not looked at, the cgroup may still show a pod
  EXPECT_TRUE(s.init_environment);
  EXPECT_EQ(s.dockerenv, PathKind::absent);
  EXPECT_TRUE(s.cgroup);
  EXPECT_EQ(s.openvz, PathKind::absent);

  fs::remove(at("/proc/1/environ"));
  s = signs();  // the marker, judged by the first private namespace alone
  EXPECT_EQ(s.dockerenv, PathKind::file);
  EXPECT_EQ(s.containerenv, PathKind::absent);
  EXPECT_TRUE(s.pid_namespace);
  EXPECT_FALSE(s.uts_namespace);
  EXPECT_EQ(s.openvz, PathKind::absent);

  fs::remove_all(at("/proc/self/ns"));
  namespaces(kInitial);
  s = signs();  // a leftover marker: all three namespaces read, then the rest
  EXPECT_TRUE(s.ipc_namespace);
  EXPECT_TRUE(s.cgroup);
  EXPECT_EQ(s.openvz, PathKind::folder);
  EXPECT_EQ(s.lxd_socket, PathKind::absent);  // OpenVZ spoke
}

TEST_F(FakeRoot, HostileSignsNeitherBlockNorLeaveTheSet) {
  namespaces(kPrivate);
  folder("/run/systemd");
  ASSERT_EQ(::mkfifo(at("/run/systemd/container").c_str(), 0600), 0);
  folder("/run/host/container-manager");         // a folder where a file belongs
  link("/var/run/secrets", "/var/run/secrets");  // a symlink loop
  link("/.dockerenv", "/.dockerenv");
  folder("/proc/1");
  fs::create_symlink("/dev/zero", at("/proc/1/environ"));
  ASSERT_EQ(::mkfifo(at("/proc/self/environ").c_str(), 0600), 0);
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

// PID 1's environment is scanned whole, up to its cap, in small pieces.
TEST_F(FakeRoot, EnvironmentsAreScannedWhole) {
  namespaces(kPrivate);
  struct Case {
    const char* name;
    std::string environment;
    std::vector<std::string> containers;
  };
  const std::string filler = environ({"X=" + std::string(100 * 1024, 'x'), "Y=" + std::string(5000, 'y')});
  const Case cases[] = {
      {"a late container=", filler + environ({"container=lxc"}), {"lxc"}},
      {"the first of two", environ({"container=lxc", "container=docker"}), {"lxc"}},
      {"the last without its NUL", filler + "container=lxc", {"lxc"}},
      {"a value too long to be a name",
       environ({"container=" + std::string(1000, 'l')}),
       {"container-other"}},
      {"past the cap", std::string(kEnvironmentScanLimit, 'x') + '\0' + environ({"container=lxc"}), {}},
      {"no equals signs", std::string("container\0containerlxc\0=\0", 26), {}},
      {"NUL and 0xFF bytes", std::string("\0\0\xff\xff=\0container=\xff\0", 19), {"container-other"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    file("/proc/1/environ", c.environment);
    EXPECT_EQ(containers(), c.containers);
  }
}

TEST(NativeSystem, OwnEnvironmentFromMemory) {
  ::setenv("container", "podman\r", 1);
  ::setenv("FLATPAK_ID", std::string(400, 'f').c_str(), 1);
  const std::optional<std::string> own = SignFiles().environment(kOwnEnvironmentPath);
  ::unsetenv("container");
  ::unsetenv("FLATPAK_ID");
  ASSERT_TRUE(own);
  EXPECT_EQ(*own, std::string("container=podman\r\0FLATPAK_ID=", 29) +
                      std::string(kEnvironmentValueLimit, 'f') + '\0');
}

// The answer does not get worse with privilege, nor better: a pod on cgroup
// v1 whose PID 1 environment only root may read, as root and as nobody.
TEST_F(FakeRoot, TheAnswerIsTheSameWithoutRoot) {
  namespaces(kPrivate);
  file("/proc/1/environ", environ({"HOME=/"}));
  fs::permissions(at("/proc/1/environ"), fs::perms::owner_read);
  file("/proc/self/cgroup", "4:memory:/kubepods/besteffort/pod1234/" + kId + "\n");
  for (const fs::path& dir : {root_, at("/proc"), at("/proc/1"), at("/proc/self")}) {
    fs::permissions(dir, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  }
  const std::vector<std::string> seen = containers();
  EXPECT_EQ(seen, std::vector<std::string>{"kubernetes"});
  if (::geteuid() != 0) return;
  if (std::getenv("OXA_TEST_EMULATED") != nullptr)
    GTEST_SKIP() << "a child giving up root hangs under qemu-user";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
    const LinuxSigns s = signs();
    Result result;
    detect_container(result, s);
    // PID 1's environment closed, the answer the same.
    ::_exit(!s.init_environment && assess(result).containers == seen ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not give up root; 1: another answer without root";
}

// As a user that may not read them; root reads anything, so a root test
// process checks this in a child that gives up root first.
TEST_F(FakeRoot, UnreadableSignsAreAbsence) {
  file("/run/systemd/container", "lxc\n");
  file("/proc/1/environ", environ({"container=lxc"}));
  fs::permissions(at("/run/systemd/container"), fs::perms::owner_write);
  fs::permissions(at("/proc/1/environ"), fs::perms::owner_write);
  for (const fs::path& dir : {root_, at("/run"), at("/run/systemd"), at("/proc"), at("/proc/1")}) {
    fs::permissions(dir, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  }
  if (::geteuid() != 0) {
    EXPECT_EQ(findings(), std::vector<Evidence>{});
    return;
  }
  if (std::getenv("OXA_TEST_EMULATED") != nullptr)
    GTEST_SKIP() << "a child giving up root hangs under qemu-user";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
    const LinuxSigns s = signs();
    // Neither file could be read, so neither declares anything.
    ::_exit(!s.systemd_container && !s.init_environment ? 0 : 1);
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
  signs.dockerenv = PathKind::file;  // namespaces unread: the marker is not known to be a leftover
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
