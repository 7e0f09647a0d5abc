#include "platform/registry_sysfs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

namespace oxa {

struct SysfsRegistry::Text {
  std::string bytes;
  // The file held more than kReadLimit bytes: no buffer will take it.
  bool oversized = false;
};

namespace {

constexpr SysfsRegistry::Service kPlatformService = 1;
constexpr SysfsRegistry::TypeId kStringType = 1;
constexpr SysfsRegistry::TypeId kDataType = 2;  // never handed out

// Far above any buffer a caller passes; stops a runaway read of a huge file.
constexpr std::size_t kReadLimit = std::size_t{64} * 1024;

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

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  [[nodiscard]] int get() const noexcept { return fd_; }

 private:
  int fd_;
};

// The file's contents without one trailing newline; null when it cannot be
// opened or read (a folder in its place included).
std::unique_ptr<SysfsRegistry::Text> read_text(const std::string& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return nullptr;

  auto text = std::make_unique<SysfsRegistry::Text>();
  char chunk[4096];
  for (;;) {
    const ::ssize_t got = ::read(file.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return nullptr;
    }
    if (got == 0) break;
    const std::size_t room = kReadLimit + 1 - text->bytes.size();
    text->bytes.append(chunk, static_cast<std::size_t>(got) < room ? static_cast<std::size_t>(got) : room);
    if (text->bytes.size() > kReadLimit) {
      text->oversized = true;
      break;
    }
  }
  if (!text->oversized && !text->bytes.empty() && text->bytes.back() == '\n') text->bytes.pop_back();
  return text;
}

}  // namespace

SysfsRegistry::SysfsRegistry(std::string root) : root_(std::move(root)) {}

SysfsRegistry::Dictionary SysfsRegistry::IOServiceMatching(const char* class_name) const noexcept {
  if (class_name == nullptr || std::string_view(class_name) != kPlatformClass) return nullptr;
  return kPlatformClass;
}

SysfsRegistry::Service SysfsRegistry::IOServiceGetMatchingService(Port /*unused*/,
                                                                  Dictionary matching) const noexcept {
  if (matching != static_cast<Dictionary>(kPlatformClass)) return 0;
  struct stat info {};
  if (::stat(root_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return 0;
  return kPlatformService;
}

SysfsRegistry::Value SysfsRegistry::IORegistryEntryCreateCFProperty(Service service, RegistryKey key,
                                                                    Allocator /*unused*/,
                                                                    std::uint32_t /*unused*/) const {
  const char* name = file_name(key);
  if (service != kPlatformService || name == nullptr) return nullptr;
  std::string path = root_;
  path += '/';
  path += name;
  return read_text(path).release();
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

int SysfsRegistry::IOObjectRelease(Service /*unused*/) const noexcept { return 0; }

}  // namespace oxa
