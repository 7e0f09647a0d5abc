// SPDX-License-Identifier: MIT
/*
 * A C host of the shared library whose malloc fails: for n = 1, 2, 3, ...
 * the n-th allocation of one oxa_detect_json call returns null. The call
 * must then report OXA_ERROR_NO_MEMORY with a null document, leave none of
 * the blocks it allocated behind, and neither throw nor abort. The sweep
 * ends at the first n the call never reaches, which must be a clean success.
 *
 * Every run is a child process of its own, so an abort is reported for its
 * n and the sweep goes on. One line per fault; the exit status is 1 if any.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "oxa.h"
#include "support/malloc_fault.h"

struct outcome {
  int status;
  int document_null;
  struct oxa_malloc_fault_stats stats;
};

/* In the child: one armed call, its outcome written to fd. */
static void run_child(unsigned long fail_at, int fd) {
  static char sentinel;
  struct outcome o;
  char* document = &sentinel; /* must be overwritten, with null on failure */
  oxa_malloc_fault_arm(fail_at);
  o.status = oxa_detect_json(&document);
  o.document_null = document == NULL;
  if (o.status == OXA_OK && document != NULL && document != &sentinel) oxa_free(document);
  oxa_malloc_fault_disarm();
  o.stats = oxa_malloc_fault_stats();
  _exit(write(fd, &o, sizeof o) == (ssize_t)sizeof o ? 0 : 1);
}

/* Runs one call in a child; 0 if it ended normally and reported. */
static int run(unsigned long fail_at, struct outcome* o, char* why, size_t why_size) {
  int fds[2];
  int wstatus;
  ssize_t got;
  pid_t pid;
  if (pipe(fds) != 0) {
    snprintf(why, why_size, "pipe: %s", strerror(errno));
    return 1;
  }
  pid = fork();
  if (pid < 0) {
    snprintf(why, why_size, "fork: %s", strerror(errno));
    close(fds[0]);
    close(fds[1]);
    return 1;
  }
  if (pid == 0) {
    close(fds[0]);
    run_child(fail_at, fds[1]);
  }
  close(fds[1]);
  got = read(fds[0], o, sizeof *o);
  close(fds[0]);
  if (waitpid(pid, &wstatus, 0) != pid) {
    snprintf(why, why_size, "waitpid: %s", strerror(errno));
    return 1;
  }
  if (WIFSIGNALED(wstatus)) {
    snprintf(why, why_size, "the call ended the process with signal %d (%s)", WTERMSIG(wstatus),
             strsignal(WTERMSIG(wstatus)));
    return 1;
  }
  if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0 || got != (ssize_t)sizeof *o) {
    snprintf(why, why_size, "the process exited with status %d before reporting",
             WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1);
    return 1;
  }
  return 0;
}

static int check(unsigned long n, const struct outcome* o) {
  int faults = 0;
  if (o->stats.overflow) {
    printf("n=%lu: too many live blocks to track\n", n);
    ++faults;
  }
  if (o->stats.injected) {
    if (o->status != OXA_ERROR_NO_MEMORY) {
      printf("n=%lu: allocation %lu failed but the status is %d, not %d\n", n, n, o->status,
             OXA_ERROR_NO_MEMORY);
      ++faults;
    }
    if (!o->document_null) {
      printf("n=%lu: allocation %lu failed but the document is not null\n", n, n);
      ++faults;
    }
  } else if (o->status != OXA_OK || o->document_null) {
    printf("n=%lu: no allocation failed, yet the status is %d and the document %s\n", n, o->status,
           o->document_null ? "null" : "set");
    ++faults;
  }
  if (o->stats.live != 0) {
    printf("n=%lu: %lu block(s) allocated during the call still live after it\n", n, o->stats.live);
    ++faults;
  }
  return faults;
}

int main(void) {
  struct outcome o;
  char why[256];
  unsigned long n;
  unsigned long faulty_runs = 0;
  unsigned long total;
  unsigned long last;

  /* A run without failure first: it must succeed cleanly, and its count
   * of allocations says how long the sweep will be. */
  if (run(0, &o, why, sizeof why) != 0) {
    printf("n=0 (no failure): %s\n", why);
    return 1;
  }
  if (check(0, &o) != 0) return 1;
  total = o.stats.allocations;
  if (total == 0) {
    printf("no allocation of the call was seen: malloc is not interposed\n");
    return 1;
  }
  printf("one oxa_detect_json call makes %lu allocations\n", total);
  fflush(stdout);

  /* Runs differ a little (what the machine answers), never twice over. */
  last = 2 * total + 16;
  for (n = 1; n <= last; ++n) {
    if (run(n, &o, why, sizeof why) != 0) {
      printf("n=%lu: %s\n", n, why);
      ++faulty_runs;
    } else {
      if (check(n, &o) != 0) ++faulty_runs;
      if (!o.stats.injected) break; /* the call made fewer than n allocations */
    }
    fflush(stdout);
  }
  if (n > last) {
    printf("the sweep did not end after %lu runs\n", last);
    return 1;
  }
  printf("%lu of %lu runs with a failed allocation were faulty\n", faulty_runs, n - 1);
  return faulty_runs == 0 ? 0 : 1;
}
