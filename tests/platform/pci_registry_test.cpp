// SPDX-License-Identifier: MIT
// The PCI functions as the IOKit binding reads them from the registry's
// IOPCIDevice entries, over the fake: IDs of every shape, a registry that
// cannot be asked, and one too large to read whole. Every value, service and
// iterator is released exactly once.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_iokit.h"

namespace oxa {
namespace {

using test::FakeRegistry;
using Matching = FakeRegistry::PciMatching;

constexpr std::uint16_t kNone = PciFunction::kNone;
// VMware's SVGA II, as a VMware guest's registry holds it.
constexpr PciFunction kSvga{
    .vendor = 0x15ad, .device = 0x0405, .subsystem_vendor = 0x15ad, .subsystem = 0x0405};

std::vector<PciFunction> listed(const std::optional<PciFunctions>& functions) {
  return functions ? std::vector<PciFunction>(functions->begin(), functions->end())
                   : std::vector<PciFunction>{};
}

TEST(PciRegistry, AnIdIsFourBytesOfLittleEndianData) {
  constexpr auto kDevice = PciKey::device_id;
  const struct {
    const char* name;
    std::function<void(FakeRegistry&, std::size_t)> change;  // of a service holding kSvga's IDs
    std::vector<PciFunction> functions;
  } cases[] = {
      {"four IDs", [](FakeRegistry&, std::size_t) {}, {kSvga}},
      {"the upper half is not the ID",
       [&](FakeRegistry& r, std::size_t s) {
         r.set_pci_data(s, kDevice, std::string("\x05\x04\x34\x12", 4));
       },
       {kSvga}},
      {"bytes in the other order",
       [&](FakeRegistry& r, std::size_t s) {
         r.set_pci_data(s, kDevice, std::string("\x04\x05\x00\x00", 4));
       },
       {{0x15ad, 0x0504, 0x15ad, 0x0405}}},
      {"2 bytes",
       [&](FakeRegistry& r, std::size_t s) { r.set_pci_data(s, kDevice, "\x05\x04"); },
       {{0x15ad, kNone, 0x15ad, 0x0405}}},
      {"8 bytes",
       [&](FakeRegistry& r, std::size_t s) {
         r.set_pci_data(s, kDevice, std::string("\x05\x04\0\0\0\0\0\0", 8));
       },
       {{0x15ad, kNone, 0x15ad, 0x0405}}},
      {"no bytes",
       [&](FakeRegistry& r, std::size_t s) { r.set_pci_data(s, kDevice, ""); },
       {{0x15ad, kNone, 0x15ad, 0x0405}}},
      {"a string",
       [&](FakeRegistry& r, std::size_t s) { r.set_pci_string(s, kDevice, "0x0405"); },
       {{0x15ad, kNone, 0x15ad, 0x0405}}},
      {"another type",
       [&](FakeRegistry& r, std::size_t s) { r.set_pci_other(s, kDevice); },
       {{0x15ad, kNone, 0x15ad, 0x0405}}},
      {"no subsystem",
       [](FakeRegistry& r, std::size_t s) {
         r.set_pci_absent(s, PciKey::subsystem_vendor_id);
         r.set_pci_absent(s, PciKey::subsystem_id);
       },
       {{0x15ad, 0x0405, kNone, kNone}}},
      // A function is known by its vendor: without one it is skipped.
      {"no vendor ID", [](FakeRegistry& r, std::size_t s) { r.set_pci_absent(s, PciKey::vendor_id); }, {}},
      {"a vendor ID of 2 bytes",
       [](FakeRegistry& r, std::size_t s) { r.set_pci_data(s, PciKey::vendor_id, "\xad\x15"); },
       {}},
      {"a vendor ID as a string",
       [](FakeRegistry& r, std::size_t s) { r.set_pci_string(s, PciKey::vendor_id, "15ad"); },
       {}},
      {"a vendor ID of another type",
       [](FakeRegistry& r, std::size_t s) { r.set_pci_other(s, PciKey::vendor_id); },
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRegistry registry;
    c.change(registry, registry.add_pci_function(kSvga));
    const std::optional<PciFunctions> functions = registry.pci_functions();
    ASSERT_TRUE(functions);
    EXPECT_EQ(listed(functions), c.functions);
    EXPECT_EQ(registry.matched_class(), "IOPCIDevice");
    EXPECT_EQ(registry.balance(), "");
  }
}

// The functions come in the registry's order; the entries without a vendor
// between them are skipped.
TEST(PciRegistry, FunctionsInRegistryOrder) {
  FakeRegistry registry;
  registry.add_pci_function({0x8086, 0x7190, 0x15ad, 0x1976});
  registry.add_pci_service();
  registry.add_pci_function(kSvga);
  EXPECT_EQ(listed(registry.pci_functions()),
            (std::vector<PciFunction>{{0x8086, 0x7190, 0x15ad, 0x1976}, kSvga}));
  EXPECT_EQ(registry.pci_services_handed_out(), 3u);
  EXPECT_EQ(registry.balance(), "");
}

// Nothing where the registry cannot be asked; an empty list where it has
// no PCI function.
TEST(PciRegistry, ARegistryThatCannotBeAskedListsNothing) {
  const struct {
    const char* name;
    Matching matching;
    std::size_t services;
    std::optional<std::size_t> listed;
  } cases[] = {
      {"the matching fails", Matching::fails, 3, std::nullopt},
      {"no iterator", Matching::null_iterator, 3, std::nullopt},
      {"no PCI function", Matching::succeeds, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRegistry registry;
    for (std::size_t i = 0; i < c.services; ++i) registry.add_pci_function(kSvga);
    registry.set_pci_matching(c.matching);
    const std::optional<PciFunctions> functions = registry.pci_functions();
    EXPECT_EQ(functions ? std::optional<std::size_t>(functions->size()) : std::nullopt, c.listed);
    if (!c.listed) {
      EXPECT_EQ(registry.pci_services_handed_out(), 0u);
    }
    EXPECT_EQ(registry.balance(), "");
  }
}

// A hundred thousand entries cost what kMaxPciFunctions do: the binding
// stops taking entries at its bound, whether they have a vendor or not.
TEST(PciRegistry, AHugeRegistryIsReadOnlyToItsBound) {
  constexpr std::size_t kEntries = 100'000;
  const struct {
    const char* name;
    bool with_vendor;
    std::size_t listed;
  } cases[] = {
      {"functions", true, kMaxPciFunctions},
      {"entries without a vendor", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRegistry registry;
    for (std::size_t i = 0; i < kEntries; ++i) {
      if (c.with_vendor) {
        registry.add_pci_function({0x15ad, static_cast<std::uint16_t>(i), 0x15ad, 0x0405});
      } else {
        registry.add_pci_service();
      }
    }
    const std::optional<PciFunctions> functions = registry.pci_functions();
    ASSERT_TRUE(functions);
    ASSERT_EQ(functions->size(), c.listed);
    for (std::size_t i = 0; i < c.listed; ++i) EXPECT_EQ(functions->begin()[i].device, i);
    EXPECT_EQ(registry.pci_services_handed_out(), kMaxPciFunctions);
    EXPECT_LE(registry.pci_properties_read(), 4 * kMaxPciFunctions);
    EXPECT_EQ(registry.balance(), "");
  }
}

}  // namespace
}  // namespace oxa
