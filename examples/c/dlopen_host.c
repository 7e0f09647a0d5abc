// SPDX-License-Identifier: MIT
/*
 * dlopen_host: binds liboxa at run time by name, as a host that does not link
 * against it does, and prints the report of one detection.
 *
 *   cc -std=c99 -Wall -Wextra -Werror dlopen_host.c -o dlopen_host -ldl
 *   ./dlopen_host /usr/local/lib/liboxa.so.1
 *
 * Exit status: 0 success, 1 usage error, 2 the library could not be bound,
 * detection failed or the report could not be written.
 */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef int (*detect_json_fn)(char** out);
typedef void (*free_fn)(char* ptr);
typedef const char* (*version_fn)(void);

/* ISO C does not convert an object pointer to a function pointer; POSIX
 * guarantees that both have the same size and representation, so copy the
 * bytes. */
static int bind_function(void* library, const char* name, void* function, size_t size) {
  void* symbol = dlsym(library, name);
  if (symbol == NULL || size != sizeof symbol) {
    fprintf(stderr, "dlopen_host: %s: %s\n", name, symbol == NULL ? dlerror() : "unexpected pointer size");
    return 0;
  }
  memcpy(function, &symbol, size);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: dlopen_host PATH-TO-LIBOXA\n", stderr);
    return 1;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen_host: %s\n", dlerror());
    return 2;
  }
  detect_json_fn detect_json;
  free_fn release;
  version_fn version;
  if (!bind_function(library, "oxa_detect_json", &detect_json, sizeof detect_json) ||
      !bind_function(library, "oxa_free", &release, sizeof release) ||
      !bind_function(library, "oxa_version", &version, sizeof version)) {
    dlclose(library);
    return 2;
  }

  char* document = NULL;
  const int status = detect_json(&document);
  if (status != 0) {
    fprintf(stderr, "dlopen_host: oxa_detect_json failed with status %d\n", status);
    dlclose(library);
    return 2;
  }
  const int written = puts(document) >= 0 && fflush(stdout) == 0;
  /* The document came from the library's allocator: only oxa_free may release it. */
  release(document);
  /* The version text lives in the library: use it before dlclose. */
  fprintf(stderr, "liboxa %s\n", version());
  dlclose(library);
  if (!written) {
    fputs("dlopen_host: cannot write the report\n", stderr);
    return 2;
  }
  return 0;
}
