// SPDX-License-Identifier: MIT
// The table of Linux signs against what the container probe asks: each sign
// is asked at its path by the question the table names, in the table's
// order, and the recording layer keeps each answer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/dump.h"
#include "capture/inputs.h"
#include "capture/recording_layers.h"
#include "identity/platform_probe.h"
#include "platform/native.h"
#include "platform/posix/registry_dmi.h"
#include "probes/container_probe.h"
#include "probes/cpuid_probe.h"
#include "probes/devices_probe.h"
#include "probes/kernel_probe.h"

namespace oxa::capture {
namespace {

namespace fs = std::filesystem;

// The native system, with every question asked of it noted in order.
class AskingSystem : public NativeSystem {
 public:
  explicit AskingSystem(const char* root) : NativeSystem(root) {}
#define OXA_ASKED_(method, Answer, answers, noun, most, ...) \
  Answer method(const char* path) {                          \
    asked.emplace_back(path, Input::method);                 \
    return NativeSystem::method(path);                       \
  }
  OXA_LINUX_PATH_QUESTIONS(OXA_ASKED_)
#undef OXA_ASKED_

  std::vector<std::pair<std::string, Input>> asked;
};

// Four roots that between them make the probes ask every sign: an OpenVZ
// host with a leftover Docker marker, a pod with a .containerenv on Xen, an
// LXD container seen by its socket, an empty one.
class EverySignAsked : public ::testing::Test {
 protected:
  void SetUp() override {
    for (fs::path* root : {&host_, &pod_, &lxd_, &empty_}) {
      std::string pattern = (fs::temp_directory_path() / "oxa-signs-XXXXXX").string();
      ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
      *root = pattern;
    }
    fs::create_directories(host_ / "proc/vz");
    fs::create_directories(host_ / "proc/bc");
    fs::create_directories(pod_ / "sys/hypervisor");
    std::ofstream(pod_ / "sys/hypervisor/type") << "xen\n";
    fs::create_directories(pod_ / "sys/firmware/devicetree/base");
    std::ofstream(pod_ / "sys/firmware/devicetree/base/compatible") << std::string("linux,dummy-virt\0", 17);
    fs::create_directories(pod_ / "run");
    std::ofstream(pod_ / "run/.containerenv").flush();
    fs::create_directories(pod_ / "var/run/secrets/kubernetes.io/serviceaccount");
    fs::create_directories(pod_ / "proc/self/ns");
    fs::create_symlink("pid:[4026532301]", pod_ / "proc/self/ns/pid");
    std::ofstream(pod_ / "proc/self/mountinfo") << "1 0 0:1 / / rw - overlay overlay rw\n";
    fs::create_directories(lxd_ / "dev/lxd");
    std::ofstream(lxd_ / "dev/lxd/sock").flush();
    fs::create_directories(lxd_ / "proc/self/ns");
    fs::create_symlink("pid:[4026532301]", lxd_ / "proc/self/ns/pid");
    std::ofstream(lxd_ / "proc/self/mountinfo") << "1 0 0:1 / /dev/lxd rw - tmpfs tmpfs rw\n";
    std::ofstream(host_ / ".dockerenv").flush();
    fs::create_directories(host_ / "proc/self/ns");
    fs::create_symlink("pid:[4026531836]", host_ / "proc/self/ns/pid");
    fs::create_symlink("uts:[4026531838]", host_ / "proc/self/ns/uts");
    fs::create_symlink("ipc:[4026531839]", host_ / "proc/self/ns/ipc");
  }
  void TearDown() override {
    std::error_code ignored;
    for (const fs::path& root : {host_, pod_, lxd_, empty_}) fs::remove_all(root, ignored);
  }
  fs::path host_;
  fs::path pod_;
  fs::path lxd_;
  fs::path empty_;
};

TEST_F(EverySignAsked, EachAtItsPathByItsQuestionInTableOrder) {
  std::vector<std::pair<std::string, Input>> table;
  for (const SignInfo& sign : kSigns) table.emplace_back(sign.path, input_of(sign.question));
  std::set<std::pair<std::string, Input>> asked_somewhere;
  for (const fs::path& root : {host_, pod_, lxd_, empty_}) {
    SCOPED_TRACE(root.string());
    const std::string path = root.string();
    AskingSystem system(path.c_str());
    // The probes in run order, the cpu probe as on arm64, where it asks MIDR_EL1.
    Arm64Processor arm64;
    const Cpu cpu = read_cpu(arm64, system);
    static_cast<void>(read_kernel_signs(system));
    // The firmware probe as where DMI's identity is mute: it asks the table,
    // then the tree.
    const std::string dmi = (root / "sys/class/dmi/id").string();
    DmiRegistry registry(dmi.c_str());
    Result firmware;
    detect_firmware(firmware, registry, system);
    static_cast<void>(read_device_signs(arm64, cpu, system));
    static_cast<void>(read_linux_signs(system));
    // What a run asks is the table with some rows left out: each at most
    // once, in the table's order.
    auto row = table.begin();
    for (const auto& ask : system.asked) {
      row = std::find(row, table.end(), ask);
      ASSERT_NE(row, table.end()) << ask.first << " asked out of the table's order, or not in it";
      ++row;
      asked_somewhere.insert(ask);
    }
  }
  const std::set<std::pair<std::string, Input>> every(table.begin(), table.end());
  EXPECT_EQ(asked_somewhere, every);
}

// The recording layer notes each question in its own list of the dump.
TEST_F(EverySignAsked, TheDumpHoldsEachQuestionsAnswers) {
  const std::string root = host_.string();
  NativeSystem native(root.c_str());
  Dump dump;
  RecordingSystem<NativeSystem> system(native, dump);
  static_cast<void>(read_linux_signs(system));
  ASSERT_TRUE(dump.linux_signs);
  const LinuxRecord& r = *dump.linux_signs;
  EXPECT_EQ(r.links.size(), 3u);
  EXPECT_EQ(r.links.back().answer, "ipc:[4026531839]");
  ASSERT_EQ(r.environments.size(), 2u);  // no declaration: PID 1's is asked too
  EXPECT_EQ(r.environments[0].path, kOwnEnvironmentPath);
  EXPECT_FALSE(r.environments[0].answer);  // below a root, from the file there: none
  EXPECT_TRUE(r.release_asked);
}

// Each sign a run may read is named, in full, in the README and in the
// manual page's FILES, so that a user can see what is read and a sign added
// without its prose fails here. Our own environment is read from memory.
TEST(SignProse, EverySignIsNamedInTheReadmeAndTheManual) {
  const auto text_of = [](const char* relative_path) {
    std::ifstream in(std::string(OXA_PROJECT_DIR) + "/" + relative_path, std::ios::binary);
    EXPECT_TRUE(in) << relative_path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const std::string readme = text_of("README.md");
  std::string manual = text_of("doc/oxa-detect.1.in");
  for (std::size_t at = manual.find("\\-"); at != std::string::npos; at = manual.find("\\-", at))
    manual.erase(at, 1);  // groff's "\-" is a plain "-"
  const std::size_t files = manual.find(".SH FILES");
  ASSERT_NE(files, std::string::npos);
  const std::string files_section = manual.substr(files, manual.find(".SH ", files + 1) - files);
  for (const SignInfo& sign : kSigns) {
    if (std::string_view(sign.path) == kOwnEnvironmentPath) continue;
    EXPECT_NE(readme.find(sign.path), std::string::npos) << sign.path << " is not in the README";
    EXPECT_NE(files_section.find(sign.path), std::string::npos)
        << sign.path << " is not in the manual's FILES";
  }
}

}  // namespace
}  // namespace oxa::capture
