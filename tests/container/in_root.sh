#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs COMMAND chrooted into a small root, with OXA_DETECT bound at
# /oxa-detect, in one of these settings:
#   container       a runtime's: an overlay root holding Docker's marker
#                   /.dockerenv, PID, UTS, IPC and mount namespaces of its own
#   pid_host        Docker's --pid=host over a storage that binds a directory
#                   as the root (vfs, LXC's dir): its own UTS and IPC
#   initial         an overlay root with the marker in the kernel's initial
#                   PID, UTS and IPC namespaces (a live system, an image
#                   export run as a plain system)
#   sandbox         bubblewrap's shape: a tmpfs root of a copied tree that
#                   kept the marker, PID, UTS and IPC namespaces of its own
#   no_proc         the container's root and namespaces, but no /proc (a
#                   chroot into a copied image)
#   lxd_container   LXD's socket in a folder bound at /dev/lxd, a PID
#                   namespace of its own, no marker
#   lxd_vm_sandbox  LXD's socket made in place, as its VMs' agent does, in a
#                   PID sandbox, no marker
# Everything is made inside the private mount namespace on a tmpfs, with the
# system's /usr bound in, so nothing of it outlives the run. Needs root and
# unshare; exits 77 where there are none.
#
#   in_root.sh SETTING OXA_DETECT [COMMAND...]   (default: /oxa-detect)
set -euo pipefail

setting=$1
tool=$2
shift 2
case $setting in
  container | no_proc | sandbox) namespaces=(--pid --uts --ipc --fork) ;;
  pid_host) namespaces=(--uts --ipc) ;;
  initial) namespaces=() ;;
  lxd_container | lxd_vm_sandbox) namespaces=(--pid --fork) ;;
  *) echo "unknown setting $setting" >&2; exit 2 ;;
esac
# shellcheck source-path=SCRIPTDIR source=../support/mount_namespace.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/mount_namespace.sh"
require_mount_namespace

root=$(mktemp -d "${TMPDIR:-/tmp}/oxa-root.XXXXXX")
trap 'rmdir "$root"' EXIT
unshare --mount "${namespaces[@]}" /bin/bash -s "$setting" "$tool" "$root" "${@:-/oxa-detect}" <<'INNER'
set -euo pipefail
setting=$1
tool=$2
root=$3
shift 3
mount --make-rprivate /
mount -t tmpfs tmpfs "$root"
# The new root: what the setting's storage makes of it.
case $setting in
  container | no_proc | initial)
    mkdir "$root/lower" "$root/upper" "$root/work" "$root/merged"
    mount -t overlay overlay -o "lowerdir=$root/lower,upperdir=$root/upper,workdir=$root/work" "$root/merged"
    new=$root/merged
    ;;
  pid_host)
    mkdir "$root/image" "$root/bound"
    mount --bind "$root/image" "$root/bound"
    new=$root/bound
    ;;
  *) new=$root ;;
esac
mkdir -p "$new/usr" "$new/proc" "$new/tmp" "$new/run" "$new/etc" "$new/dev"
mount --rbind /usr "$new/usr"
# The merged-/usr links of Debian, or the folders where they are folders.
for dir in bin sbin lib lib64; do
  if [[ -L /$dir ]]; then
    ln -s "$(readlink "/$dir")" "$new/$dir"
  elif [[ -d /$dir ]]; then
    mkdir "$new/$dir"
    mount --rbind "/$dir" "$new/$dir"
  fi
done
# A fresh /proc shows the namespaces this process is in.
[[ $setting == no_proc ]] || mount -t proc proc "$new/proc"
socket() { python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$1"; }
case $setting in
  lxd_container)
    mkdir "$root/devlxd" "$new/dev/lxd"
    socket "$root/devlxd/sock"
    mount --bind "$root/devlxd" "$new/dev/lxd"
    ;;
  lxd_vm_sandbox)
    mkdir "$new/dev/lxd"
    socket "$new/dev/lxd/sock"
    ;;
  *) touch "$new/.dockerenv" ;;
esac
touch "$new/oxa-detect"
mount --bind "$tool" "$new/oxa-detect"
exec chroot "$new" "$@"
INNER
