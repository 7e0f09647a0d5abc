#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# oxa-detect run for real in a root that holds /.dockerenv (in_root.sh):
#   container        in namespaces of its own: "docker"
#   leftover_marker  in the kernel's initial ones: no container at all
#
#   namespaces_test.sh OXA_DETECT container|leftover_marker
set -euo pipefail

tool=$1
case $2 in
  container) setting=container expected='["docker"]' ;;
  leftover_marker) setting=initial expected='[]' ;;
  *) echo "unknown case $2" >&2; exit 2 ;;
esac
report=$("$(dirname "$0")/in_root.sh" "$setting" "$tool")
echo "$report"
containers=$(python3 -c 'import json, sys; print(json.dumps(json.load(sys.stdin)["containers"]))' <<<"$report")
if [[ $containers != "$expected" ]]; then
  echo "containers: $containers, expected $expected" >&2
  exit 1
fi
