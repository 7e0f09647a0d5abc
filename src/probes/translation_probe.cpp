// SPDX-License-Identifier: MIT
#include "probes/translation_probe.h"

#include "core/vocabulary.h"
#include "platform/system.h"

namespace oxa {

void detect_translation(Result& result, std::optional<std::int32_t> translated) {
  result.probe(sources::compatibility, statuses::ok);
  if (translated && *translated != 0) {
    result.add(sources::compatibility, categories::compatibility, compatibility_vendors::rosetta,
               weights::declared, kTranslatedFlagName);
  }
}

}  // namespace oxa
