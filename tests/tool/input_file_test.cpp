// SPDX-License-Identifier: MIT
// The tool's reading of its input files, apart from any run of the tool.

#include "input_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace oxa::tool {
namespace {

TEST(ReadFile, ReadsEveryByteOrReportsWhy) {
  const std::filesystem::path dir = std::filesystem::path(testing::TempDir());
  const std::filesystem::path file = dir / "oxa_identity_read_file.bin";
  // Bytes a text-mode read would alter or stop at, then an SMBIOS table.
  const std::string bytes = std::string("\x00\x1a\r\n\xff", 5) +
                            std::string("\x01\x05\x00\x00\x01QEMU\x00\x00\x7f\x04\x01\x00\x00\x00", 17);
  {
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string read = "stale";
  EXPECT_EQ(read_input(file.c_str(), read), "");
  EXPECT_EQ(read, bytes);
  std::filesystem::remove(file);

  const std::string failing[] = {file.string(), dir.string()};
  for (const std::string& path : failing) {
    SCOPED_TRACE(path);
    read = "stale";
    EXPECT_NE(read_input(path.c_str(), read), "");
    EXPECT_EQ(read, "");
  }
}

}  // namespace
}  // namespace oxa::tool
