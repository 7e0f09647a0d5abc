// Compiled, never linked: the probe instantiated with the IOKit binding, so
// the casts and calls it makes are checked against the framework types.

#include "identity/platform_probe.h"
#include "platform/registry_macos.h"
#include "platform/system.h"

namespace oxa {

template void detect_platform<NativeSystem, MacRegistry>(Result&, NativeSystem&, MacRegistry&);

}  // namespace oxa
