// SPDX-License-Identifier: MIT
/*
 * The C allocator with one injected failure (see malloc_fault.h). Every
 * entry point hands on to glibc's allocator through the __libc_* names
 * glibc exports for this purpose, so no lookup (dlsym, which allocates) is
 * needed and a block from here can be freed there and back.
 */
#define _GNU_SOURCE
#include "malloc_fault.h"

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* ptr, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void __libc_free(void* ptr);

/* The replacements must be seen by every shared library of the process,
 * whatever the visibility the program is compiled with. */
#define OXA_INTERPOSE __attribute__((visibility("default")))

#ifdef OXA_MALLOC_FAULT_FROM_ENVIRONMENT
/* Preloaded: counting runs from the first request of the process. */
static int armed = 1;
#else
static int armed = 0;
#endif
static unsigned long counted;
static unsigned long fail_at;
static int injected;

/* The blocks of a window not freed yet: an open-addressed set of pointers,
 * linear probing, kept in static storage since it must not allocate. */
#define TRACK_SLOTS (1UL << 16)
#define TRACK_LIMIT (TRACK_SLOTS / 4 * 3)
static void* tracked[TRACK_SLOTS];
static int tracking;
static unsigned long live;
static int overflow;

static size_t home_slot(const void* ptr) {
  uintptr_t h = (uintptr_t)ptr >> 4;
  h ^= h >> 17;
  h *= (uintptr_t)0x9E3779B97F4A7C15ULL;
  return (size_t)(h >> 7) & (TRACK_SLOTS - 1);
}

static void track(void* ptr) {
  size_t i;
  if (!tracking || ptr == NULL) return;
  if (live >= TRACK_LIMIT) {
    overflow = 1;
    return;
  }
  for (i = home_slot(ptr); tracked[i] != NULL; i = (i + 1) & (TRACK_SLOTS - 1)) {
  }
  tracked[i] = ptr;
  ++live;
}

/* Forgets ptr; says whether it was a block of the window. Deletion shifts
 * later members of the probe run back, so lookups never need tombstones. */
static int untrack(void* ptr) {
  size_t i;
  size_t j;
  if (ptr == NULL || live == 0) return 0;
  for (i = home_slot(ptr); tracked[i] != ptr; i = (i + 1) & (TRACK_SLOTS - 1)) {
    if (tracked[i] == NULL) return 0;
  }
  for (j = i;;) {
    size_t k;
    j = (j + 1) & (TRACK_SLOTS - 1);
    if (tracked[j] == NULL) break;
    k = home_slot(tracked[j]);
    /* The member at j may stay if its home lies cyclically in (i, j]. */
    if (i <= j ? (i < k && k <= j) : (i < k || k <= j)) continue;
    tracked[i] = tracked[j];
    i = j;
  }
  tracked[i] = NULL;
  --live;
  return 1;
}

#ifdef OXA_MALLOC_FAULT_FROM_ENVIRONMENT
extern char** environ;
static int configured;
static const char* report_path;

/* Reads the settings at the first request that comes late enough for the
 * environment to be set up; getenv and strtoul do not allocate. */
static void configure(void) {
  const char* at;
  if (configured || environ == NULL) return;
  configured = 1;
  at = getenv("OXA_FAIL_MALLOC_AT");
  fail_at = at != NULL ? strtoul(at, NULL, 10) : 0;
  report_path = getenv("OXA_FAIL_MALLOC_REPORT");
}

static void announce(void) {
  const int saved = errno;
  if (report_path != NULL) {
    const int fd = open(report_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
  }
  errno = saved;
}
#else
static void configure(void) {}
static void announce(void) {}
#endif

/* Counts one request; true if it is the one to fail. */
static int fail_this(void) {
  configure();
  if (!armed) return 0;
  ++counted;
  if (injected || counted != fail_at) return 0;
  injected = 1;
  announce();
  errno = ENOMEM;
  return 1;
}

static int valid_alignment(size_t alignment) { return alignment != 0 && (alignment & (alignment - 1)) == 0; }

OXA_INTERPOSE void* malloc(size_t size) {
  void* ptr;
  if (fail_this()) return NULL;
  ptr = __libc_malloc(size);
  track(ptr);
  return ptr;
}

OXA_INTERPOSE void* calloc(size_t count, size_t size) {
  void* ptr;
  if (fail_this()) return NULL;
  ptr = __libc_calloc(count, size);
  track(ptr);
  return ptr;
}

OXA_INTERPOSE void* realloc(void* old, size_t size) {
  void* ptr;
  if (old != NULL && size == 0) {
    /* glibc frees the block and returns null: a release, not a request. */
    untrack(old);
    return __libc_realloc(old, 0);
  }
  if (fail_this()) return NULL; /* the old block stays as it was */
  ptr = __libc_realloc(old, size);
  /* A block moved out of the window's own stays untracked: it predates it. */
  if (ptr != NULL && (old == NULL || untrack(old))) track(ptr);
  return ptr;
}

OXA_INTERPOSE void free(void* ptr) {
  untrack(ptr);
  __libc_free(ptr);
}

OXA_INTERPOSE void* memalign(size_t alignment, size_t size) {
  void* ptr;
  if (fail_this()) return NULL;
  ptr = __libc_memalign(alignment, size);
  track(ptr);
  return ptr;
}

OXA_INTERPOSE void* aligned_alloc(size_t alignment, size_t size) {
  if (!valid_alignment(alignment)) {
    errno = EINVAL;
    return NULL;
  }
  return memalign(alignment, size);
}

OXA_INTERPOSE int posix_memalign(void** out, size_t alignment, size_t size) {
  void* ptr;
  if (!valid_alignment(alignment) || alignment % sizeof(void*) != 0) return EINVAL;
  if (fail_this()) return ENOMEM;
  ptr = __libc_memalign(alignment, size);
  if (ptr == NULL) return ENOMEM;
  track(ptr);
  *out = ptr;
  return 0;
}

void oxa_malloc_fault_arm(unsigned long n) {
  memset(tracked, 0, sizeof tracked);
  live = 0;
  overflow = 0;
  counted = 0;
  injected = 0;
  fail_at = n;
  tracking = 1;
  armed = 1;
}

void oxa_malloc_fault_disarm(void) {
  armed = 0;
  tracking = 0;
}

struct oxa_malloc_fault_stats oxa_malloc_fault_stats(void) {
  struct oxa_malloc_fault_stats stats;
  stats.allocations = counted;
  stats.injected = injected;
  stats.live = live;
  stats.overflow = overflow;
  return stats;
}
