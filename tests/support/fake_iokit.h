// SPDX-License-Identifier: MIT
#pragma once

// The IOKit and CoreFoundation calls of the macOS registry binding, faked:
// one service (or none) whose three identity properties are each absent, a
// string, a data object or a value of another type; and any number of PCI
// services whose four ID properties are each one of those too. Every value,
// service and iterator handed out and every release is counted, and misuse
// (release of null or of something never handed out, use after release,
// wrong port, allocator, options or encoding) is recorded, so a test can ask
// for balance() == "" after any run, exceptions included.
//
// The PCI matching fails until a PCI service is added or the matching is
// set otherwise: a registry that cannot be asked, which is what every run
// before the question was asked saw. Its calls are counted, not logged in
// calls(), so a registry of any size fits.
//
// FakeRegistry is the IOKit binding over this fake: the registry tests hand
// to the probe and the run, set up and inspected through the fake's calls.
//
// Nothing here allocates while the probe runs, so allocation-fault sweeps
// only see the probe's own allocations.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/macos/registry_iokit.h"

namespace oxa::test {

class FakeIOKit {
 public:
  struct Object;

  using Service = unsigned int;
  using Iterator = unsigned int;
  using Value = const void*;
  using StringRef = const Object*;
  using DataRef = const Object*;
  using Dictionary = void*;
  using TypeId = unsigned long;
  using Index = long;
  using Port = unsigned int;
  using Allocator = const void*;

  static constexpr Service kService = 0x2203;
  static constexpr Iterator kPciIterator = 0x2207;
  static constexpr Service kFirstPciService = 0x10000;  // then one up per service
  static constexpr Port kMainPort = 0;
  static constexpr TypeId kStringType = 7;
  static constexpr TypeId kDataType = 11;
  static constexpr TypeId kOtherType = 13;

  enum class Kind { string, data, other };

  struct Object {
    RegistryKey key;
    Kind kind;
    std::string bytes;
    Index length = 0;         // what CFDataGetLength reports
    bool convertible = true;  // a string that UTF-8 can express
    int handed_out = 0;
    int releases = 0;
  };

  enum class Op {
    matching,
    get_service,
    create_property,
    get_type,
    get_cstring,
    data_length,
    data_bytes,
    release_value,
    release_service
  };
  struct Call {
    Op op;
    std::optional<RegistryKey> key;  // the value's key, for calls on a value or a property read

    friend bool operator==(const Call&, const Call&) = default;
  };

  // How the matching of IOPCIDevice entries goes.
  enum class PciMatching {
    fails,          // an error, no iterator
    null_iterator,  // success, but no iterator
    succeeds,       // an iterator over the PCI services
  };

  FakeIOKit() { calls_.reserve(kCallCapacity); }
  FakeIOKit(const FakeIOKit&) = delete;
  FakeIOKit& operator=(const FakeIOKit&) = delete;

  // --- Set-up ---
  void remove_service() { service_ = 0; }
  void set_absent(RegistryKey key) { objects_[index(key)].reset(); }
  void set_string(RegistryKey key, std::string text) { put(key, Kind::string, std::move(text), 0, true); }
  // A string that has no UTF-8 form (an unpaired surrogate, say).
  void set_unconvertible_string(RegistryKey key) { put(key, Kind::string, "", 0, false); }
  void set_data(RegistryKey key, std::string bytes) {
    const auto length = static_cast<Index>(bytes.size());
    put(key, Kind::data, std::move(bytes), length, true);
  }
  // A data object that reports a length with no bytes behind it (negative ones).
  void set_data_length(RegistryKey key, Index length) { put(key, Kind::data, "", length, true); }
  void set_other(RegistryKey key) { put(key, Kind::other, "", 0, true); }

  // --- PCI set-up ---
  void set_pci_matching(PciMatching matching) { pci_matching_ = matching; }
  // A PCI service with none of its properties; its index. The matching
  // succeeds from now on.
  std::size_t add_pci_service() {
    pci_matching_ = PciMatching::succeeds;
    pci_services_.emplace_back();
    return pci_services_.size() - 1;
  }
  // A PCI service whose IDs are what the registry holds: 4 bytes each,
  // little-endian.
  std::size_t add_pci_function(const PciFunction& ids) {
    const std::size_t service = add_pci_service();
    const std::uint16_t values[] = {ids.vendor, ids.device, ids.subsystem_vendor, ids.subsystem};
    for (std::size_t i = 0; i < std::size(values); ++i) {
      const char bytes[] = {static_cast<char>(values[i] & 0xFF), static_cast<char>(values[i] >> 8), 0, 0};
      set_pci_data(service, static_cast<PciKey>(i), std::string(bytes, sizeof bytes));
    }
    return service;
  }
  void set_pci_absent(std::size_t service, PciKey key) { pci_value(service, key).reset(); }
  void set_pci_data(std::size_t service, PciKey key, std::string bytes) {
    const auto length = static_cast<Index>(bytes.size());
    pci_value(service, key) = Object{RegistryKey{}, Kind::data, std::move(bytes), length, true, 0, 0};
  }
  void set_pci_string(std::size_t service, PciKey key, std::string text) {
    pci_value(service, key) = Object{RegistryKey{}, Kind::string, std::move(text), 0, true, 0, 0};
  }
  void set_pci_other(std::size_t service, PciKey key) {
    pci_value(service, key) = Object{RegistryKey{}, Kind::other, "", 0, true, 0, 0};
  }

  // --- What happened ---
  const std::vector<Call>& calls() const { return calls_; }
  int service_releases() const { return service_releases_; }
  int services_handed_out() const { return services_handed_out_; }
  int releases(RegistryKey key) const { return object(key) ? object(key)->releases : 0; }
  int handed_out(RegistryKey key) const { return object(key) ? object(key)->handed_out : 0; }
  std::string_view matched_class() const { return matched_class_ ? matched_class_ : ""; }
  Index last_buffer_size() const { return last_buffer_size_; }
  // The key of the latest property read, if any.
  std::optional<RegistryKey> last_key_read() const { return last_key_read_; }
  // How many PCI services the iterator handed out, and how many of their
  // properties were asked for.
  std::size_t pci_services_handed_out() const { return pci_services_handed_out_; }
  std::size_t pci_properties_read() const { return pci_properties_read_; }

  // Empty when every value handed out was released exactly once, a non-zero
  // service exactly once, the dictionary was handed on, and no misuse was
  // seen; otherwise what went wrong.
  std::string balance() const {
    std::string out;
    if (misuse_ != nullptr) out += std::string("misuse: ") + misuse_ + "; ";
    for (const auto& slot : objects_) {
      if (slot && slot->releases != slot->handed_out) {
        out += std::string(key_name(slot->key)) + " handed out " + std::to_string(slot->handed_out) +
               " released " + std::to_string(slot->releases) + "; ";
      }
    }
    if (service_releases_ != services_handed_out_) {
      out += "service handed out " + std::to_string(services_handed_out_) + " released " +
             std::to_string(service_releases_) + "; ";
    }
    for (std::size_t i = 0; i < pci_services_.size(); ++i) {
      const PciService& service = pci_services_[i];
      const std::string name = "PCI service " + std::to_string(i);
      if (service.releases != service.handed_out) {
        out += name + " handed out " + std::to_string(service.handed_out) + " released " +
               std::to_string(service.releases) + "; ";
      }
      for (std::size_t k = 0; k < service.values.size(); ++k) {
        const std::optional<Object>& value = service.values[k];
        if (value && value->releases != value->handed_out) {
          out += name + " " + std::string(key_name(static_cast<PciKey>(k))) + " handed out " +
                 std::to_string(value->handed_out) + " released " + std::to_string(value->releases) + "; ";
        }
      }
    }
    if (iterator_releases_ != iterators_handed_out_) {
      out += "iterator handed out " + std::to_string(iterators_handed_out_) + " released " +
             std::to_string(iterator_releases_) + "; ";
    }
    if (dictionaries_made_ != dictionaries_taken_) out += "matching dictionary not handed on; ";
    if (calls_overflow_) out += "call log overflow; ";
    return out;
  }

  // --- The registry calls ---
  Port main_port_default() const noexcept { return kMainPort; }
  Allocator allocator_default() const noexcept { return &allocator_; }

  Dictionary IOServiceMatching(const char* class_name) noexcept {
    log({Op::matching, std::nullopt});
    matched_class_ = class_name;
    ++dictionaries_made_;
    return &dictionary_;
  }

  Service IOServiceGetMatchingService(Port port, Dictionary matching) noexcept {
    log({Op::get_service, std::nullopt});
    if (port != kMainPort) misuse("wrong main port");
    if (matching == &dictionary_) ++dictionaries_taken_;
    if (service_ != 0) ++services_handed_out_;
    return service_;
  }

  // Takes the dictionary whether or not it succeeds, as IOKit does.
  int IOServiceGetMatchingServices(Port port, Dictionary matching, Iterator* existing) noexcept {
    if (port != kMainPort) misuse("wrong main port");
    if (matching == &dictionary_) ++dictionaries_taken_;
    switch (pci_matching_) {
      case PciMatching::fails:
        return kFailure;
      case PciMatching::null_iterator:
        *existing = 0;
        return 0;
      case PciMatching::succeeds:
        break;
    }
    // A new iterator starts from the first service.
    ++iterators_handed_out_;
    next_pci_service_ = 0;
    *existing = kPciIterator;
    return 0;
  }

  Service IOIteratorNext(Iterator iterator) noexcept {
    if (iterator != kPciIterator || iterator_releases_ >= iterators_handed_out_) {
      misuse("IOIteratorNext on an unknown or released iterator");
      return 0;
    }
    if (next_pci_service_ == pci_services_.size()) return 0;
    ++pci_services_[next_pci_service_].handed_out;
    ++pci_services_handed_out_;
    return kFirstPciService + static_cast<Service>(next_pci_service_++);
  }

  Value IORegistryEntryCreateCFProperty(Service service, PciKey key, Allocator allocator,
                                        std::uint32_t options) noexcept {
    ++pci_properties_read_;
    const PciService* entry = pci_service(service);
    if (entry == nullptr || entry->releases >= entry->handed_out) {
      misuse("PCI property read on an unknown or released service");
      return nullptr;
    }
    if (allocator != &allocator_) misuse("not the default allocator");
    if (options != 0) misuse("non-zero options");
    std::optional<Object>& value =
        pci_services_[service - kFirstPciService].values[static_cast<std::size_t>(key)];
    if (!value) return nullptr;
    ++value->handed_out;
    return &*value;
  }

  Value IORegistryEntryCreateCFProperty(Service service, RegistryKey key, Allocator allocator,
                                        std::uint32_t options) noexcept {
    log({Op::create_property, key});
    last_key_read_ = key;
    if (service == 0 || service != service_ || service_releases_ >= services_handed_out_) {
      misuse("property read on an unknown or released service");
    }
    if (allocator != &allocator_) misuse("not the default allocator");
    if (options != 0) misuse("non-zero options");
    Object* value = object(key);
    if (value == nullptr) return nullptr;
    ++value->handed_out;
    return value;
  }

  TypeId CFGetTypeID(Value value) noexcept {
    const Object* o = live(value, Op::get_type);
    if (o == nullptr) return 0;
    switch (o->kind) {
      case Kind::string:
        return kStringType;
      case Kind::data:
        return kDataType;
      case Kind::other:
        break;
    }
    return kOtherType;
  }
  TypeId CFStringGetTypeID() const noexcept { return kStringType; }
  TypeId CFDataGetTypeID() const noexcept { return kDataType; }

  bool CFStringGetCString(StringRef string, char* buffer, Index size, std::uint32_t encoding) noexcept {
    const Object* o = live(string, Op::get_cstring);
    last_buffer_size_ = size;
    if (o == nullptr) return false;
    if (o->kind != Kind::string) misuse("CFStringGetCString on a non-string");
    if (encoding != kUtf8Encoding) misuse("encoding is not UTF-8");
    if (!o->convertible || size <= 0 || o->bytes.size() >= static_cast<std::size_t>(size)) return false;
    std::memcpy(buffer, o->bytes.data(), o->bytes.size());
    buffer[o->bytes.size()] = '\0';
    return true;
  }

  Index CFDataGetLength(DataRef data) noexcept {
    const Object* o = live(data, Op::data_length);
    if (o == nullptr) return 0;
    if (o->kind != Kind::data) misuse("CFDataGetLength on a non-data value");
    return o->length;
  }

  const unsigned char* CFDataGetBytePtr(DataRef data) noexcept {
    const Object* o = live(data, Op::data_bytes);
    if (o == nullptr) return nullptr;
    if (o->kind != Kind::data) misuse("CFDataGetBytePtr on a non-data value");
    if (o->length > static_cast<Index>(o->bytes.size()))
      misuse("bytes of a data object with no bytes behind it");
    return reinterpret_cast<const unsigned char*>(o->bytes.data());
  }

  void CFRelease(Value value) noexcept {
    if (value == nullptr) {
      misuse("CFRelease(NULL)");
      return;
    }
    if (value == &dictionary_) {
      misuse("the matching dictionary was released by the caller");
      return;
    }
    Object* o = find(value);
    if (o == nullptr) {
      misuse("CFRelease of a value never handed out");
      return;
    }
    if (identity(o)) log({Op::release_value, o->key});
    ++o->releases;
    if (o->releases > o->handed_out) misuse("value released too often");
  }

  int IOObjectRelease(Service service) noexcept {
    if (service == kPciIterator) {
      if (++iterator_releases_ > iterators_handed_out_) misuse("iterator released too often");
      return 0;
    }
    if (service >= kFirstPciService && service != service_) {
      PciService* entry = pci_service(service);
      if (entry == nullptr) {
        misuse("IOObjectRelease of an unknown PCI service");
      } else if (++entry->releases > entry->handed_out) {
        misuse("PCI service released too often");
      }
      return 0;
    }
    log({Op::release_service, std::nullopt});
    if (service == 0)
      misuse("IOObjectRelease(0)");
    else if (service != service_)
      misuse("IOObjectRelease of an unknown service");
    ++service_releases_;
    return 0;
  }

 private:
  static constexpr std::size_t kCallCapacity = 256;
  static constexpr int kFailure = static_cast<int>(0xe00002c7u);  // kIOReturnUnsupported

  struct PciService {
    std::array<std::optional<Object>, 4> values;  // by PciKey
    int handed_out = 0;
    int releases = 0;
  };

  void put(RegistryKey key, Kind kind, std::string bytes, Index length, bool convertible) {
    objects_[index(key)] = Object{key, kind, std::move(bytes), length, convertible, 0, 0};
  }
  static std::size_t index(RegistryKey key) { return static_cast<std::size_t>(key); }
  Object* object(RegistryKey key) { return objects_[index(key)] ? &*objects_[index(key)] : nullptr; }
  const Object* object(RegistryKey key) const {
    return objects_[index(key)] ? &*objects_[index(key)] : nullptr;
  }

  std::optional<Object>& pci_value(std::size_t service, PciKey key) {
    return pci_services_.at(service).values[static_cast<std::size_t>(key)];
  }
  PciService* pci_service(Service service) noexcept {
    if (service < kFirstPciService || service - kFirstPciService >= pci_services_.size()) return nullptr;
    return &pci_services_[service - kFirstPciService];
  }

  // Whether an object is one of the platform device's.
  bool identity(const Object* o) const noexcept {
    for (const auto& slot : objects_) {
      if (slot && &*slot == o) return true;
    }
    return false;
  }

  Object* find(Value value) noexcept {
    for (auto& slot : objects_) {
      if (slot && static_cast<Value>(&*slot) == value) return &*slot;
    }
    // A PCI value lies inside its service's entry: found from its address,
    // so a registry of any size is searched in constant time.
    if (pci_services_.empty()) return nullptr;
    const auto before = std::less<const void*>{};
    const void* first = pci_services_.data();
    const void* last = pci_services_.data() + pci_services_.size();
    if (before(value, first) || !before(value, last)) return nullptr;
    const auto offset =
        static_cast<std::size_t>(static_cast<const char*>(value) - static_cast<const char*>(first));
    for (auto& slot : pci_services_[offset / sizeof(PciService)].values) {
      if (slot && static_cast<Value>(&*slot) == value) return &*slot;
    }
    return nullptr;
  }

  // The object behind a value in use; records misuse when it is unknown or
  // every reference to it was released already.
  const Object* live(Value value, Op op) noexcept {
    const Object* o = find(value);
    if (o == nullptr || identity(o)) log({op, o ? std::optional<RegistryKey>(o->key) : std::nullopt});
    if (o == nullptr) {
      misuse("call on a value never handed out");
      return nullptr;
    }
    if (o->releases >= o->handed_out) misuse("use after release");
    return o;
  }

  void log(Call call) noexcept {
    // Never grows past the reserved capacity: no allocation during a run.
    if (calls_.size() < calls_.capacity()) {
      calls_.push_back(call);
    } else {
      calls_overflow_ = true;
    }
  }
  void misuse(const char* what) noexcept {
    if (misuse_ == nullptr) misuse_ = what;
  }

  std::array<std::optional<Object>, 3> objects_;
  std::vector<PciService> pci_services_;
  PciMatching pci_matching_ = PciMatching::fails;
  std::size_t next_pci_service_ = 0;
  std::size_t pci_services_handed_out_ = 0;
  std::size_t pci_properties_read_ = 0;
  int iterators_handed_out_ = 0;
  int iterator_releases_ = 0;
  Service service_ = kService;
  int services_handed_out_ = 0;
  int service_releases_ = 0;
  int dictionaries_made_ = 0;
  int dictionaries_taken_ = 0;
  int dictionary_ = 0;  // its address is the matching dictionary
  int allocator_ = 0;   // its address is the default allocator
  const char* matched_class_ = nullptr;
  Index last_buffer_size_ = 0;
  std::optional<RegistryKey> last_key_read_;
  std::vector<Call> calls_;
  bool calls_overflow_ = false;
  const char* misuse_ = nullptr;
};

// The IOKit binding over the fake calls; set up and inspected through them.
using FakeRegistry = IOKitRegistry<FakeIOKit>;

}  // namespace oxa::test
