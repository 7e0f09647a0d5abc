#include "platform/registry_sysfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/regular_file.h"

namespace oxa {

struct SysfsRegistry::Text {
  std::string bytes;
  // The file held more than kReadLimit bytes: no buffer will take it.
  bool oversized = false;
};

namespace {

constexpr SysfsRegistry::TypeId kStringType = 1;
constexpr SysfsRegistry::TypeId kDataType = 2;  // never handed out

// Far above any buffer a caller passes; a bigger file is no identity string.
constexpr std::size_t kReadLimit = 4 * std::size_t{4096};

constexpr char kPlatformClass[] = "IOPlatformExpertDevice";

const char* file_name(RegistryKey key) noexcept {
  switch (key) {
    case RegistryKey::manufacturer:
      return "sys_vendor";
    case RegistryKey::model:
      return "product_name";
    case RegistryKey::product_name:
      return "product_version";
  }
  return nullptr;
}

// The folder's descriptor travels as the service, shifted by one so that 0
// stays "no service".
int folder_of(SysfsRegistry::Service service) noexcept { return static_cast<int>(service) - 1; }

}  // namespace

SysfsRegistry::Dictionary SysfsRegistry::IOServiceMatching(const char* class_name) const noexcept {
  if (class_name == nullptr || std::string_view(class_name) != kPlatformClass) return nullptr;
  return kPlatformClass;
}

SysfsRegistry::Service SysfsRegistry::IOServiceGetMatchingService(Port /*unused*/,
                                                                  Dictionary matching) const noexcept {
  if (matching != static_cast<Dictionary>(kPlatformClass)) return 0;
  // Follows symlinks: the kernel's own path is one.
  const int folder = ::open(root_, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return folder < 0 ? 0 : static_cast<Service>(folder) + 1;
}

SysfsRegistry::Value SysfsRegistry::IORegistryEntryCreateCFProperty(Service service, RegistryKey key,
                                                                    Allocator /*unused*/,
                                                                    std::uint32_t /*unused*/) const {
  const char* name = file_name(key);
  if (service == 0 || name == nullptr) return nullptr;
  // Identity files are plain files: a symlink, FIFO, device or folder in
  // their place is no property.
  RegularFile file(folder_of(service), name, /*follow_symlink=*/false);
  if (file.status() != RegularFile::Status::ok) return nullptr;

  auto text = std::make_unique<Text>();
  text->bytes.resize(kReadLimit + 1);
  const long got = file.read(text->bytes.data(), text->bytes.size());
  if (got < 0) return nullptr;
  text->bytes.resize(static_cast<std::size_t>(got));
  if (text->bytes.size() > kReadLimit) {
    text->oversized = true;
  } else if (!text->bytes.empty() && text->bytes.back() == '\n') {
    text->bytes.pop_back();
  }
  return text.release();
}

SysfsRegistry::TypeId SysfsRegistry::CFGetTypeID(Value /*unused*/) const noexcept { return kStringType; }

SysfsRegistry::TypeId SysfsRegistry::CFStringGetTypeID() const noexcept { return kStringType; }

SysfsRegistry::TypeId SysfsRegistry::CFDataGetTypeID() const noexcept { return kDataType; }

bool SysfsRegistry::CFStringGetCString(StringRef string, char* buffer, Index size,
                                       std::uint32_t encoding) const noexcept {
  if (string == nullptr || buffer == nullptr || size <= 0 || encoding != kUtf8Encoding) return false;
  if (string->oversized || string->bytes.size() >= static_cast<std::size_t>(size)) return false;
  std::memcpy(buffer, string->bytes.data(), string->bytes.size());
  buffer[string->bytes.size()] = '\0';
  return true;
}

SysfsRegistry::Index SysfsRegistry::CFDataGetLength(DataRef data) const noexcept {
  return data == nullptr ? 0 : static_cast<Index>(data->bytes.size());
}

const unsigned char* SysfsRegistry::CFDataGetBytePtr(DataRef data) const noexcept {
  return data == nullptr ? nullptr : reinterpret_cast<const unsigned char*>(data->bytes.data());
}

void SysfsRegistry::CFRelease(Value value) const noexcept { delete static_cast<const Text*>(value); }

int SysfsRegistry::IOObjectRelease(Service service) const noexcept {
  return service == 0 ? 0 : ::close(folder_of(service));
}

}  // namespace oxa
