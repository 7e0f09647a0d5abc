// SPDX-License-Identifier: MIT
#pragma once

// The words the report knows, each listed once. The named words, the tables
// below, the report's members, the Assessment's lists and the writer's loops
// are all generated from these lists, the way one errno map yields codes,
// names and messages. A new vendor list or vendor word is one row here plus
// its prose in README.md and doc/report.schema.json; the vocabulary test
// holds the prose to the rows.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace oxa {

// What a word speaks of: the machine, or what encloses this process on it
// (a container, a compatibility layer). Enclosure findings carry no weight,
// an enclosure probe that ran says nothing about whether the machine was
// looked at, and the summary names the machine first.
enum class Subject : std::uint8_t { machine, enclosure };

// The probes, as findings and outcomes name them: X(word, subject).
#define OXA_SOURCES(X)    \
  X(cpu, machine)         \
  X(system, machine)      \
  X(firmware, machine)    \
  X(devices, machine)     \
  X(timing, machine)      \
  X(container, enclosure) \
  X(compatibility, enclosure)

// What kind of thing a finding names; only guest findings count in the score.
#define OXA_CATEGORIES(X) \
  X(guest)                \
  X(host)                 \
  X(cloud)                \
  X(diagnostic)           \
  X(container)            \
  X(compatibility)

// The verdict's vendor lists in report order: X(member, the category whose
// vendors it collects, subject). A category without a list ("diagnostic")
// feeds none.
#define OXA_VENDOR_LISTS(X)                         \
  X(hypervisors, guest, machine)                    \
  X(containers, container, enclosure)               \
  X(compatibility_layers, compatibility, enclosure) \
  X(host_hypervisors, host, machine)                \
  X(cloud_providers, cloud, machine)

// How a probe's attempt went.
#define OXA_STATUSES(X) \
  X(ok)                 \
  X(unavailable)        \
  X(error)

// The verdict in words, strongest first: X(word, lowest score). At score 0
// "not_detected" says some machine probe ran, "unknown" that none did.
#define OXA_LIKELIHOODS(X) \
  X(very_likely, 90)       \
  X(likely, 70)            \
  X(possible, 1)           \
  X(not_detected, 0)       \
  X(unknown, 0)

// The vendor words of container and compatibility-layer findings:
// X(name, word). Hypervisor and cloud words are written in the probes'
// signature tables, next to the texts that map to them (below, their list).
#define OXA_CONTAINER_VENDORS(X)      \
  X(docker, "docker")                 \
  X(podman, "podman")                 \
  X(lxc, "lxc")                       \
  X(systemd_nspawn, "systemd-nspawn") \
  X(openvz, "openvz")                 \
  X(kubernetes, "kubernetes")         \
  X(wsl, "wsl")                       \
  X(flatpak, "flatpak")               \
  X(apptainer, "apptainer")           \
  X(container_other, "container-other")
#define OXA_COMPATIBILITY_VENDORS(X) \
  X(wsl, "wsl")                      \
  X(rosetta, "rosetta")

// The hypervisor and cloud words the probes' tables give (cpu, system,
// firmware), listed here as well so that the tool can name every word it may
// print (oxa-detect --list); the tool's tests hold the recorded reports to
// these rows.
#define OXA_HYPERVISOR_VENDORS(X) \
  X("kvm")                        \
  X("qemu")                       \
  X("vmware")                     \
  X("virtualbox")                 \
  X("xen")                        \
  X("hyperv")                     \
  X("bhyve")                      \
  X("acrn")                       \
  X("qnx")                        \
  X("sre")                        \
  X("nvmm")                       \
  X("apple")                      \
  X("parallels")                  \
  X("bochs")                      \
  X("cloud-hypervisor")           \
  X("firecracker")                \
  X("crosvm")                     \
  X("openstack")                  \
  X("kubevirt")
#define OXA_CLOUD_VENDORS(X) \
  X("aws")                   \
  X("gcp")                   \
  X("alibaba")               \
  X("azure")                 \
  X("openstack")

// The report's members around the vendor lists: the verdict before them,
// the record and the time it took after them.
#define OXA_VERDICT_MEMBERS(X) \
  X(schema_version)            \
  X(module_version)            \
  X(vm_score)                  \
  X(vm_likelihood)
#define OXA_RECORD_MEMBERS(X) \
  X(evidence)                 \
  X(probes)                   \
  X(duration_us)

// The members of an evidence and of a probe object, in order.
#define OXA_EVIDENCE_MEMBERS(X) \
  X(source)                     \
  X(category)                   \
  X(vendor)                     \
  X(weight)                     \
  X(detail)
#define OXA_PROBE_MEMBERS(X) \
  X(source)                  \
  X(status)

// The vendor of a finding that names none; it never enters a vendor list.
inline constexpr std::string_view kNoVendor = "unknown";

// The word for a virtual machine whose hypervisor no finding names (the
// firmware's "virtual machine" bit, macOS's hypervisor flag), where a vendor
// is asked for: oxa-detect --brief. As systemd-detect-virt says "vm-other".
inline constexpr std::string_view kOtherHypervisor = "vm-other";

// The weights probes record, named by how sure the sign is. The verdict's
// bands (kLikelihoods) sit on the same scale.
namespace weights {
inline constexpr std::int32_t none = 0;             // for the reader only
inline constexpr std::int32_t suggestive = 50;      // a trapped CPUID, an interface others offer too
inline constexpr std::int32_t circumstantial = 70;  // what a product leaves near the process
inline constexpr std::int32_t indirect = 80;        // a name in a path, a product called "Virtual Machine"
inline constexpr std::int32_t named = 85;           // the product's name in the firmware's identity
inline constexpr std::int32_t marked = 90;          // a mark only that product leaves
inline constexpr std::int32_t declared = 95;        // the product says so itself
}  // namespace weights

// Generators of the names and tables below, undefined again after use.
#define OXA_WORD_(word) inline constexpr std::string_view word = #word;
#define OXA_WORD_OF_ROW_(word, column) OXA_WORD_(word)
#define OXA_NAMED_WORD_(name, word) inline constexpr std::string_view name = word;
#define OXA_KEY_(name) #name,
#define OXA_LIST_KEY_(name, category, subject) #name,

namespace sources {
OXA_SOURCES(OXA_WORD_OF_ROW_)
}
namespace categories {
OXA_CATEGORIES(OXA_WORD_)
}
namespace statuses {
OXA_STATUSES(OXA_WORD_)
}
namespace likelihoods {
OXA_LIKELIHOODS(OXA_WORD_OF_ROW_)
}
namespace container_vendors {
OXA_CONTAINER_VENDORS(OXA_NAMED_WORD_)
}
namespace compatibility_vendors {
OXA_COMPATIBILITY_VENDORS(OXA_NAMED_WORD_)
}

struct SourceWord {
  std::string_view word;
  Subject subject;
};
inline constexpr std::array kSources = {
#define OXA_SOURCE_ROW_(word, subject) SourceWord{sources::word, Subject::subject},
    OXA_SOURCES(OXA_SOURCE_ROW_)
#undef OXA_SOURCE_ROW_
};

inline constexpr std::array kCategories = {
#define OXA_CATEGORY_ROW_(word) categories::word,
    OXA_CATEGORIES(OXA_CATEGORY_ROW_)
#undef OXA_CATEGORY_ROW_
};

inline constexpr std::array kStatuses = {
#define OXA_STATUS_ROW_(word) statuses::word,
    OXA_STATUSES(OXA_STATUS_ROW_)
#undef OXA_STATUS_ROW_
};

struct LikelihoodWord {
  std::string_view word;
  std::int32_t lowest_score;
};
inline constexpr std::array kLikelihoods = {
#define OXA_LIKELIHOOD_ROW_(word, lowest_score) LikelihoodWord{likelihoods::word, lowest_score},
    OXA_LIKELIHOODS(OXA_LIKELIHOOD_ROW_)
#undef OXA_LIKELIHOOD_ROW_
};

inline constexpr std::array kContainerVendors = {
#define OXA_CONTAINER_VENDOR_ROW_(name, word) container_vendors::name,
    OXA_CONTAINER_VENDORS(OXA_CONTAINER_VENDOR_ROW_)
#undef OXA_CONTAINER_VENDOR_ROW_
};
inline constexpr std::array kCompatibilityVendors = {
#define OXA_COMPATIBILITY_VENDOR_ROW_(name, word) compatibility_vendors::name,
    OXA_COMPATIBILITY_VENDORS(OXA_COMPATIBILITY_VENDOR_ROW_)
#undef OXA_COMPATIBILITY_VENDOR_ROW_
};
#define OXA_VENDOR_WORD_ROW_(word) std::string_view{word},
inline constexpr std::array kHypervisorVendors = {OXA_HYPERVISOR_VENDORS(OXA_VENDOR_WORD_ROW_)};
inline constexpr std::array kCloudVendors = {OXA_CLOUD_VENDORS(OXA_VENDOR_WORD_ROW_)};
#undef OXA_VENDOR_WORD_ROW_

// A vendor list: its member name in the report, the category whose vendors
// it collects, and what it speaks of.
struct VendorList {
  const char* name;
  std::string_view category;
  Subject subject;
};
inline constexpr std::array kVendorLists = {
#define OXA_VENDOR_LIST_ROW_(name, category, subject) \
  VendorList{#name, categories::category, Subject::subject},
    OXA_VENDOR_LISTS(OXA_VENDOR_LIST_ROW_)
#undef OXA_VENDOR_LIST_ROW_
};

// The report's members in order: the verdict, its vendor lists, the record.
// Member names are JSON keys, handed on as C strings.
inline constexpr std::array kReportMembers = {OXA_VERDICT_MEMBERS(OXA_KEY_) OXA_VENDOR_LISTS(OXA_LIST_KEY_)
                                                  OXA_RECORD_MEMBERS(OXA_KEY_)};
inline constexpr std::array kEvidenceMembers = {OXA_EVIDENCE_MEMBERS(OXA_KEY_)};
inline constexpr std::array kProbeMembers = {OXA_PROBE_MEMBERS(OXA_KEY_)};

#undef OXA_WORD_
#undef OXA_WORD_OF_ROW_
#undef OXA_NAMED_WORD_
#undef OXA_KEY_
#undef OXA_LIST_KEY_

// The vendor list fed by `category`, as an index into kVendorLists;
// kVendorLists.size() when it feeds none.
constexpr std::size_t list_of(std::string_view category) noexcept {
  std::size_t i = 0;
  while (i < kVendorLists.size() && kVendorLists[i].category != category) ++i;
  return i;
}

// Whether each list collects a category of its own, as list_of assumes.
constexpr bool each_list_has_its_own_category() noexcept {
  for (std::size_t i = 0; i < kVendorLists.size(); ++i) {
    if (list_of(kVendorLists[i].category) != i) return false;
  }
  return true;
}
static_assert(each_list_has_its_own_category());

// The lowest score a likelihood word stands for.
constexpr std::int32_t lowest_score(std::string_view likelihood) noexcept {
  for (const LikelihoodWord& band : kLikelihoods) {
    if (band.word == likelihood) return band.lowest_score;
  }
  return 0;
}

// Whether `source` is a probe of the enclosure; a word outside kSources is not.
constexpr bool is_enclosure_source(std::string_view source) noexcept {
  for (const SourceWord& s : kSources) {
    if (s.word == source) return s.subject == Subject::enclosure;
  }
  return false;
}

}  // namespace oxa
