#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The README's install into /usr/local, then ldconfig, as a user runs them,
# in a private mount namespace where /usr/local and /etc (the loader's
# cache) are copies, so the machine keeps neither: then the README's C host,
# built with pkg-config and run without any run path or LD_LIBRARY_PATH, and
# `import oxa` without OXA_LIBRARY, find the installed liboxa.so.1.
#
#   system_install_test.sh BUILD_DIR SOURCE_DIR CC VERSION PYTHON
#
# Needs root and unshare; exits 77 where there are none.
# (No `grep -q` after a pipe: under pipefail the writer it leaves early may
# die of SIGPIPE and fail the check.)
set -euo pipefail
build=$(cd "$1" && pwd) source_dir=$(cd "$2" && pwd) cc=$3 version=$4 python=$5
# shellcheck source-path=SCRIPTDIR source=../support/mount_namespace.sh
source "$source_dir/tests/support/mount_namespace.sh"
require_mount_namespace

work=$(mktemp -d "${TMPDIR:-/tmp}/oxa-system-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
unshare --mount /bin/bash -s "$build" "$source_dir" "$cc" "$version" "$python" "$work" <<'INNER'
set -euo pipefail
build=$1 source_dir=$2 cc=$3 version=$4 python=$5 work=$6
fail() { echo "FAIL: $*" >&2; exit 1; }
mount --make-rprivate /
mount -t tmpfs tmpfs /usr/local
cp -a /etc "$work/etc"
mount --bind "$work/etc" /etc
unset LD_LIBRARY_PATH OXA_LIBRARY PKG_CONFIG_PATH PKG_CONFIG_LIBDIR

cmake --install "$build" --prefix /usr/local >/dev/null
ldconfig
ldconfig -p | grep 'liboxa\.so\.1 .*/usr/local/' >/dev/null || fail "ldconfig does not know liboxa.so.1"

# Under a system prefix oxa.pc names its folders as they are, not through
# pcfiledir.
[[ $(pkg-config --variable=prefix oxa) == /usr/local ]] || fail "oxa.pc's prefix is $(pkg-config --variable=prefix oxa)"
flags=$(pkg-config --cflags --libs oxa)
[[ $flags != *..* ]] || fail "pkg-config --cflags --libs oxa: $flags"

cd "$work"
cp "$source_dir/tests/package/consumers/consumer.c" .
# The README's command, word for word.
# shellcheck disable=SC2046  # the flags are meant to split into words
cc() { "$cc" "$@"; }
cc -std=c99 consumer.c $(pkg-config --cflags --libs oxa) -o consumer && out=$(./consumer) ||
  fail "the pkg-config consumer does not build or run"
[[ $out == "$version" ]] || fail "the consumer printed '$out'"
! readelf -d consumer | grep 'R.*PATH' >/dev/null || fail "the consumer has a run path"

out=$(PYTHONPATH=$source_dir/python/src "$python" -c 'import oxa; print(oxa.detect().module_version)') ||
  fail "import oxa does not find the installed library"
[[ $out == "$version" ]] || fail "oxa.detect() says version '$out'"
echo "installed into /usr/local; after ldconfig the C host and Python find liboxa.so.1"
INNER
