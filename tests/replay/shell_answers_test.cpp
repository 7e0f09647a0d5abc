// SPDX-License-Identifier: MIT
// --quiet and --brief, the answers for shell scripts: over the checked-in
// dumps and hand-built SMBIOS tables through the tool, and the rules behind
// them over verdicts of every kind.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "core/assessment.h"
#include "shell_answer.h"
#include "support/run_tool.h"

namespace oxa::test {
namespace {

const std::string kDumps = std::string(OXA_TEST_DATA_DIR) + "/dumps/";

struct Case {
  std::string args;
  std::string out;
  int exit_code;
};

void expect_answers(const std::vector<Case>& cases, const std::string& environment = "") {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome o = run_tool(c.args, environment);
    EXPECT_EQ(o.exit_code, c.exit_code);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, "");
  }
}

// Each dump's answers: --brief prints the word, --quiet nothing, and both
// exit with the status.
TEST(ShellAnswers, QuietAndBriefOverTheDumps) {
  const struct {
    const char* dump;
    const char* word;
    int exit_code;
  } table[] = {
      {"kvm_guest", "kvm", 0},
      {"hyperv_guest", "hyperv", 0},
      // Three vendors named: the first.
      {"hyperv_kvm", "hyperv", 0},
      // A root partition is not a guest, yet it names its hypervisor.
      {"hyperv_root", "hyperv", 1},
      {"vmware_mac", "vmware", 0},
      {"apple_vz", "apple", 0},
      {"translated", "none", 1},
      {"bare_metal", "none", 1},
      {"linux_bare_metal_documented", "none", 1},
      // "possible" (a slow CPUID alone) is not a virtual machine here.
      {"slow_cpuid", "none", 1},
      {"unusable_timing", "none", 1},
      // Containers are no hypervisors: the word is the machine's.
      {"firecracker_microvm", "bhyve", 0},
      {"docker_documented", "kvm", 0},
      {"podman_documented", "kvm", 0},
      {"lxc_documented", "kvm", 0},
      {"lxc_libvirt_documented", "kvm", 0},
      {"systemd_nspawn_documented", "kvm", 0},
      {"kubernetes_documented", "kvm", 0},
      {"container_other_documented", "kvm", 0},
      {"docker_export_documented", "kvm", 0},
      {"lxd_docker_image_documented", "kvm", 0},
      {"lxd_normal_user_documented", "kvm", 0},
      {"crlf_declaration_documented", "kvm", 0},
      {"crio_pod_documented", "kvm", 0},
      {"pod_cgroup_v1_root_documented", "kvm", 0},
      {"pod_without_token_documented", "kvm", 0},
      {"host_units_documented", "kvm", 0},
      {"flatpak_documented", "kvm", 0},
      {"apptainer_documented", "kvm", 0},
      {"docker_pid_host_documented", "kvm", 0},
      {"docker_btrfs_documented", "kvm", 0},
      {"flatpak_marker_documented", "kvm", 0},
      {"protect_hostname_documented", "kvm", 0},
      {"private_ipc_documented", "kvm", 0},
      {"fedora_btrfs_protect_hostname_documented", "kvm", 0},
      {"bubblewrap_documented", "kvm", 0},
      {"unshare_pid_documented", "kvm", 0},
      {"chroot_without_proc_documented", "kvm", 0},
      {"incus_normal_user_documented", "kvm", 0},
      {"lxd_vm_documented", "kvm", 0},
      {"lxd_vm_pid_sandbox_documented", "kvm", 0},
      {"openvz_documented", "none", 1},
      // WSL 2's kernel runs on Hyper-V's paravirtual clock: "likely".
      {"wsl2_documented", "hyperv", 0},
      {"wsl2_docker_export_documented", "hyperv", 0},
      // The Linux kernel's own view: a Xen PV guest has no CPUID leaf.
      {"xen_pv_documented", "xen", 0},
      {"xen_dom0_documented", "xen", 1},
      {"hyperv_linux_documented", "hyperv", 0},
      {"kvm_ptp_documented", "kvm", 0},
      // WSL 1 runs on the Hyper-V root partition.
      {"wsl1_documented", "hyperv", 1},
      // arm64: the first vendor as the probes name them in their order.
      {"qemu_kvm_arm64_documented", "kvm", 0},
      {"qemu_tcg_arm64_documented", "qemu", 0},
      {"apple_vz_linux_arm64_documented", "apple", 0},
      {"azure_arm64_documented", "hyperv", 0},
      // A cloud's virtual machine named by its instance type alone, and
      // bare metal.
      {"graviton_vm_arm64_documented", "vm-other", 0},
      {"graviton_metal_arm64_documented", "none", 1},
      {"ampere_metal_arm64_documented", "none", 1},
      {"apple_silicon_macos_guest_documented", "apple", 0},
      // Look-alikes of guests: hosts and bare metal whose signs once lied.
      {"rhel_bare_metal_documented", "none", 1},
      {"xen_dom0_no_xenfs_documented", "xen", 1},
      {"xen_dom0_arm64_documented", "xen", 1},
      {"hyperv_root_linux_documented", "hyperv", 1},
      {"ec2_metal_documented", "none", 1},
      {"patched_mac_documented", "none", 1},
      // Guests that show little: a made-up MIDR, an instance type, a
      // hidden CPUID bit under a trapped CPUID.
      {"xen_guest_arm64_documented", "xen", 0},
      {"zero_midr_arm64_documented", "vm-other", 0},
      {"software_midr_arm64_documented", "vm-other", 0},
      {"ec2_nitro_documented", "kvm", 0},
      {"vmware_hidden_mac_documented", "vm-other", 0},
      // Guests hidden from CPUID and their firmware strings, named by
      // their devices: QEMU's on Linux, VMware's in a Mac's registry.
      {"qemu_hidden_documented", "qemu", 0},
      {"vmware_hidden_pci_mac_documented", "vmware", 0},
  };
  std::vector<Case> cases;
  std::set<std::string> answered;
  for (const auto& row : table) {
    const std::string replay = " --replay " + kDumps + row.dump + ".json";
    cases.push_back({"--quiet" + replay, "", row.exit_code});
    cases.push_back({"--brief" + replay, std::string(row.word) + "\n", row.exit_code});
    answered.insert(row.dump);
  }
  expect_answers(cases);

  // A dump added to the folder gets its row here too.
  for (const auto& entry : std::filesystem::directory_iterator(kDumps)) {
    EXPECT_EQ(answered.count(entry.path().stem().string()), 1u) << "no answers for " << entry.path();
  }
}

TEST(ShellAnswers, TheLastFormatOptionApplies) {
  const std::string kvm = kDumps + "kvm_guest.json";
  expect_answers({
      {"--replay " + kvm + " --brief", "kvm\n", 0},
      {"--brief --quiet --replay " + kvm, "", 0},
      {"--quiet --brief --replay " + kvm, "kvm\n", 0},
      {"--summary --brief --replay " + kvm, "kvm\n", 0},
  });
}

std::string write_temp(const std::string& bytes) {
  const std::string path = temp_file("table");
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// Tables give the verdicts no dump gives: "likely" and "unknown".
TEST(ShellAnswers, QuietAndBriefOverSmbiosTables) {
  // A System Information structure naming QEMU (score 85, "likely"), then
  // End-of-Table; the same behind a dmidecode --dump-bin entry point.
  const std::string qemu("\x01\x08\x00\x01\x01\x00\x00\x00QEMU\0\0\x7f\x04\x00\x02\0\0", 20);
  std::string entry(32, '\0');
  entry.replace(0, 5, "_SM3_");
  entry[0x0C] = static_cast<char>(qemu.size());
  entry[0x10] = 32;
  const std::string raw = write_temp(qemu);
  const std::string dumped = write_temp(entry + qemu);
  // End-of-Table alone: the probe looked and found nothing ("not_detected").
  const std::string empty = write_temp(std::string("\x7f\x04\x00\x00\0\0", 6));
  // A length byte below 4: the probe fails ("unknown").
  const std::string malformed = write_temp(std::string("\x01\x02\x00\x00", 4));

  expect_answers({
      {"--smbios " + raw + " --quiet", "", 0},
      {"--smbios " + raw + " --brief", "qemu\n", 0},
      {"--brief --smbios " + dumped, "qemu\n", 0},
      {"--quiet --smbios " + dumped, "", 0},
      {"--smbios " + empty + " --quiet", "", 1},
      {"--smbios " + empty + " --brief", "none\n", 1},
      {"--smbios " + malformed + " --quiet", "", 1},
      {"--smbios " + malformed + " --brief", "none\n", 1},
      {"--smbios - --brief <" + raw, "qemu\n", 0},
  });
  for (const std::string& f : {raw, dumped, empty, malformed}) std::remove(f.c_str());
}

// A failure is neither answer: exit 2, nothing on standard output, the
// reason on standard error.
TEST(ShellAnswers, FailuresExitTwoAndSayWhy) {
  const struct {
    std::string args;
    std::string environment;
  } cases[] = {
      {"--quiet --replay /nonexistent/dump.json", ""},
      {"--brief --replay /nonexistent/dump.json", ""},
      {"--quiet --smbios /nonexistent/table.bin", ""},
      {"--brief --smbios /nonexistent/table.bin", ""},
      {"--quiet --no-such-option", ""},
      {"--brief --replay", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome o = run_tool(c.args, c.environment);
    EXPECT_EQ(o.exit_code, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err, "");
  }
}

// The rules themselves, over verdicts no recorded machine gives.
TEST(ShellAnswers, StatusFollowsTheLikelihoodAndTheWordTheVendorLists) {
  const struct {
    const char* likelihood;
    std::vector<std::string> hypervisors;
    std::vector<std::string> host_hypervisors;
    std::vector<std::string> containers;
    int status;
    const char* word;
  } cases[] = {
      {"very_likely", {"kvm", "qemu"}, {}, {}, 0, "kvm"},
      {"likely", {"qemu"}, {}, {}, 0, "qemu"},
      // A name without a virtual-machine verdict: the word and status 1.
      {"possible", {"xen"}, {}, {}, 1, "xen"},
      {"possible", {}, {}, {}, 1, "none"},
      {"not_detected", {}, {"hyperv"}, {}, 1, "hyperv"},
      // Guest findings name the vendor before a host finding does.
      {"very_likely", {"kvm"}, {"hyperv"}, {}, 0, "kvm"},
      // A container is not a hypervisor.
      {"not_detected", {}, {}, {"docker"}, 1, "none"},
      {"unknown", {}, {}, {}, 1, "none"},
  };
  for (const auto& c : cases) {
    Assessment a;
    a.likelihood = c.likelihood;
    a.hypervisors = c.hypervisors;
    a.host_hypervisors = c.host_hypervisors;
    a.containers = c.containers;
    SCOPED_TRACE(std::string(c.likelihood) + " -> " + c.word);
    EXPECT_EQ(tool::verdict_status(a), c.status);
    EXPECT_EQ(tool::brief_name(a), c.word);
  }
}

}  // namespace
}  // namespace oxa::test
