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

// Lines of /proc/self/mountinfo as each kind of machine shows them.
// Docker's overlay2 storage (containerd's, CRI-O's and Podman's look alike).
const std::string kDockerRoot =
    "1364 1243 0:143 / / rw,relatime master:636 - overlay overlay rw,lowerdir=/var/lib/docker/overlay2/l/"
    "6Y5Q5EOJXVO2ZEW3VZQ7XUZV7G:/var/lib/docker/overlay2/l/OJ4H3Y5T2BQXWZ,upperdir=/var/lib/docker/"
    "overlay2/" +
    kId + "/diff,workdir=/var/lib/docker/overlay2/" + kId + "/work\n";
const std::string kContainerMounts =
    kDockerRoot +
    "1365 1364 0:146 / /proc rw,nosuid,nodev,noexec,relatime - proc proc rw\n"
    "1366 1364 0:147 / /dev rw,nosuid - tmpfs tmpfs rw,size=65536k,mode=755\n";
// A host's or a VM's root on its disk, as a sandboxed service sees it too.
const std::string kHostRoot = "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n";
const std::string kHostMounts = "21 27 0:20 / /proc rw,relatime - proc proc rw\n" + kHostRoot +
                                "23 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw,mode=755\n";
// LXD's dir storage, its folder with the socket bound at /dev/lxd.
const std::string kLxdMounts =
    "1501 1400 8:1 /var/snap/lxd/common/lxd/storage-pools/default/containers/c1/rootfs / rw,relatime - ext4 "
    "/dev/sda1 rw\n"
    "1510 1501 0:27 / /dev/lxd rw,relatime - tmpfs tmpfs rw,size=100k,mode=755\n";
// Incus's ZFS storage: a root "/" from its dataset, its folder at /dev/incus.
const std::string kIncusMounts =
    "1601 1500 0:61 / / rw,relatime - zfs default/containers/c1 rw,xattr,posixacl\n"
    "1610 1601 0:27 / /dev/incus rw,relatime - tmpfs tmpfs rw,size=100k,mode=755\n";
// Flatpak: bubblewrap's root on a tmpfs, the marker bound in.
const std::string kFlatpakMounts =
    "2001 2000 0:70 / / rw,nosuid,nodev,relatime - tmpfs tmpfs rw,size=4k,mode=755\n"
    "2002 2001 0:31 /usr /usr ro,nosuid,nodev,relatime - ext4 /dev/sda2 rw\n"
    "2010 2001 0:70 /.flatpak-info /.flatpak-info ro,nosuid,nodev,relatime - tmpfs tmpfs "
    "rw,size=4k,mode=755\n";

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
  void mounts(const std::string& mountinfo) { file("/proc/self/mountinfo", mountinfo); }
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
       {{"/dev/lxd/sock", "fifo"}, {"/proc/self/mountinfo", kLxdMounts}},
       {container("lxc", 90, "/dev/lxd/sock in pid:[4026532301]")}},
      {"incus",
       {{"/dev/incus/sock", "fifo"}, {"/proc/self/mountinfo", kIncusMounts}},
       {container("lxc", 90, "/dev/incus/sock in pid:[4026532301]")}},
      {"another manager",
       {{"/proc/1/environ", environ({"container=rkt"})}},
       {container("container-other", 95, "/proc/1/environ: container=rkt")}},
      // Any word of the vocabulary is its own vendor; a near miss is not.
      {"a manager by a vocabulary word",
       {{"/run/systemd/container", "apptainer\n"}},
       {container("apptainer", 95, "/run/systemd/container: apptainer")}},
      {"a manager by a near miss",
       {{"/run/systemd/container", "Docker\n"}},
       {container("container-other", 95, "/run/systemd/container: Docker")}},
      {"flatpak",
       {{"/.flatpak-info", "[Application]\n"},
        {"/proc/self/environ", environ({"FLATPAK_ID=org.example.App"})}},
       {container("flatpak", 95, "/proc/self/environ: FLATPAK_ID")}},
      {"flatpak, its file alone",
       {{"/.flatpak-info", "[Application]\n"}, {"/proc/self/mountinfo", kFlatpakMounts}},
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
    mounts(kContainerMounts);
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
    mounts(kContainerMounts);
    add(c.files);
    EXPECT_EQ(containers(), c.containers);
  }
}

// A marker whose namespaces or mounts cannot be read is a leftover: a
// chroot into a copied image without /proc shows neither.
TEST_F(FakeRoot, UnreadableNamespacesOrMountsMakeALeftover) {
  file("/.dockerenv", "");
  EXPECT_EQ(containers(), std::vector<std::string>{});  // no /proc at all
  mounts(kContainerMounts);
  EXPECT_EQ(containers(), std::vector<std::string>{});  // no namespaces
  folder("/proc/self/ns/pid");                          // a folder where the link belongs
  EXPECT_EQ(containers(), std::vector<std::string>{});
  fs::remove_all(at("/proc/self/ns"));
  namespaces(kPrivate);
  fs::remove(at("/proc/self/mountinfo"));
  EXPECT_EQ(containers(), std::vector<std::string>{});  // namespaces, no mounts
  mounts(kContainerMounts);
  EXPECT_EQ(containers(), std::vector<std::string>{"docker"});
}

// A marker names its runtime only where the mounts show the runtime's
// work: a root from its storage, or the marker bound in. A namespace of its
// own alone is a sandbox, whose copied root keeps the image's marker.
TEST_F(FakeRoot, AMarkerCountsOnlyWhereTheMountsShowARuntime) {
  const std::string btrfs_options = "rw,relatime,ssd,space_cache=v2,subvolid=";
  struct Case {
    const char* name;
    std::size_t private_from;
    const char* marker;
    std::string mountinfo;
    std::vector<std::string> containers;
  };
  const Case cases[] = {
      {"docker, overlay2 storage", kPrivate, "/.dockerenv", kContainerMounts, {"docker"}},
      {"docker --pid=host: its own UTS, IPC and mounts", 1, "/.dockerenv", kContainerMounts, {"docker"}},
      {"docker --pid=host --uts=host: its own IPC", 2, "/.dockerenv", kContainerMounts, {"docker"}},
      {"docker, btrfs storage: a subvolume named by its layer id",
       kPrivate,
       "/.dockerenv",
       "300 200 0:45 /@/var/lib/docker/btrfs/subvolumes/" + kId + " / rw,relatime - btrfs /dev/sda2 " +
           btrfs_options + "300,subvol=/@/var/lib/docker/btrfs/subvolumes/" + kId + "\n",
       {"docker"}},
      {"docker, zfs storage: a dataset named by its layer id",
       kPrivate,
       "/.dockerenv",
       "400 300 0:77 / / rw,relatime - zfs tank/docker/" + kId + " rw,xattr,noacl\n",
       {"docker"}},
      {"docker, vfs storage: a directory bound as the root",
       kPrivate,
       "/.dockerenv",
       "500 400 254:1 /var/lib/docker/vfs/dir/" + kId + " / rw,relatime - ext4 /dev/vda1 rw\n",
       {"docker"}},
      {"an LXC container (dir backend) of a docker export, no declaration readable",
       kPrivate,
       "/.dockerenv",
       "600 500 8:1 /var/lib/lxc/c1/rootfs / rw,relatime - ext4 /dev/sda1 rw\n",
       {"docker"}},
      {"an LXC dir container on a btrfs host: a directory inside the host's subvolume",
       kPrivate,
       "/.dockerenv",
       "610 500 0:33 /@/var/lib/lxc/c1/rootfs / rw,relatime - btrfs /dev/sda2 " + btrfs_options +
           "256,subvol=/@\n",
       {"docker"}},
      {"rootless podman, fuse-overlayfs",
       kPrivate,
       "/run/.containerenv",
       "700 600 0:52 / / rw,nodev,relatime - fuse.fuse-overlayfs fuse-overlayfs rw,user_id=0,group_id=0\n",
       {"podman"}},
      {"podman over a root of no known storage: its marker bound in",
       kPrivate,
       "/run/.containerenv",
       kHostRoot + "710 27 0:25 /containers/overlay-containers/" + kId +
           "/userdata/.containerenv /run/.containerenv rw,nosuid,nodev - tmpfs tmpfs rw,mode=755\n",
       {"podman"}},
      {"flatpak: bubblewrap's tmpfs root, the marker bound in",
       kPrivate,
       "/.flatpak-info",
       kFlatpakMounts,
       {"flatpak"}},
      {"mounts stack: a runtime's root over a tmpfs",
       kPrivate,
       "/.dockerenv",
       "800 700 0:70 / / rw - tmpfs tmpfs rw\n" + kDockerRoot,
       {"docker"}},
      // The look-alikes: a sandbox or a copied root keeps the marker.
      {"a daemon under ProtectHostname= (a private UTS namespace)", 1, "/.dockerenv", kHostMounts, {}},
      {"a private IPC namespace", 2, "/.dockerenv", kHostMounts, {}},
      {"a PID sandbox (unshare -p)", 0, "/.dockerenv", kHostMounts, {}},
      {"bubblewrap: a tmpfs root, the marker a file of the copied tree",
       kPrivate,
       "/.dockerenv",
       "900 800 0:70 / / rw,nosuid,nodev,relatime - tmpfs tmpfs rw,mode=755\n"
       "901 900 8:2 /srv/image/usr /usr ro,relatime - ext4 /dev/sda2 rw\n",
       {}},
      {"flatpak's marker as a plain file of a tmpfs root",
       kPrivate,
       "/.flatpak-info",
       "900 800 0:70 / / rw - tmpfs tmpfs rw\n",
       {}},
      {"Docker never binds its marker: a mount there is not Docker's",
       1,
       "/.dockerenv",
       kHostMounts + "950 27 0:70 /x /.dockerenv rw - tmpfs tmpfs rw\n",
       {}},
      {"WSL 2, a distribution imported from docker export",
       0,
       "/.dockerenv",
       "60 1 8:32 / / rw,relatime - ext4 /dev/sdc rw,discard,errors=remount-ro,data=ordered\n",
       {}},
      {"a Fedora host on btrfs, a sandboxed service",
       1,
       "/.dockerenv",
       "60 1 0:32 /root / rw,relatime shared:1 - btrfs /dev/nvme0n1p3 rw,seclabel,compress=zstd:1," +
           btrfs_options + "256,subvol=/root\n",
       {}},
      {"an Ubuntu host on btrfs, a sandboxed service",
       1,
       "/.dockerenv",
       "60 1 0:32 /@ / rw,relatime - btrfs /dev/sda2 " + btrfs_options + "256,subvol=/@\n",
       {}},
      {"an openSUSE host on a snapshot, a sandboxed service",
       1,
       "/.dockerenv",
       "60 1 0:32 /@/.snapshots/1/snapshot / ro,relatime - btrfs /dev/sda2 " + btrfs_options +
           "267,subvol=/@/.snapshots/1/snapshot\n",
       {}},
      {"a host on ZFS, a sandboxed service",
       1,
       "/.dockerenv",
       "60 1 0:25 / / rw,relatime - zfs rpool/ROOT/ubuntu_abc123 rw,xattr,posixacl\n",
       {}},
      {"a composefs host (an overlay of composefs), a sandboxed service",
       1,
       "/.dockerenv",
       "60 1 0:30 / / ro,relatime - overlay composefs ro,lowerdir+=/run/ostree/.private/cfsroot-lower\n",
       {}},
      {"mounts stack: a disk's root over a runtime's", kPrivate, "/.dockerenv", kDockerRoot + kHostRoot, {}},
      {"a chroot into a copied tree: no mount at its root",
       kPrivate,
       "/.dockerenv",
       "21 27 0:20 / /proc rw,relatime - proc proc rw\n",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    namespaces(c.private_from);
    file(c.marker, "");
    mounts(c.mountinfo);
    EXPECT_EQ(containers(), c.containers);
  }
}

// Each root mount by what made it: a runtime's storage or not.
TEST(LinuxSigns, RootMountShapes) {
  struct Case {
    std::string line;
    bool runtime;
  };
  const Case cases[] = {
      {"1 0 0:1 / / rw - overlay overlay rw,lowerdir=/l,upperdir=/u,workdir=/w", true},
      {"1 0 0:1 / / rw shared:1 master:2 - overlay overlay rw", true},  // optional fields
      {"1 0 0:1 / / rw - fuse.fuse-overlayfs fuse-overlayfs rw", true},
      {"1 0 8:1 /var/lib/lxc/c1/rootfs / rw - ext4 /dev/sda1 rw", true},
      {"1 0 8:1 /srv/root\\040dir / rw - xfs /dev/sda1 rw", true},  // an escaped blank
      {"1 0 0:2 /var/lib/docker/btrfs/subvolumes/" + kId +
           " / rw - btrfs /dev/sda2 rw,subvolid=300,subvol=/var/lib/docker/btrfs/subvolumes/" + kId,
       true},
      {"1 0 0:2 /containers/c1/rootfs / rw - btrfs /dev/loop0 rw,subvolid=260,subvol=/containers/c1", true},
      {"1 0 0:3 / / rw - zfs pool/" + kId + " rw", true},
      {"1 0 254:0 / / rw - ext4 /dev/vda rw", false},
      {"1 0 0:1 / / rw - overlay composefs ro", false},
      {"1 0 0:4 / / rw - tmpfs tmpfs rw", false},
      {"1 0 0:2 /@ / rw - btrfs /dev/sda2 rw,subvolid=256,subvol=/@", false},
      {"1 0 0:2 /root / rw - btrfs /dev/sda2 rw,subvolid=256,subvol=/root", false},
      {"1 0 0:2 /@ / rw - btrfs /dev/sda2 rw,subvolid=256", false},  // no subvol=: a host, maybe
      {"1 0 0:3 / / rw - zfs rpool/ROOT/debian rw", false},
      {"1 0 0:3 / / rw - zfs pool/" + kId.substr(1) + " rw", false},
      {"1 0 0:5 / / rw - squashfs /dev/loop0 ro", false},
      // Not a root line, or no line at all.
      {"1 0 0:1 / /var/lib/docker rw - overlay overlay rw", false},
      {"1 0 0:1 / / rw overlay overlay rw", false},  // no "-"
      {"1 0 0:1 / / rw - overlay overlay", false},   // no super options
      {"1 0 0:1 / / rw -", false},
      {"- - - - - - - -", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(runtime_root(c.line + '\n'), c.runtime);
    EXPECT_FALSE(runtime_root(c.line));  // cut at the read limit: no line
  }
  EXPECT_TRUE(mounted_at("1 0 0:1 / /dev/lxd rw - tmpfs tmpfs rw\n", "/dev/lxd"));
  EXPECT_FALSE(mounted_at("1 0 0:1 / /dev/lxd/x rw - tmpfs tmpfs rw\n", "/dev/lxd"));
  EXPECT_FALSE(mounted_at("1 0 0:1 / /dev/lxd rw - tmpfs tmpfs rw", "/dev/lxd"));
}

// LXD's and Incus's socket names a container only where their folder is
// bound in; their VMs' agent makes it on the VM's own /dev.
TEST_F(FakeRoot, TheLxdSocketOnlyInItsContainers) {
  struct Case {
    const char* name;
    std::size_t private_from;
    const char* socket;
    std::string mountinfo;
    std::vector<std::string> containers;
  };
  const Case cases[] = {
      {"an LXD container, dir storage", kPrivate, "/dev/lxd/sock", kLxdMounts, {"lxc"}},
      {"an LXD container, zfs storage",
       kPrivate,
       "/dev/lxd/sock",
       "1601 1500 0:61 / / rw,relatime - zfs default/containers/c1 rw,xattr,posixacl\n"
       "1610 1601 0:27 / /dev/lxd rw,relatime - tmpfs tmpfs rw,size=100k,mode=755\n",
       {"lxc"}},
      {"the socket alone bound",
       kPrivate,
       "/dev/lxd/sock",
       kHostRoot + "1610 27 0:27 /sock /dev/lxd/sock rw - tmpfs tmpfs rw\n",
       {"lxc"}},
      {"an Incus container", kPrivate, "/dev/incus/sock", kIncusMounts, {"lxc"}},
      {"a PID sandbox in an LXD container", 0, "/dev/lxd/sock", kLxdMounts, {"lxc"}},
      // The look-alikes.
      {"an LXD VM", kInitial, "/dev/lxd/sock", kHostMounts, {}},
      {"a PID sandbox in an LXD VM", 0, "/dev/lxd/sock", kHostMounts, {}},
      {"a PID sandbox in an Incus VM", 0, "/dev/incus/sock", kHostMounts, {}},
      {"an Incus socket, LXD's folder bound",
       kPrivate,
       "/dev/incus/sock",
       kHostRoot + "1610 27 0:27 / /dev/lxd rw - tmpfs tmpfs rw\n",
       {}},
      {"a PID sandbox in an LXD VM, a bind elsewhere",
       0,
       "/dev/lxd/sock",
       kHostMounts + "1610 27 0:27 / /dev/lxd2 rw - tmpfs tmpfs rw\n",
       {}},
      {"no mounts readable", kPrivate, "/dev/lxd/sock", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    namespaces(c.private_from);
    add({{c.socket, "fifo"}});
    if (!c.mountinfo.empty()) mounts(c.mountinfo);
    EXPECT_EQ(containers(), c.containers);
  }
}

// The mounts, read only where a marker or socket asked for them, are a
// plain file read up to its limit: anything else there blocks nothing and
// names nothing outside the set.
TEST_F(FakeRoot, HostileMountsNeitherBlockNorLeaveTheSet) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;
  };
  const Case cases[] = {
      {"empty", {{"/proc/self/mountinfo", ""}}},
      {"NUL bytes", {{"/proc/self/mountinfo", std::string(4096, '\0')}}},
      {"NUL bytes in the root line",
       {{"/proc/self/mountinfo", std::string("1 0 0:1 / / rw - overlay\0 overlay rw\n", 37)}}},
      {"huge, no line", {{"/proc/self/mountinfo", std::string(1 << 20, 'x')}}},
      {"the root line past the read limit",
       {{"/proc/self/mountinfo", std::string(kSignReadLimit, '\n') + kDockerRoot}}},
      {"the root line cut at the read limit",
       {{"/proc/self/mountinfo", std::string(kSignReadLimit - 40, '\n') + kDockerRoot}}},
      {"unterminated", {{"/proc/self/mountinfo", kDockerRoot.substr(0, kDockerRoot.size() - 1)}}},
      {"a FIFO", {{"/proc/self/mountinfo", "fifo"}}},
      {"a symlink loop", {{"/proc/self/mountinfo", "->/proc/self/mountinfo"}}},
      {"a symlink to a runtime's mounts", {{"/proc/self/mountinfo", "->/real"}, {"/real", kContainerMounts}}},
      {"a folder", {{"/proc/self/mountinfo/", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    namespaces(kPrivate);
    add({{"/.dockerenv", ""}, {"/dev/lxd/sock", "fifo"}});
    add(c.files);
    EXPECT_EQ(findings(), std::vector<Evidence>{});
  }
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
  mounts(kContainerMounts);
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
  EXPECT_FALSE(s.mountinfo);
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
  s = signs();  // the marker, judged by the first private namespace and the mounts
  EXPECT_EQ(s.dockerenv, PathKind::file);
  EXPECT_EQ(s.containerenv, PathKind::absent);
  EXPECT_TRUE(s.pid_namespace);
  EXPECT_FALSE(s.uts_namespace);
  EXPECT_TRUE(s.mountinfo);
  EXPECT_EQ(s.openvz, PathKind::absent);

  fs::remove_all(at("/proc/self/ns"));
  namespaces(kInitial);
  s = signs();  // a leftover marker: all three namespaces read, no mounts, then the rest
  EXPECT_TRUE(s.ipc_namespace);
  EXPECT_FALSE(s.mountinfo);
  EXPECT_TRUE(s.cgroup);
  EXPECT_EQ(s.openvz, PathKind::folder);
  EXPECT_EQ(s.lxd_socket, PathKind::absent);  // OpenVZ spoke

  fs::remove(at("/.dockerenv"));
  fs::remove_all(at("/proc/vz"));
  s = signs();  // nothing seen: neither the namespaces nor the mounts are read
  EXPECT_FALSE(s.pid_namespace);
  EXPECT_FALSE(s.mountinfo);
  EXPECT_EQ(s.incus_socket, PathKind::absent);

  file("/.dockerenv", "");
  mounts(kHostMounts);
  fs::remove_all(at("/proc/self/ns"));
  namespaces(1);
  s = signs();  // a sandbox's marker (a private UTS namespace) is refused by the mounts, then the rest
  EXPECT_TRUE(s.mountinfo);
  EXPECT_TRUE(s.cgroup);
  EXPECT_EQ(s.lxd_socket, PathKind::absent);

  fs::remove(at("/.dockerenv"));
  add({{"/dev/lxd/sock", "fifo"}});
  fs::remove_all(at("/proc/self/ns"));
  namespaces(kInitial);
  s = signs();  // LXD's socket in its VM: the PID namespace, no mounts
  EXPECT_EQ(s.lxd_socket, PathKind::other);
  EXPECT_EQ(s.incus_socket, PathKind::absent);
  EXPECT_TRUE(s.pid_namespace);
  EXPECT_FALSE(s.mountinfo);
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
  signs.dockerenv = PathKind::file;
  signs.pid_namespace = "pid:[4026532301]";
  signs.mountinfo = kContainerMounts;
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
