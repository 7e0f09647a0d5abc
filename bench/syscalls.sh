#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Lists the system calls one oxa-detect run makes for its detection, traced
# with strace, in three settings: in a container (a root with /.dockerenv in
# namespaces of its own, made by tests/container/in_root.sh), in a plain VM
# as root (this machine as it is), and as a normal user (nobody, by strace -u). Prints
# Markdown for the README. The process's start-up (the dynamic loader) and
# the report's write are left out: the list starts after the tool ignores
# SIGPIPE and stops at its first use of standard output.
#
#   bench/syscalls.sh [OXA_DETECT]   (default: build/tool/oxa-detect; run as root)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$root/build/tool/oxa-detect}")
command -v strace >/dev/null || { echo "needs strace (Debian package strace)" >&2; exit 1; }
[[ $(id -u) == 0 ]] || { echo "run as root: the settings need namespaces and a change of user" >&2; exit 1; }

# strace's lines of the detection alone, each cut to the call, its path or
# descriptor, and its result: `openat /proc/1/environ = EACCES`.
detection() {
  awk '/^rt_sigaction\(SIGPIPE/ { on = 1; next }
       /^(newfstatat|fstat|write|ioctl)\(1, / { exit }
       on' |
    sed -E -e 's/^([a-z0-9_]+)\((AT_FDCWD, )?("[^"]*"|[0-9]+)?.*\) += (-1 ([A-Z]+).*|([0-9]+).*)$/\1 \3 = \5\6/' \
      -e 's/"//g' -e 's/  +/ /g'
}

setting() {  # title, then the command that prints strace's trace on standard error
  local title=$1
  shift
  echo "**$title**"
  echo
  echo '```'
  "$@" 2>&1 >/dev/null | detection
  echo '```'
  echo
}

trace=(strace -qq -o /proc/self/fd/2)
setting "In a container (root, namespaces of its own, /.dockerenv)" \
  "$root/tests/container/in_root.sh" container "$tool" /usr/bin/strace -qq -o /proc/self/fd/2 /oxa-detect
setting "In a plain VM as root (this machine: /.dockerenv left by the image export)" "${trace[@]}" "$tool"
setting "As a normal user (nobody)" "${trace[@]}" -u nobody "$tool"
