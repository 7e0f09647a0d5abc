// SPDX-License-Identifier: MIT
// The "system" probe on Linux: the kernel's own view of its hypervisor, read
// from a fake root through the native sign files, and hostile files in the
// signs' places.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/evidence.h"
#include "probes/kernel_probe.h"
#include "support/fake_root.h"
#include "support/rooted_system.h"

namespace oxa {
namespace {

using test::RootedSystem;

constexpr char kType[] = "/sys/hypervisor/type";
constexpr char kCapabilities[] = "/proc/xen/capabilities";
constexpr char kFeatures[] = "/sys/hypervisor/properties/features";
constexpr char kClock[] = "/sys/devices/system/clocksource/clocksource0/current_clocksource";
constexpr char kVmbus[] = "/sys/bus/vmbus/devices/";
// The driver's folder, made at start-up, and what a present device adds.
constexpr char kFwCfgFolder[] = "/sys/firmware/qemu_fw_cfg/";
constexpr char kFwCfg[] = "/sys/firmware/qemu_fw_cfg/rev";
const std::map<std::string, std::string> kFwCfgDevice = {
    {kFwCfg, "3\n"}, {"/sys/firmware/qemu_fw_cfg/by_key/", ""}, {"/sys/firmware/qemu_fw_cfg/by_name/", ""}};
constexpr char kPtp0[] = "/sys/class/ptp/ptp0/clock_name";
constexpr char kPtp1[] = "/sys/class/ptp/ptp1/clock_name";

class KernelView : public test::FakeRootTest {
 protected:
  Result run() {
    const std::string root = root_.string();
    RootedSystem system(root.c_str());
    Result result;
    detect_kernel(result, read_kernel_signs(system));
    return result;
  }
};

std::map<std::string, std::string> with(std::map<std::string, std::string> files,
                                        const std::map<std::string, std::string>& more) {
  files.insert(more.begin(), more.end());
  return files;
}

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
      // Xen's control domain: XENFEAT_dom0 (bit 11) in the feature bits, or
      // xenfs' word where they cannot be read.
      {"Xen's control domain, xenfs mounted",
       {{kType, "xen\n"}, {kCapabilities, "control_d\n"}},
       {finding("host", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"Xen's control domain without xenfs",
       {{kType, "xen\n"}, {kFeatures, "00000b70\n"}},
       {finding("host", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"Xen's control domain, two submaps",
       {{kType, "xen\n"}, {kFeatures, "0000000100000800\n"}},
       {finding("host", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"a Xen HVM guest's feature bits",
       {{kType, "xen\n"}, {kFeatures, "00002705\n"}},
       {finding("guest", "xen", 90, "/sys/hypervisor/type: xen")}},
      // The bits are the kernel's word: xenfs does not overrule them.
      {"a guest's bits and a stray capabilities file",
       {{kType, "xen\n"}, {kFeatures, "00002705\n"}, {kCapabilities, "control_d\n"}},
       {finding("guest", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"unreadable bits, xenfs decides",
       {{kType, "xen\n"}, {kFeatures, "0b70\n"}, {kCapabilities, "control_d\n"}},
       {finding("host", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"a KVM guest", {{kClock, "kvm-clock\n"}}, {finding("guest", "kvm", 80, clock + "kvm-clock")}},
      {"a Hyper-V guest",
       {{kClock, "hyperv_clocksource_tsc_page\n"}},
       {finding("guest", "hyperv", 80, clock + "hyperv_clocksource_tsc_page")}},
      {"a Xen HVM guest", {{kClock, "xen\n"}}, {finding("guest", "xen", 80, clock + "xen")}},
      {"VMBus",
       {{kClock, "tsc\n"}, {kVmbus, ""}},
       {finding("guest", "hyperv", 80, "/sys/bus/vmbus/devices")}},
      {"fw_cfg", with({{kClock, "tsc\n"}}, kFwCfgDevice), {finding("guest", "qemu", 80, kFwCfg)}},
      // QEMU's device names the device model, whatever named the hypervisor.
      {"QEMU on KVM",
       with({{kClock, "arch_sys_counter\n"}, {kPtp0, "KVM virtual PTP\n"}}, kFwCfgDevice),
       {finding("guest", "kvm", 80, std::string(kPtp0) + ": KVM virtual PTP"),
        finding("guest", "qemu", 80, kFwCfg)}},
      // A kernel with the driver built in (RHEL and its rebuilds) makes the
      // folder at start-up, device or not: bare metal.
      {"fw_cfg's folder alone", {{kClock, "tsc\n"}, {kFwCfgFolder, ""}}, {}},
      {"a folder where rev is", {{kClock, "tsc\n"}, {std::string(kFwCfg) + "/", ""}}, {}},
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
      {"a file where /sys/hypervisor is", {{"/sys/hypervisor", "xen\n"}, {kClock, "tsc\n"}}, {}},
      // Feature bits that are no "%08x" submaps leave xenfs to decide; none here.
      {"hostile feature bits",
       {{kType, "xen\n"}, {kFeatures, std::string(1 << 20, '8')}},
       {finding("guest", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"feature bits with a sign",
       {{kType, "xen\n"}, {kFeatures, "-0000800\n"}},
       {finding("guest", "xen", 90, "/sys/hypervisor/type: xen")}},
      {"a FIFO for feature bits",
       {{kType, "xen\n"}, {kFeatures, "fifo"}},
       {finding("guest", "xen", 90, "/sys/hypervisor/type: xen")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    populate(c.files);
    EXPECT_EQ(run().evidence, c.evidence);
  }
}

TEST_F(KernelView, TheFirstSignThatNamesTheHypervisorEndsItsReading) {
  populate(
      with({{kType, "xen\n"}, {kClock, "kvm-clock\n"}, {kVmbus, ""}, {kPtp0, "hyperv\n"}}, kFwCfgDevice));
  const std::string root = root_.string();
  RootedSystem system(root.c_str());
  const KernelSigns signs = read_kernel_signs(system);
  EXPECT_TRUE(signs.hypervisor_type);
  EXPECT_FALSE(signs.clock_source);
  EXPECT_EQ(signs.vmbus_devices, PathKind::absent);
  EXPECT_FALSE(signs.ptp0_clock);
  EXPECT_EQ(signs.qemu_fw_cfg_rev, PathKind::file);
}

// Xen's feature bits decide host or guest; xenfs is read only where they
// say nothing.
TEST_F(KernelView, XenfsIsAskedOnlyWithoutFeatureBits) {
  populate({{kType, "xen\n"}, {kFeatures, "00000b70\n"}, {kCapabilities, "control_d\n"}});
  const std::string root = root_.string();
  RootedSystem system(root.c_str());
  const KernelSigns signs = read_kernel_signs(system);
  EXPECT_TRUE(signs.xen_features);
  EXPECT_FALSE(signs.xen_capabilities);
}

TEST_F(KernelView, StatusSaysWhetherAnythingCouldBeRead) {
  populate({});
  EXPECT_EQ(run().probes, (std::vector<Probe>{{"system", "unavailable"}}));
  populate({{kClock, "tsc\n"}});
  EXPECT_EQ(run().probes, (std::vector<Probe>{{"system", "ok"}}));
}

}  // namespace
}  // namespace oxa
