// SPDX-License-Identifier: MIT
/* A host built against an installed liboxa: one detection, then the version. */
#include <oxa.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  char* document = NULL;
  const int status = oxa_detect_json(&document);
  if (status != OXA_OK) {
    fprintf(stderr, "consumer: oxa_detect_json returned %d\n", status);
    return 1;
  }
  static const char opening[] = "{\"schema_version\":1";
  const int ok = strncmp(document, opening, sizeof opening - 1) == 0;
  if (!ok) fprintf(stderr, "consumer: unexpected document: %s\n", document);
  oxa_free(document);
  printf("%s\n", oxa_version());
  return ok ? 0 : 1;
}
