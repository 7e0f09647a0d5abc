// SPDX-License-Identifier: MIT
/*
 * Fault injection at the C allocator, for programs that must not abort when
 * malloc returns null: malloc_fault.c replaces malloc, calloc, realloc, free
 * and the aligned allocators of the program it is linked into (or preloaded
 * into) and hands every request on to glibc's own allocator.
 *
 * Unlike alloc_fault.h (operator new), this sees every allocation of every
 * library in the process, including those of a shared library that carries
 * its own copy of the C++ runtime: its operator new ends in malloc.
 *
 * Two ways to drive it:
 *  - linked into a test program: arm a window around the code under test
 *    with the functions below; the window also tracks which of its blocks
 *    are still live.
 *  - built with OXA_MALLOC_FAULT_FROM_ENVIRONMENT as a preloaded library:
 *    OXA_FAIL_MALLOC_AT=n makes the n-th allocation since process start
 *    fail; if OXA_FAIL_MALLOC_REPORT names a file, that file is created at
 *    the moment the failure is injected, so a driver can tell a run that
 *    failed an allocation from one that made fewer than n.
 *
 * Only one thread may allocate while a window is armed.
 */
#ifndef OXA_TEST_MALLOC_FAULT_H
#define OXA_TEST_MALLOC_FAULT_H

#ifdef __cplusplus
extern "C" {
#endif

struct oxa_malloc_fault_stats {
  unsigned long allocations; /* requests counted since the window opened */
  int injected;              /* 1 once the failure was injected */
  unsigned long live;        /* blocks from the window not freed yet */
  int overflow;              /* 1 if too many blocks were live to track */
};

/* Opens a window: counting restarts at zero, the fail_at-th request
 * (1-based) returns null, once; fail_at == 0 only counts. Blocks allocated
 * from now on are tracked until freed. */
void oxa_malloc_fault_arm(unsigned long fail_at);

/* Closes the window: nothing fails, nothing new is tracked. */
void oxa_malloc_fault_disarm(void);

/* What the current or last window saw. */
struct oxa_malloc_fault_stats oxa_malloc_fault_stats(void);

#ifdef __cplusplus
}
#endif

#endif /* OXA_TEST_MALLOC_FAULT_H */
