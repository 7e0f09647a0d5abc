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
constexpr char kClock[] = "/sys/devices/system/clocksource/clocksource0/current_clocksource";
constexpr char kVmbus[] = "/sys/bus/vmbus/devices/";
constexpr char kFwCfg[] = "/sys/firmware/qemu_fw_cfg/";
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
      // QEMU's device names the device model, whatever named the hypervisor.
      {"QEMU on KVM",
       {{kClock, "arch_sys_counter\n"}, {kPtp0, "KVM virtual PTP\n"}, {kFwCfg, ""}},
       {finding("guest", "kvm", 80, std::string(kPtp0) + ": KVM virtual PTP"),
        finding("guest", "qemu", 80, "/sys/firmware/qemu_fw_cfg")}},
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    populate(c.files);
    EXPECT_EQ(run().evidence, c.evidence);
  }
}

TEST_F(KernelView, TheFirstSignThatNamesTheHypervisorEndsItsReading) {
  populate({{kType, "xen\n"}, {kClock, "kvm-clock\n"}, {kVmbus, ""}, {kPtp0, "hyperv\n"}, {kFwCfg, ""}});
  const std::string root = root_.string();
  RootedSystem system(root.c_str());
  const KernelSigns signs = read_kernel_signs(system);
  EXPECT_TRUE(signs.hypervisor_type);
  EXPECT_FALSE(signs.clock_source);
  EXPECT_EQ(signs.vmbus_devices, PathKind::absent);
  EXPECT_FALSE(signs.ptp0_clock);
  EXPECT_EQ(signs.qemu_fw_cfg, PathKind::folder);
}

TEST_F(KernelView, StatusSaysWhetherAnythingCouldBeRead) {
  populate({});
  EXPECT_EQ(run().probes, (std::vector<Probe>{{"system", "unavailable"}}));
  populate({{kClock, "tsc\n"}});
  EXPECT_EQ(run().probes, (std::vector<Probe>{{"system", "ok"}}));
}

}  // namespace
}  // namespace oxa
