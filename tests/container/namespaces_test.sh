#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# oxa-detect run for real in one of in_root.sh's settings, its containers
# against what that setting is:
#   container        a runtime's overlay root, namespaces of its own: "docker"
#   pid_host         --pid=host over a bound directory: "docker"
#   leftover_marker  the kernel's initial namespaces: no container at all
#   sandbox          a tmpfs root, namespaces of its own: none
#   no_proc          no /proc, so no namespaces or mounts to judge by: none
#   lxd_container    LXD's socket in its bound folder: "lxc"
#   lxd_vm_sandbox   the socket of an LXD VM's agent, a PID sandbox: none
#
#   namespaces_test.sh OXA_DETECT CASE
set -euo pipefail

tool=$1
case $2 in
  container | pid_host) setting=$2 expected='["docker"]' ;;
  leftover_marker) setting=initial expected='[]' ;;
  sandbox | no_proc | lxd_vm_sandbox) setting=$2 expected='[]' ;;
  lxd_container) setting=$2 expected='["lxc"]' ;;
  *) echo "unknown case $2" >&2; exit 2 ;;
esac
report=$("$(dirname "$0")/in_root.sh" "$setting" "$tool")
echo "$report"
containers=$(python3 -c 'import json, sys; print(json.dumps(json.load(sys.stdin)["containers"]))' <<<"$report")
if [[ $containers != "$expected" ]]; then
  echo "containers: $containers, expected $expected" >&2
  exit 1
fi
