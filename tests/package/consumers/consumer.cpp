// SPDX-License-Identifier: MIT
// A C++ host built against an installed liboxa: one detection, the document
// owned by a unique_ptr that hands it back to oxa_free, then the version.
#include <oxa.h>

#include <cstdio>
#include <memory>
#include <string_view>

int main() {
  char* raw = nullptr;
  const int status = oxa_detect_json(&raw);
  const std::unique_ptr<char, decltype(&oxa_free)> document(raw, &oxa_free);
  if (status != OXA_OK) {
    std::fprintf(stderr, "consumer: oxa_detect_json returned %d\n", status);
    return 1;
  }
  if (!std::string_view(document.get()).starts_with(R"({"schema_version":1,)")) {
    std::fprintf(stderr, "consumer: unexpected document: %s\n", document.get());
    return 1;
  }
  std::printf("%s\n", oxa_version());
  return 0;
}
