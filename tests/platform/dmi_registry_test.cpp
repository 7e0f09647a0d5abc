// SPDX-License-Identifier: MIT
// The sysfs registry on identity folders written by the tests, alone and
// under the platform probe.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/evidence.h"
#include "identity/platform_probe.h"
#include "platform/native.h"
#include "platform/posix/registry_dmi.h"
#include "support/fake_system.h"

namespace oxa {
namespace {

namespace fs = std::filesystem;

class DmiRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "oxa-dmi-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void write(const char* name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
  }

  // The text of one key as the probe would see it; nullopt when the
  // property is absent, "<no conversion>" when it does not convert.
  std::optional<std::string> read(RegistryKey key, const fs::path& root) {
    const std::string path = root.string();
    DmiRegistry registry(path.c_str());
    const auto device = registry.platform_device();
    EXPECT_TRUE(device);
    const auto value = device.read(key);
    const RegistryValue v = value.get();
    if (v.kind == ValueKind::absent) return std::nullopt;
    EXPECT_EQ(v.kind, ValueKind::string);
    if (!v.readable) return "<no conversion>";
    return std::string(v.text);
  }
  std::optional<std::string> read(RegistryKey key) { return read(key, dir_); }

  fs::path dir_;
};

TEST_F(DmiRegistryTest, KeysReadTheirFiles) {
  write("sys_vendor", "maker\n");
  write("product_name", "name\n");
  write("product_version", "version\n");
  write("board_vendor", "board\n");
  EXPECT_EQ(read(RegistryKey::manufacturer), "maker");
  EXPECT_EQ(read(RegistryKey::model), "name");
  EXPECT_EQ(read(RegistryKey::product_name), "version");
}

TEST_F(DmiRegistryTest, FileContents) {
  struct Case {
    const char* name;
    std::string content;
    std::string text;
  };
  const std::string fits(kIdentityBufferSize - 1, 'a');  // with its NUL exactly the buffer
  const Case cases[] = {
      {"trailing newline", "QEMU\n", "QEMU"},
      {"no trailing newline", "QEMU", "QEMU"},
      {"only one newline is dropped", "QEMU\n\n", "QEMU\n"},
      {"empty file", "", ""},
      {"lone newline", "\n", ""},
      {"4095 bytes", fits, fits},
      {"4095 bytes and a newline", fits + "\n", fits},
      {"4096 bytes", fits + "a", "<no conversion>"},
      {"4096 bytes and a newline", fits + "a\n", "<no conversion>"},
      {"far too long", std::string(200000, 'b'), "<no conversion>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write("sys_vendor", c.content);
    EXPECT_EQ(read(RegistryKey::manufacturer), c.text);
  }
}

// Whatever stands in an identity file's place, the read neither blocks nor
// floods: only a plain file is a property.
TEST_F(DmiRegistryTest, AnythingButAPlainFileIsAbsent) {
  write("plain", "QEMU\n");
  fs::create_directory(dir_ / "folder");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir_ / "fifo_with_writer").c_str(), 0600), 0);
  // A writer that never writes: a blocking read would wait for ever.
  const int writer = ::open((dir_ / "fifo_with_writer").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (dir_ / "socket").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink("/dev/zero", dir_ / "zero");
  fs::create_symlink(dir_ / "plain", dir_ / "link_to_plain");

  for (const char* name :
       {"missing", "folder", "fifo", "fifo_with_writer", "socket", "zero", "link_to_plain"}) {
    SCOPED_TRACE(name);
    const fs::path root = dir_ / (std::string("root_") + name);
    fs::create_directory(root);
    if (fs::exists(dir_ / name) || fs::is_symlink(dir_ / name)) fs::rename(dir_ / name, root / "sys_vendor");
    EXPECT_EQ(read(RegistryKey::manufacturer, root), std::nullopt);
  }
  ::close(writer);
  ::close(listener);
}

TEST_F(DmiRegistryTest, UnreadableFileIsAbsent) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  write("sys_vendor", "QEMU\n");
  fs::permissions(dir_ / "sys_vendor", fs::perms::none);
  EXPECT_EQ(read(RegistryKey::manufacturer), std::nullopt);
}

TEST_F(DmiRegistryTest, NoDeviceWithoutTheFolder) {
  const std::string absent = (dir_ / "absent").string();
  EXPECT_FALSE(DmiRegistry(absent.c_str()).platform_device());

  write("sys_vendor", "x\n");
  const std::string file = (dir_ / "sys_vendor").string();
  EXPECT_FALSE(DmiRegistry(file.c_str()).platform_device());

  const std::string folder = dir_.string();
  EXPECT_TRUE(DmiRegistry(folder.c_str()).platform_device());
}

// A file's NUL ends its text, as the NUL of a converted string does.
TEST_F(DmiRegistryTest, TextEndsAtTheFirstNul) {
  write("sys_vendor", std::string("QEMU\0junk\n", 10));
  EXPECT_EQ(read(RegistryKey::manufacturer), "QEMU");
}

TEST_F(DmiRegistryTest, ProbeOnIdentityFolders) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;  // empty: an empty folder
    const char* status;
    std::vector<Evidence> evidence;
  };
  const Case cases[] = {
      {"qemu",
       {{"sys_vendor", "QEMU\n"},
        {"product_name", "Standard PC (Q35 + ICH9, 2009)\n"},
        {"product_version", "pc-q35-7.2\n"}},
       "ok",
       {{"firmware", "guest", "qemu", "qemu", 85}}},
      // EC2 names the instance type; only ".metal" types are bare metal.
      {"aws",
       {{"sys_vendor", "Amazon EC2\n"}, {"product_name", "m5.large\n"}},
       "ok",
       {{"firmware", "cloud", "aws", "amazon ec2", 0},
        {"firmware", "guest", "unknown", "Amazon EC2 instance type m5.large", 80}}},
      {"aws metal",
       {{"sys_vendor", "Amazon EC2\n"}, {"product_name", "m5.metal\n"}},
       "ok",
       {{"firmware", "cloud", "aws", "amazon ec2", 0}}},
      {"aws metal of a size",
       {{"sys_vendor", "Amazon EC2\n"}, {"product_name", "c7i.metal-24xl\n"}},
       "ok",
       {{"firmware", "cloud", "aws", "amazon ec2", 0}}},
      // Not an instance type, or another vendor's: nothing said of the machine.
      {"aws no type",
       {{"sys_vendor", "Amazon EC2\n"}, {"product_name", "Not Specified\n"}},
       "ok",
       {{"firmware", "cloud", "aws", "amazon ec2", 0}}},
      {"type under another vendor",
       {{"sys_vendor", "Dell Inc.\n"}, {"product_name", "m5.large\n"}},
       "ok",
       {}},
      {"bare metal", {{"sys_vendor", "Dell Inc.\n"}, {"product_name", "PowerEdge R640\n"}}, "ok", {}},
      {"empty folder", {}, "unavailable", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path root = dir_ / c.name;
    fs::create_directory(root);
    for (const auto& [name, content] : c.files) std::ofstream(root / name, std::ios::binary) << content;

    Result result;
    test::FakeSystem system;
    const std::string path = root.string();
    DmiRegistry registry(path.c_str());
    detect_platform(result, system, registry);
    EXPECT_EQ(result.probes, (std::vector<Probe>{{"system", "unavailable"}, {"firmware", c.status}}));
    EXPECT_EQ(result.evidence, c.evidence);
  }
}

TEST_F(DmiRegistryTest, ProbeWithoutFolderHasNoService) {
  Result result;
  test::FakeSystem system;
  const std::string absent = (dir_ / "absent").string();
  DmiRegistry registry(absent.c_str());
  detect_platform(result, system, registry);
  EXPECT_EQ(result.probes, (std::vector<Probe>{{"system", "unavailable"}, {"firmware", "unavailable"}}));
  EXPECT_TRUE(result.evidence.empty());
}

TEST(NativeRegistry, IsDefaultConstructibleAndRunsTheProbe) {
  Result result;
  test::FakeSystem system;
  NativeRegistry registry;
  detect_platform(result, system, registry);
  ASSERT_EQ(result.probes.size(), 2u);
  EXPECT_EQ(result.probes[1].source, "firmware");
}

}  // namespace
}  // namespace oxa
