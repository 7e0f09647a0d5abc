# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced by the tests that run oxa-detect in a mount namespace of their
# own: they need root and unshare, and skip (77) where there are none.
require_mount_namespace() {
  if [[ $(id -u) != 0 ]] || ! command -v unshare >/dev/null || ! unshare --mount true 2>/dev/null; then
    echo "needs root and mount namespaces (unshare): skipped" >&2
    exit 77
  fi
}
