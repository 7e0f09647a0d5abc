#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs COMMAND chrooted into a small root that holds Docker's marker file
# /.dockerenv, with OXA_DETECT bound at /oxa-detect:
#   container  in PID, UTS, IPC and mount namespaces of its own
#   initial    in the kernel's initial PID, UTS and IPC namespaces (an image
#              export run as a plain system), a mount namespace of its own
# The root is a tmpfs with the system's /usr bound in and a fresh /proc,
# made inside the private mount namespace, so nothing of it outlives the
# run. Needs root and unshare; exits 77 where there are none.
#
#   in_root.sh container|initial OXA_DETECT [COMMAND...]   (default: /oxa-detect)
set -euo pipefail

setting=$1
tool=$2
shift 2
case $setting in
  container) namespaces=(--pid --uts --ipc --fork) ;;
  initial) namespaces=() ;;
  *) echo "unknown setting $setting" >&2; exit 2 ;;
esac
# shellcheck source-path=SCRIPTDIR source=../support/mount_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/mount_namespace.sh"
require_mount_namespace

root=$(mktemp -d "${TMPDIR:-/tmp}/oxa-root.XXXXXX")
trap 'rmdir "$root"' EXIT
unshare --mount "${namespaces[@]}" /bin/bash -s "$tool" "$root" "${@:-/oxa-detect}" <<'INNER'
set -euo pipefail
tool=$1
root=$2
shift 2
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
exec chroot "$root" "$@"
INNER
