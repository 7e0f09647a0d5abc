// SPDX-License-Identifier: MIT
#pragma once

// The probe "cpu": what the processor says of itself. On x86-64 CPUID: the
// hypervisor-present bit and the hypervisor's vendor signature, plus the
// Hyper-V root-partition flag and second leaf range. On arm64 Linux the
// identification register MIDR_EL1 as the kernel shows it: a few values
// that no physical core carries name the software that made them up.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/evidence.h"
#include "platform/linux/signs.h"
#include "platform/processor.h"
#include "platform/system.h"

namespace oxa {

// The vendor word of a hypervisor signature (leaf 0x40000000's text);
// "unknown" when no row matches.
std::string_view hypervisor_vendor(std::string_view signature);

// What the processor told us during one run.
struct Cpu {
  bool available = false;             // leaf 0x0 reported basic leaves, or a MIDR_EL1 was read
  bool hypervisor = false;            // leaf 0x1 ECX bit 31
  bool root_partition = false;        // Hyper-V root partition privileges
  std::string signature;              // leaf 0x40000000
  std::string alternate_signature;    // leaf 0x40000100, Hyper-V only
  std::optional<std::uint32_t> midr;  // arm64: MIDR_EL1 of the first core
};

// The value of a sysfs MIDR_EL1 file ("0x" and 16 hex digits, a newline, as
// the kernel writes it); nothing for anything else, a value with any of the
// 32 reserved upper bits set included.
std::optional<std::uint32_t> parse_midr(std::string_view text);

namespace detail {

// EBX, ECX, EDX as 12 bytes, each register lowest byte first, ending at the
// first NUL: hypervisors that pad with NULs give shorter texts.
inline std::string signature_text(const CpuidRegisters& regs) {
  const std::uint32_t words[3] = {regs.ebx, regs.ecx, regs.edx};
  char bytes[12];
  std::size_t length = 0;
  for (; length < sizeof bytes; ++length) {
    bytes[length] = static_cast<char>((words[length / 4] >> (8 * (length % 4))) & 0xFFu);
    if (bytes[length] == '\0') break;
  }
  return {bytes, length};
}

template <CpuidProcessor P>
Cpu read_cpuid(P& processor) {
  Cpu cpu;
  if (processor.cpuid(0x0u, 0u).eax == 0) return cpu;
  cpu.available = true;

  cpu.hypervisor = (processor.cpuid(0x1u, 0u).ecx >> 31) != 0;
  if (!cpu.hypervisor) return cpu;

  const CpuidRegisters base = processor.cpuid(0x40000000u, 0u);
  cpu.signature = signature_text(base);
  if (cpu.signature != "Microsoft Hv") return cpu;
  // Leaves 0x40000001 and 0x40000003 exist only inside the first range.
  if (base.eax < 0x40000003u || base.eax > 0x400000FFu) return cpu;

  bool root = false;
  if (processor.cpuid(0x40000001u, 0u).eax == 0x31237648u) {  // "Hv#1"
    root = (processor.cpuid(0x40000003u, 0u).ebx & 1u) != 0;
  }
  // A hypervisor may offer a second interface behind the Hyper-V one.
  const CpuidRegisters second = processor.cpuid(0x40000100u, 0u);
  cpu.root_partition = root;
  if ((second.eax & ~0xFFu) == 0x40000100u) cpu.alternate_signature = signature_text(second);
  return cpu;
}

template <LinuxSystem S>
Cpu read_midr(S& system) {
  Cpu cpu;
  if (const std::optional<std::string> text = system.read_sign(sign_path(Sign::midr))) {
    cpu.midr = parse_midr(*text);
  }
  cpu.available = cpu.midr.has_value();
  return cpu;
}

}  // namespace detail

// CPUID where the processor has it; on arm64 MIDR_EL1 where the system shows
// it (Linux). Anything else leaves the snapshot unavailable: macOS keeps
// MIDR_EL1 from processes.
template <Processor P, System S>
Cpu read_cpu(P& processor, S& system) {
  if constexpr (CpuidProcessor<P>) {
    return detail::read_cpuid(processor);
  } else if constexpr (Arm64<P> && LinuxSystem<S>) {
    return detail::read_midr(system);
  } else {
    return {};
  }
}

// Records the probe "cpu" and up to two findings.
void detect_cpu(Result& result, const Cpu& cpu);

}  // namespace oxa
