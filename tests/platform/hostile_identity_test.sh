#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One real detection with hostile identity files in the kernel's own place:
# in a private mount namespace, /sys/class/dmi/id holds a FIFO without a
# writer, a FIFO with a writer that never writes, and a symlink to
# /dev/zero. The run must end promptly with "firmware" "unavailable".
# Exits 77 (skipped) where this machine allows no mount namespace.
#
# usage: hostile_identity_test.sh OXA_DETECT
set -euo pipefail
tool=$(realpath "$1")

if ! unshare -m --propagation private true 2>/dev/null; then
  echo "skipped: no private mount namespace here (unshare -m refused)"
  exit 77
fi

# shellcheck disable=SC2016  # expanded inside the namespace
report=$(timeout 20 unshare -m --propagation private bash -c '
  set -euo pipefail
  mount -t tmpfs none /sys/class
  mkdir -p /sys/class/dmi/id
  cd /sys/class/dmi/id
  mkfifo sys_vendor product_name
  exec 3<>product_name
  ln -s /dev/zero product_version
  "$1"' _ "$tool") || { echo "FAIL: the run did not end well (status $?)"; exit 1; }

case $report in
  *'{"source":"firmware","status":"unavailable"}'*) echo "ok: $report" ;;
  *) echo "FAIL: firmware probe not unavailable: $report"; exit 1 ;;
esac
