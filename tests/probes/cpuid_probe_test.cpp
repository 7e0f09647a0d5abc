// SPDX-License-Identifier: MIT
#include "probes/cpuid_probe.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/posix/posix_system.h"
#include "platform/posix/sign_files.h"
#include "records.h"
#include "support/fake_system.h"
#include "support/rooted_system.h"
#include "support/scripted_processor.h"

namespace oxa {
namespace {

using namespace std::string_view_literals;
using test::signature_registers;

constexpr std::uint32_t kBase = 0x40000000u;
constexpr std::uint32_t kInterface = 0x40000001u;
constexpr std::uint32_t kFeatures = 0x40000003u;
constexpr std::uint32_t kSecond = 0x40000100u;
constexpr std::uint32_t kHvSignature = 0x31237648u;  // "Hv#1"

using Leaves = std::vector<std::pair<std::uint32_t, CpuidRegisters>>;

// Basic leaves present and the hypervisor bit set.
Leaves guest(Leaves more) {
  Leaves leaves = {{0x0u, {0x16u, 0, 0, 0}}, {0x1u, {0, 0, 0x80000000u, 0}}};
  leaves.insert(leaves.end(), more.begin(), more.end());
  return leaves;
}

auto fields(const Cpu& c) {
  return std::tuple(c.available, c.hypervisor, c.root_partition, c.signature, c.alternate_signature);
}

Cpu read(const Leaves& leaves, test::ScriptedProcessor& processor) {
  for (const auto& [leaf, regs] : leaves) processor.set(leaf, regs);
  test::FakeSystem system;
  return read_cpu(processor, system);
}

TEST(ReadCpu, LeafSequences) {
  const CpuidRegisters hyperv_up_to_5 = signature_registers(0x40000005u, "Microsoft Hv");
  const CpuidRegisters confirmed = {kHvSignature, 0, 0, 0};
  struct Case {
    const char* name;
    Leaves leaves;
    std::vector<std::uint32_t> executed;
    Cpu expected;
  };
  const Case cases[] = {
      {"no basic leaves", {{0x0u, {0, 0x756E6547u, 0x6C65746Eu, 0x49656E69u}}}, {0x0u}, {}},
      {"hypervisor bit clear",
       {{0x0u, {1, 0, 0, 0}},
        {0x1u, {0, 0, 0x7FFFFFFFu, 0}},
        {kBase, signature_registers(kBase + 1, "KVMKVMKVM")}},
       {0x0u, 0x1u},
       {true, false, false, "", "", {}}},
      {"kvm",
       guest({{kBase, signature_registers(0x40000001u, "KVMKVMKVM")}}),
       {0x0u, 0x1u, kBase},
       {true, true, false, "KVMKVMKVM", "", {}}},
      {"other vendor with a wide range",
       guest({{kBase, signature_registers(0x40000010u, "VMwareVMware")}, {kInterface, confirmed}}),
       {0x0u, 0x1u, kBase},
       {true, true, false, "VMwareVMware", "", {}}},
      {"hyper-v in other letter case",
       guest({{kBase, signature_registers(0x40000005u, "Microsoft HV")}, {kInterface, confirmed}}),
       {0x0u, 0x1u, kBase},
       {true, true, false, "Microsoft HV", "", {}}},
      {"hyper-v range ends below 0x40000003",
       guest({{kBase, signature_registers(0x40000002u, "Microsoft Hv")}, {kInterface, confirmed}}),
       {0x0u, 0x1u, kBase},
       {true, true, false, "Microsoft Hv", "", {}}},
      {"hyper-v range reaches 0x40000100",
       guest({{kBase, signature_registers(0x40000100u, "Microsoft Hv")}, {kInterface, confirmed}}),
       {0x0u, 0x1u, kBase},
       {true, true, false, "Microsoft Hv", "", {}}},
      {"hyper-v interface not confirmed",
       guest({{kBase, hyperv_up_to_5}, {kInterface, {0x31237649u, 0, 0, 0}}, {kFeatures, {0, 1, 0, 0}}}),
       {0x0u, 0x1u, kBase, kInterface, kSecond},
       {true, true, false, "Microsoft Hv", "", {}}},
      {"root partition, range ends at 0x40000003",
       guest({{kBase, signature_registers(0x40000003u, "Microsoft Hv")},
              {kInterface, confirmed},
              {kFeatures, {0, 1, 0, 0}}}),
       {0x0u, 0x1u, kBase, kInterface, kFeatures, kSecond},
       {true, true, true, "Microsoft Hv", "", {}}},
      {"child partition, range ends at 0x400000FF",
       guest({{kBase, signature_registers(0x400000FFu, "Microsoft Hv")},
              {kInterface, confirmed},
              {kFeatures, {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu, 0xFFFFFFFFu}}}),
       {0x0u, 0x1u, kBase, kInterface, kFeatures, kSecond},
       {true, true, false, "Microsoft Hv", "", {}}},
      {"second range kvm",
       guest({{kBase, hyperv_up_to_5},
              {kInterface, confirmed},
              {kSecond, signature_registers(0x40000101u, "KVMKVMKVM")}}),
       {0x0u, 0x1u, kBase, kInterface, kFeatures, kSecond},
       {true, true, false, "Microsoft Hv", "KVMKVMKVM", {}}},
      {"second range up to 0x400001FF",
       guest({{kBase, hyperv_up_to_5}, {kSecond, signature_registers(0x400001FFu, "VMwareVMware")}}),
       {0x0u, 0x1u, kBase, kInterface, kSecond},
       {true, true, false, "Microsoft Hv", "VMwareVMware", {}}},
      {"second range at 0x40000100",
       guest({{kBase, hyperv_up_to_5}, {kSecond, signature_registers(0x40000100u, "Linux KVM Hv")}}),
       {0x0u, 0x1u, kBase, kInterface, kSecond},
       {true, true, false, "Microsoft Hv", "Linux KVM Hv", {}}},
      {"second range reports 0x40000200",
       guest({{kBase, hyperv_up_to_5}, {kSecond, signature_registers(0x40000200u, "KVMKVMKVM")}}),
       {0x0u, 0x1u, kBase, kInterface, kSecond},
       {true, true, false, "Microsoft Hv", "", {}}},
      {"second range reports 0x400000FF",
       guest({{kBase, hyperv_up_to_5}, {kSecond, signature_registers(0x400000FFu, "KVMKVMKVM")}}),
       {0x0u, 0x1u, kBase, kInterface, kSecond},
       {true, true, false, "Microsoft Hv", "", {}}},
      {"second range absent",
       guest({{kBase, hyperv_up_to_5}, {kSecond, signature_registers(0, "KVMKVMKVM")}}),
       {0x0u, 0x1u, kBase, kInterface, kSecond},
       {true, true, false, "Microsoft Hv", "", {}}},
      {"root flag kept whatever the second range says",
       guest({{kBase, hyperv_up_to_5},
              {kInterface, confirmed},
              {kFeatures, {0, 1, 0, 0}},
              {kSecond, signature_registers(0x40000105u, "KVMKVMKVM")}}),
       {0x0u, 0x1u, kBase, kInterface, kFeatures, kSecond},
       {true, true, true, "Microsoft Hv", "KVMKVMKVM", {}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScriptedProcessor processor;
    const Cpu cpu = read(c.leaves, processor);
    EXPECT_EQ(fields(cpu), fields(c.expected));
    EXPECT_EQ(processor.leaves(), c.executed);
    for (const auto& [leaf, subleaf] : processor.executed()) EXPECT_EQ(subleaf, 0u) << "leaf " << leaf;
  }
}

TEST(ReadCpu, SignatureText) {
  struct Case {
    const char* name;
    CpuidRegisters regs;
    std::string_view text;
  };
  const Case cases[] = {
      {"register order EBX ECX EDX, lowest byte first",
       {0, 0x44434241u, 0x48474645u, 0x4C4B4A49u},
       "ABCDEFGHIJKL"},
      {"NUL-padded", signature_registers(0, "KVMKVMKVM\0\0\0"sv), "KVMKVMKVM"},
      {"trailing space kept", signature_registers(0, "bhyve bhyve "), "bhyve bhyve "},
      {"cut at the first NUL", signature_registers(0, "KVM\0KVMKVM\0\0\0"sv), "KVM"},
      {"all NUL", {0, 0, 0, 0}, ""},
      {"high bytes kept", {0, 0xFF80017Fu, 0x20202020u, 0x09090909u}, "\x7f\x01\x80\xff    \t\t\t\t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScriptedProcessor processor;
    CpuidRegisters base = c.regs;
    base.eax = 0x40000001u;
    EXPECT_EQ(read(guest({{kBase, base}}), processor).signature, c.text);
  }
}

Cpu under(std::string signature, bool root = false, std::string alternate = {}) {
  return Cpu{true, true, root, std::move(signature), std::move(alternate), {}};
}

Evidence guest_finding(std::string vendor, std::int32_t weight, std::string detail) {
  return {"cpu", "guest", std::move(vendor), std::move(detail), weight};
}

// Signatures one byte or one letter case away from a row of the table name
// no vendor: rows match exact bytes and length only.
TEST(DetectCpu, SignatureNearMissesAreUnknown) {
  const std::string_view near_misses[] = {
      "",
      "kvmkvmkvm",
      "KVMKVMKVM\0\0\0"sv,  // a text never holds NULs, but a row must not match one
      "KVMKVMKVMKVM",
      "KVMKVMKV",
      "VMWareVMware",
      "microsoft hv",
      "bhyve bhyve",
      "BHyVE BHyVE",
      "prl hyperv ",
      "prl hyperv",
      " prl hyperv",
      "QNXQVMBSQGX",
      "QNXQVMBSQG ",
      "Apple VZ ",
      "apple vz",
      "Unknown HV",
  };
  for (const std::string_view near_miss : near_misses) {
    const std::string signature(near_miss);
    SCOPED_TRACE("signature \"" + signature + "\"");
    Result result;
    detect_cpu(result, under(signature));
    EXPECT_EQ(result.evidence, std::vector<Evidence>{guest_finding("unknown", 95, signature)});
  }
}

TEST(DetectCpu, Findings) {
  const Evidence host = {"cpu", "host", "hyperv", "root partition privileges", 0};
  const Evidence kvm_interface = {"cpu", "guest", "kvm", "KVM interface at 0x40000100", 95};
  struct Case {
    const char* name;
    Cpu cpu;
    std::string_view status;
    std::vector<Evidence> evidence;
  };
  const Case cases[] = {
      {"nothing read", {}, "unavailable", {}},
      {"no hypervisor", {true, false, false, "", "", {}}, "ok", {}},
      {"hypervisor bit without basic leaves",
       {false, true, true, "KVMKVMKVM", "KVMKVMKVM", {}},
       "unavailable",
       {}},
      {"vmware", under("VMwareVMware"), "ok", {guest_finding("vmware", 95, "VMwareVMware")}},
      {"empty signature", under(""), "ok", {guest_finding("unknown", 95, "")}},
      {"hyper-v guest", under("Microsoft Hv"), "ok", {guest_finding("hyperv", 50, "Microsoft Hv")}},
      {"hyper-v root partition", under("Microsoft Hv", true), "ok", {host}},
      {"root flag without hyper-v", under("KVMKVMKVM", true), "ok", {guest_finding("kvm", 95, "KVMKVMKVM")}},
      {"hyper-v guest with kvm behind",
       under("Microsoft Hv", false, "KVMKVMKVM"),
       "ok",
       {guest_finding("hyperv", 50, "Microsoft Hv"), kvm_interface}},
      {"root partition with kvm behind",
       under("Microsoft Hv", true, "KVMKVMKVM"),
       "ok",
       {host, kvm_interface}},
      {"second kvm signature behind",
       under("Microsoft Hv", false, "Linux KVM Hv"),
       "ok",
       {guest_finding("hyperv", 50, "Microsoft Hv"), kvm_interface}},
      {"vmware behind",
       under("Microsoft Hv", false, "VMwareVMware"),
       "ok",
       {guest_finding("hyperv", 50, "Microsoft Hv")}},
      {"unknown behind",
       under("Microsoft Hv", false, "Other"),
       "ok",
       {guest_finding("hyperv", 50, "Microsoft Hv")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result result;
    detect_cpu(result, c.cpu);
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"cpu", std::string(c.status)}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
}

// The snapshot of a NUL-padded signature names its vendor.
TEST(DetectCpu, FromProcessor) {
  test::ScriptedProcessor processor;
  const Cpu cpu = read(guest({{kBase, signature_registers(0x40000001u, "KVMKVMKVM\0\0\0"sv)}}), processor);
  Result result;
  detect_cpu(result, cpu);
  EXPECT_EQ(result.evidence, std::vector<Evidence>{guest_finding("kvm", 95, "KVMKVMKVM")});
}

// --- arm64: MIDR_EL1 as the kernel shows it ---

TEST(ParseMidr, TheKernelsTextAndNothingElse) {
  const struct {
    std::string_view text;
    std::optional<std::uint32_t> value;
  } cases[] = {
      {"0x00000000410fd0c1\n", 0x410fd0c1u},
      {"0x00000000000f0510\n", 0x000f0510u},
      {"0x00000000610f0000", 0x610f0000u},  // no newline
      {"0x0\n", 0u},
      {"0x00000000FFFFFFFF\n", 0xFFFFFFFFu},
      {"", std::nullopt},
      {"\n", std::nullopt},
      {"0x", std::nullopt},
      {"0x\n", std::nullopt},
      {"410fd0c1\n", std::nullopt},
      {"0X410fd0c1\n", std::nullopt},
      {" 0x410fd0c1\n", std::nullopt},
      {"0x410fd0c1 \n", std::nullopt},
      {"0x410fd0c1\n\n", std::nullopt},
      {"0x-410fd0c1", std::nullopt},
      {"0x+410fd0c1", std::nullopt},
      {"0x410fd0g1\n", std::nullopt},
      {"0x0000000100000000\n", std::nullopt},  // a reserved upper bit
      {"0x000000000000000000410fd0c1\n", std::nullopt},
      {"0x410fd0c1\0\n"sv, std::nullopt},
      {"-1", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(parse_midr(c.text), c.value);
  }
}

// The implementer and part of a mark name its vendor whatever the variant
// and revision; any other part of implementer 0 is a guest of no named
// vendor; real cores' values and near misses name nothing.
TEST(DetectCpu, MidrMarks) {
  const struct {
    std::uint32_t midr;
    std::vector<Evidence> evidence;
  } cases[] = {
      {0x000f0510u, {{"cpu", "guest", "qemu", "MIDR_EL1 0x000f0510", 90}}},
      {0x001f0513u, {{"cpu", "guest", "qemu", "MIDR_EL1 0x001f0513", 90}}},
      {0x610f0000u, {{"cpu", "guest", "apple", "MIDR_EL1 0x610f0000", 90}}},
      {0x611f000fu, {{"cpu", "guest", "apple", "MIDR_EL1 0x611f000f", 90}}},
      {0x410fd0c1u, {}},  // Arm Neoverse N1 (Graviton2, Ampere Altra)
      {0x413fd0c1u, {}},
      {0x610f0220u, {}},  // Apple M1 Icestorm
      {0x610f0010u, {}},  // Apple Cyclone, part 1
      // Implementer 0 is Arm's for software: made up, by no one we can name.
      {0x000f0520u, {{"cpu", "guest", "unknown", "MIDR_EL1 0x000f0520", 90}}},
      {0x000f0000u, {{"cpu", "guest", "unknown", "MIDR_EL1 0x000f0000", 90}}},
      {0x00000000u, {{"cpu", "guest", "unknown", "MIDR_EL1 0x00000000", 90}}},
      {0x410f0510u, {}},  // 'Q' under Arm's implementer
      {0x010f0000u, {}},
      {0xc00fac30u, {}},  // Ampere-1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.midr);
    Cpu cpu;
    cpu.available = true;
    cpu.midr = c.midr;
    Result result;
    detect_cpu(result, cpu);
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"cpu", "ok"}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
}

// arm64 Linux: the file the kernel writes, read below a folder standing in
// for "/" (support/rooted_system.h).
using test::RootedSystem;

TEST(ReadCpu, Arm64ReadsMidrWhereTheSystemShowsIt) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "oxa-midr-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  const fs::path file = root / (sign_path(Sign::midr) + 1);
  fs::create_directories(file.parent_path());
  Arm64Processor processor;
  RootedSystem system(pattern.c_str());
  const auto status = [&] {
    Result result;
    detect_cpu(result, read_cpu(processor, system));
    return std::pair(std::string(result.probes.at(0).status), result.evidence.size());
  };

  // No such file (an emulator on another architecture's kernel): nothing to look at.
  EXPECT_EQ(status(), std::pair(std::string("unavailable"), std::size_t{0}));
  std::ofstream(file) << "0x00000000000f0510\n";
  EXPECT_EQ(status(), std::pair(std::string("ok"), std::size_t{1}));
  std::ofstream(file) << "0x00000000410fd0c1\n";
  EXPECT_EQ(status(), std::pair(std::string("ok"), std::size_t{0}));
  // Garbage, and a megabyte of it, is no value.
  std::ofstream(file) << "QEMU\n";
  EXPECT_EQ(status(), std::pair(std::string("unavailable"), std::size_t{0}));
  std::ofstream(file) << "0x00000000000f0510" << std::string(1 << 20, '0');
  EXPECT_EQ(status(), std::pair(std::string("unavailable"), std::size_t{0}));
  // A folder or a symlink where the file should be is no file.
  fs::remove(file);
  fs::create_directory(file);
  EXPECT_EQ(status(), std::pair(std::string("unavailable"), std::size_t{0}));
  fs::remove(file);
  std::ofstream(root / "elsewhere") << "0x00000000000f0510\n";
  fs::create_symlink(root / "elsewhere", file);
  EXPECT_EQ(status(), std::pair(std::string("unavailable"), std::size_t{0}));

  // A system without the Linux signs (macOS) shows no MIDR_EL1; CPUID is
  // never asked of an arm64 processor.
  test::FakeSystem mac;
  const Cpu cpu = read_cpu(processor, mac);
  EXPECT_FALSE(cpu.available);
  EXPECT_FALSE(cpu.midr);
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace
}  // namespace oxa
