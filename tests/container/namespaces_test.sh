#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs oxa-detect chrooted into a small root that holds /.dockerenv:
#   container        in private PID, UTS and IPC namespaces: "docker"
#   leftover_marker  in the kernel's initial ones: no container at all
# The root is a tmpfs with the system's /usr bound in, made inside a mount
# namespace of its own, so nothing of it outlives the test.
#
#   namespaces_test.sh OXA_DETECT container|leftover_marker
set -euo pipefail

tool=$1
setting=$2
case $setting in
  container) namespaces=(--pid --uts --ipc --fork) expected='["docker"]' ;;
  leftover_marker) namespaces=() expected='[]' ;;
  *) echo "unknown setting $setting" >&2; exit 2 ;;
esac
if [[ $(id -u) != 0 ]] || ! command -v unshare >/dev/null; then
  echo "needs root and unshare: skipped"
  exit 77
fi
if ! unshare --mount true 2>/dev/null; then
  echo "no mount namespace to be had here: skipped"
  exit 77
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/oxa-namespaces.XXXXXX")
trap 'rmdir "$root"' EXIT
report=$(unshare --mount "${namespaces[@]}" /bin/bash -s "$tool" "$root" <<'INNER'
set -euo pipefail
tool=$1
root=$2
mount --make-rprivate /
mount -t tmpfs tmpfs "$root"
mkdir -p "$root/usr" "$root/proc" "$root/tmp" "$root/run" "$root/etc"
mount --rbind /usr "$root/usr"
# The merged-/usr links of Debian, or the folders where they are folders.
for dir in bin sbin lib lib64; do
  if [[ -L /$dir ]]; then
    ln -s "$(readlink "/$dir")" "$root/$dir"
  elif [[ -d /$dir ]]; then
    mkdir "$root/$dir"
    mount --rbind "/$dir" "$root/$dir"
  fi
done
# A fresh /proc shows the namespaces this process is in.
mount -t proc proc "$root/proc"
touch "$root/.dockerenv" "$root/oxa-detect"
mount --bind "$tool" "$root/oxa-detect"
exec chroot "$root" /oxa-detect
INNER
)
echo "$report"
containers=$(python3 -c 'import json, sys; print(json.dumps(json.load(sys.stdin)["containers"]))' <<<"$report")
if [[ $containers != "$expected" ]]; then
  echo "containers: $containers, expected $expected" >&2
  exit 1
fi
