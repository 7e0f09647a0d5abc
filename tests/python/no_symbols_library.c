// SPDX-License-Identifier: MIT
/* A shared object that is not liboxa: it has oxa_version, but neither
 * oxa_detect_json nor oxa_free. */
#include "oxa.h"

const char* oxa_version(void) { return "1.0.0"; }
