/* A stand-in for liboxa whose detection always fails, to see how the tool
 * reports a non-zero status. Loaded in place of the real library through
 * LD_LIBRARY_PATH. */
#include <stddef.h>

#include "oxa.h"

OXA_API int oxa_detect_json(char** out) {
  if (out == NULL) return OXA_ERROR_NULL_ARGUMENT;
  *out = NULL;
  return OXA_ERROR_NO_MEMORY;
}

OXA_API void oxa_free(char* ptr) { (void)ptr; }

OXA_API const char* oxa_version(void) { return "0.0.0-failing"; }
