#pragma once

// Recording layers for `oxa-detect --dump`: each wraps a processor, system or
// registry layer, passes every call through unchanged and notes what the run
// read into a Dump. They live in the tool, not the library, and may allocate.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "api/detection_run.h"
#include "dump_format.h"
#include "dump_replay.h"
#include "platform/processor.h"
#include "platform/registry_common.h"

namespace oxa::tool {

template <class Inner>
class RecordingProcessor {
 public:
  RecordingProcessor(Inner& inner, Dump& dump) : inner_(inner), dump_(dump) {}

  [[gnu::always_inline]] CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    const CpuidRegisters regs = inner_.cpuid(leaf, subleaf);
    dump_.cpuid.push_back({leaf, subleaf, regs});
    return regs;
  }
  [[gnu::always_inline]] std::uint64_t rdtsc() {
    const std::uint64_t ticks = inner_.rdtsc();
    dump_.timestamps.push_back(ticks);
    return ticks;
  }
  [[gnu::always_inline]] void lfence() { inner_.lfence(); }

 private:
  Inner& inner_;
  Dump& dump_;
};

template <class Inner>
class RecordingSystem {
 public:
  RecordingSystem(Inner& inner, Dump& dump) : inner_(inner), dump_(dump) {}

  int sysctl_int32(const char* name, std::int32_t& value) {
    const int status = inner_.sysctl_int32(name, value);
    dump_.sysctl.push_back({name, status == 0, status == 0 ? value : 0});
    return status;
  }
  std::int64_t steady_ns() {
    const std::int64_t now = inner_.steady_ns();
    dump_.clock.push_back(now);
    return now;
  }
  void* allocate(std::size_t size) { return inner_.allocate(size); }

 private:
  Inner& inner_;
  Dump& dump_;
};

template <class Inner>
class RecordingRegistry {
 public:
  using Service = typename Inner::Service;
  using Value = typename Inner::Value;
  using StringRef = typename Inner::StringRef;
  using DataRef = typename Inner::DataRef;
  using Dictionary = typename Inner::Dictionary;
  using TypeId = typename Inner::TypeId;
  using Index = typename Inner::Index;
  using Port = typename Inner::Port;
  using Allocator = typename Inner::Allocator;

  RecordingRegistry(Inner& inner, Dump& dump) : inner_(inner), dump_(dump) {}

  Port main_port_default() { return inner_.main_port_default(); }
  Allocator allocator_default() { return inner_.allocator_default(); }
  Dictionary IOServiceMatching(const char* class_name) { return inner_.IOServiceMatching(class_name); }

  Service IOServiceGetMatchingService(Port port, Dictionary matching) {
    const Service service = inner_.IOServiceGetMatchingService(port, matching);
    dump_.service = service != Service{};
    return service;
  }

  Value IORegistryEntryCreateCFProperty(Service service, RegistryKey key, Allocator allocator,
                                        std::uint32_t options) {
    // Noted first: a failed note after the value exists would leak it.
    PropertyRecord record;
    record.key = key;
    dump_.properties.push_back(std::move(record));
    Value value{};
    try {
      value = inner_.IORegistryEntryCreateCFProperty(service, key, allocator, options);
    } catch (...) {
      dump_.properties.pop_back();
      throw;
    }
    if (value != nullptr) dump_.properties.back().kind = PropertyKind::other;
    return value;
  }

  // The probe works on one value at a time, the one it read last: every
  // call on a value below describes the latest property record.
  TypeId CFGetTypeID(Value value) {
    const TypeId type = inner_.CFGetTypeID(value);
    if (PropertyRecord* p = latest()) {
      if (type == inner_.CFStringGetTypeID()) {
        p->kind = PropertyKind::string;
      } else if (type == inner_.CFDataGetTypeID()) {
        p->kind = PropertyKind::data;
      }
    }
    return type;
  }
  TypeId CFStringGetTypeID() { return inner_.CFStringGetTypeID(); }
  TypeId CFDataGetTypeID() { return inner_.CFDataGetTypeID(); }

  bool CFStringGetCString(StringRef string, char* buffer, Index size, std::uint32_t encoding) {
    const bool converted = inner_.CFStringGetCString(string, buffer, size, encoding);
    if (PropertyRecord* p = latest()) {
      p->converted = converted;
      if (converted && size > 0) {
        std::size_t n = 0;
        while (n < static_cast<std::size_t>(size) && buffer[n] != '\0') ++n;
        p->bytes.assign(buffer, n);
        p->has_bytes = true;
      }
    }
    return converted;
  }
  Index CFDataGetLength(DataRef data) {
    const Index length = inner_.CFDataGetLength(data);
    if (PropertyRecord* p = latest()) p->length = static_cast<std::int64_t>(length);
    return length;
  }
  const unsigned char* CFDataGetBytePtr(DataRef data) {
    const unsigned char* bytes = inner_.CFDataGetBytePtr(data);
    PropertyRecord* p = latest();
    // The probe asks only for 1 to 4096 bytes, and reads exactly that many.
    if (p != nullptr && bytes != nullptr && p->length >= 1 && p->length <= 4096) {
      p->bytes.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(p->length));
      p->has_bytes = true;
    }
    return bytes;
  }
  void CFRelease(Value value) noexcept { inner_.CFRelease(value); }
  int IOObjectRelease(Service service) noexcept { return inner_.IOObjectRelease(service); }

 private:
  PropertyRecord* latest() { return dump_.properties.empty() ? nullptr : &dump_.properties.back(); }

  Inner& inner_;
  Dump& dump_;
};

struct Capture {
  int status = 0;  // of the detection run
  Dump dump;       // complete with report and timing record when status is 0
};

// One detection run over the given layers, recording what it read.
template <class Processor, class System, class Registry>
Capture capture(Processor& processor, System& system, Registry& registry) {
  Capture c;
  // Room for everything one run reads, so the timing loop does not allocate.
  c.dump.cpuid.reserve(64);
  c.dump.timestamps.reserve(4 * 64);
  c.dump.sysctl.reserve(4);
  c.dump.properties.reserve(4);
  c.dump.clock.reserve(4);
  RecordingProcessor<Processor> p(processor, c.dump);
  RecordingSystem<System> s(system, c.dump);
  RecordingRegistry<Registry> r(registry, c.dump);
  char* document = nullptr;
  c.status = detect_json(&document, p, s, r);
  if (c.status == OXA_OK) {
    const std::unique_ptr<char, void (*)(void*)> owned(document, &std::free);
    c.dump.report = std::string(owned.get());
    c.dump.timing = replay_timing(c.dump);
  }
  return c;
}

}  // namespace oxa::tool
