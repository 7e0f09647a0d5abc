// SPDX-License-Identifier: MIT
#include "probes/translation_probe.h"

#include "core/vocabulary.h"
#include "platform/system.h"

namespace oxa {

void detect_translation(Result& result, bool translated) {
  result.probe(sources::compatibility, statuses::ok);
  if (translated) {
    result.add(sources::compatibility, categories::compatibility, compatibility_vendors::rosetta,
               weights::declared, kTranslatedFlagName);
  }
}

}  // namespace oxa
