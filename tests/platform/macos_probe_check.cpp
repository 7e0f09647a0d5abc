// Compiled, never linked: the probe instantiated with the IOKit binding over
// the native calls, so the casts and calls it makes are checked against the
// framework types.

#include "identity/platform_probe.h"
#include "platform/iokit_native.h"
#include "platform/registry_iokit.h"
#include "platform/system.h"

namespace oxa {

template void detect_platform<NativeSystem, IOKitRegistry<NativeIOKit>>(Result&, NativeSystem&,
                                                                        IOKitRegistry<NativeIOKit>&);

}  // namespace oxa
