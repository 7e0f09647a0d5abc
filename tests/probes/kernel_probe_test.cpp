// SPDX-License-Identifier: MIT
// The "system" probe on Linux: the kernel's own view of its hypervisor, read
// from a fake root through the native sign files, and hostile files in the
// signs' places.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/evidence.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/sign_files.h"
#include "probes/kernel_probe.h"
#include "support/rooted_system.h"

namespace oxa {
namespace {

namespace fs = std::filesystem;

using test::RootedSystem;

constexpr char kType[] = "/sys/hypervisor/type";
constexpr char kCapabilities[] = "/proc/xen/capabilities";
constexpr char kClock[] = "/sys/devices/system/clocksource/clocksource0/current_clocksource";
constexpr char kVmbus[] = "/sys/bus/vmbus/devices/";
constexpr char kFwCfg[] = "/sys/firmware/qemu_fw_cfg/";
constexpr char kPtp0[] = "/sys/class/ptp/ptp0/clock_name";
constexpr char kPtp1[] = "/sys/class/ptp/ptp1/clock_name";

class KernelView : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "oxa-kernel-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path at(const std::string& path) const { return root_ / path.substr(1); }
  // Files; a trailing '/' makes a folder, "fifo" a FIFO, "->x" a symlink to x.
  void populate(const std::map<std::string, std::string>& files) {
    fs::remove_all(root_);
    fs::create_directory(root_);
    for (const auto& [path, content] : files) {
      fs::create_directories(at(path).parent_path());
      if (path.back() == '/') {
        fs::create_directories(at(path));
      } else if (content == "fifo") {
        ASSERT_EQ(::mkfifo(at(path).c_str(), 0600), 0);
      } else if (content.rfind("->", 0) == 0) {
        fs::create_symlink(content.substr(2), at(path));
      } else {
        std::ofstream(at(path), std::ios::binary) << content;
      }
    }
  }
  Result run() {
    const std::string root = root_.string();
    RootedSystem system(root.c_str());
    Result result;
    detect_kernel(result, read_kernel_signs(system));
    return result;
  }
  fs::path root_;
};

Evidence finding(const char* category, const char* vendor, std::int32_t weight, std::string detail) {
  return {"system", category, vendor, std::move(detail), weight};
}

TEST_F(KernelView, EachSignNamesItsHypervisor) {
  const std::string clock = std::string(kClock) + ": ";
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;
    std::vector<Evidence> evidence;
  };
  const Case cases[] = {
      {"bare metal", {{kClock, "tsc\n"}}, {}},
      {"a Xen PV guest",
       {{kType, "xen\n"}, {kClock, "xen\n"}},
       {finding("guest", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"Xen's control domain",
       {{kType, "xen\n"}, {kCapabilities, "control_d\n"}},
       {finding("host", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"a KVM guest", {{kClock, "kvm-clock\n"}}, {finding("guest", "kvm", 80, clock + "kvm-clock")}},
      {"a Hyper-V guest",
       {{kClock, "hyperv_clocksource_tsc_page\n"}},
       {finding("guest", "hyperv", 80, clock + "hyperv_clocksource_tsc_page")}},
      {"a Xen HVM guest", {{kClock, "xen\n"}}, {finding("guest", "xen", 80, clock + "xen")}},
      {"VMBus",
       {{kClock, "tsc\n"}, {kVmbus, ""}},
       {finding("guest", "hyperv", 80, "/sys/bus/vmbus/devices")}},
      {"fw_cfg",
       {{kClock, "tsc\n"}, {kFwCfg, ""}},
       {finding("guest", "qemu", 80, "/sys/firmware/qemu_fw_cfg")}},
      {"a paravirtual PTP clock after a NIC's",
       {{kClock, "tsc\n"}, {kPtp0, "e1000e\n"}, {kPtp1, "KVM virtual PTP\n"}},
       {finding("guest", "kvm", 80, std::string(kPtp1) + ": KVM virtual PTP")}},
      {"Hyper-V's PTP clock",
       {{kPtp0, "hyperv\n"}},
       {finding("guest", "hyperv", 80, std::string(kPtp0) + ": hyperv")}},
      // Look-alikes and hostile files name nothing.
      {"look-alikes", {{kType, "Xen\n"}, {kClock, "kvm-clock-x\n"}, {kPtp0, "KVM virtual PTP 2\n"}}, {}},
      {"garbage", {{kType, std::string("x\0e\xffn", 5)}, {kClock, std::string(1 << 20, 'k')}}, {}},
      {"a FIFO and a device", {{kType, "fifo"}, {kClock, "->/dev/zero"}}, {}},
      {"a file where VMBus' folder is", {{"/sys/bus/vmbus/devices", ""}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    populate(c.files);
    EXPECT_EQ(run().evidence, c.evidence);
  }
}

TEST_F(KernelView, TheFirstSignThatNamesOneEndsTheReading) {
  populate({{kType, "xen\n"}, {kClock, "kvm-clock\n"}, {kVmbus, ""}});
  const std::string root = root_.string();
  RootedSystem system(root.c_str());
  const KernelSigns signs = read_kernel_signs(system);
  EXPECT_TRUE(signs.hypervisor_type);
  EXPECT_FALSE(signs.clock_source);
  EXPECT_EQ(signs.vmbus_devices, PathKind::absent);
}

TEST_F(KernelView, StatusSaysWhetherAnythingCouldBeRead) {
  populate({});
  EXPECT_EQ(run().probes, (std::vector<Probe>{{"system", "unavailable"}}));
  populate({{kClock, "tsc\n"}});
  EXPECT_EQ(run().probes, (std::vector<Probe>{{"system", "ok"}}));
}

}  // namespace
}  // namespace oxa
