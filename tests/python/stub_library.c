// SPDX-License-Identifier: MIT
/*
 * A stand-in for liboxa that the Python package's tests load in its place:
 * the three exports behave as the environment says at each call, and it
 * counts what comes back to oxa_free.
 *
 *   OXA_STUB_STATUS    the status oxa_detect_json returns (default 0)
 *   OXA_STUB_DOCUMENT  the document it hands out with status 0; without it,
 *                      status 0 comes with a null pointer
 */
#include <stdlib.h>
#include <string.h>

#include "oxa.h"

static char* handed_out;    /* the last document handed out and not freed */
static int frees_of_ours;   /* oxa_free calls with that document */
static int frees_of_others; /* oxa_free calls with any other non-null pointer */

int oxa_detect_json(char** out) {
  const char* status = getenv("OXA_STUB_STATUS");
  const char* document = getenv("OXA_STUB_DOCUMENT");
  int code = status != NULL ? atoi(status) : OXA_OK;
  if (out == NULL) return OXA_ERROR_NULL_ARGUMENT;
  *out = NULL;
  if (code != OXA_OK || document == NULL) return code;
  handed_out = malloc(strlen(document) + 1);
  if (handed_out == NULL) return OXA_ERROR_NO_MEMORY;
  strcpy(handed_out, document);
  *out = handed_out;
  return OXA_OK;
}

void oxa_free(char* ptr) {
  if (ptr == NULL) return;
  if (ptr == handed_out) {
    ++frees_of_ours;
    handed_out = NULL;
    free(ptr);
  } else {
    ++frees_of_others;
  }
}

const char* oxa_version(void) { return "0.0.0"; }

/* For the tests: what oxa_free was given so far. */
OXA_API int oxa_stub_frees_of_ours(void) { return frees_of_ours; }
OXA_API int oxa_stub_frees_of_others(void) { return frees_of_others; }
