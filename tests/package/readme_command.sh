#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one of the README's commands as written, in a fresh copy of the
# source tree, on this machine as it would be with only the packages of
# `scripts/install-deps` (the tool's): in a private mount namespace, the
# files of every other package of `scripts/install-deps --all` (GoogleTest,
# Google Benchmark, clang, pkgconf, Python, ...) are hidden. The command's
# output goes to LOG; exits with the command's status.
#
#   readme_command.sh SOURCE LOG 'MARKER'
#
# MARKER is the README's line just above the command's indented block.
# Needs root and unshare; exits 77 where there are none.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
log=$2
marker=$3
# shellcheck source-path=SCRIPTDIR source=../support/mount_namespace.sh
source "$source_dir/tests/support/mount_namespace.sh"
require_mount_namespace

# The indented block after the marker line, unindented.
command=$(awk -v marker="$marker" '
  found == 1 && /^    / { print substr($0, 5); seen = 1; next }
  found == 1 && seen { exit }
  $0 == marker { found = 1 }' "$source_dir/README.md")
[[ -n $command ]] || { echo "no command after '$marker' in README.md" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/oxa-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The tracked files as they stand in the work tree, without any build.
(cd "$source_dir" && git ls-files -z | xargs -0 cp --parents -t "$work")

# What to hide: the regular files of the other packages, and each of their
# folders that no package left visible has a file in, whole.
mapfile -t tool < <("$source_dir/scripts/install-deps" --print --tool)
mapfile -t all < <("$source_dir/scripts/install-deps" --print --all)
python3 - "$work/hidden" "${tool[@]}" -- "${all[@]}" <<'PY'
import os
import subprocess
import sys

out = sys.argv[1]
split = sys.argv.index("--")
tool, every = set(sys.argv[2:split]), sys.argv[split + 1:]
installed = subprocess.run(["dpkg-query", "-W", "-f", "${binary:Package} ${db:Status-Abbrev}\n"],
                           capture_output=True, text=True, check=True).stdout.split("\n")
installed = {line.split()[0] for line in installed if line.split()[1:2] == ["ii"]}


def installed_as(name):
    """The installed packages a name means: libgtest-dev is every
    architecture's, libgtest-dev:arm64 one."""
    return {p for p in installed if p == name or (":" not in name and p.split(":")[0] == name)}


hidden = set().union(*(installed_as(p) for p in every if p not in tool))


def files(package):
    done = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True, check=False)
    return [line for line in done.stdout.splitlines() if line.startswith("/")]


# Every folder a visible package holds something in stays.
kept = set()
info = "/var/lib/dpkg/info"
for name in os.listdir(info):
    if not name.endswith(".list") or name[:-5] in hidden or name[:-5].split(":")[0] in hidden:
        continue
    with open(os.path.join(info, name), encoding="utf-8", errors="replace") as f:
        for path in f.read().splitlines():
            while path not in ("", "/"):
                kept.add(path)
                path = os.path.dirname(path)
folders, plain = set(), set()
for package in hidden:
    for path in files(package):
        if os.path.isdir(path) and not os.path.islink(path):
            if path not in kept:
                folders.add(path)
        elif os.path.isfile(path) and not os.path.islink(path) and path not in kept:
            plain.add(path)
# A folder inside a hidden folder, or a file there, goes with it.
tops = sorted(f for f in folders if os.path.dirname(f) not in folders)
under = lambda p: any(p.startswith(t + "/") for t in tops)
with open(out, "w", encoding="utf-8") as f:
    for t in tops:
        f.write(f"d {t}\n")
    for p in sorted(plain):
        if not under(p):
            f.write(f"f {p}\n")
PY

set +e
unshare --mount /bin/bash -s "$work" "$command" >"$log" 2>&1 <<'INNER'
set -euo pipefail
work=$1
command=$2
mount --make-rprivate /
while read -r kind path; do
  case $kind in
    d) mount -t tmpfs -o ro,size=4k tmpfs "$path" ;;
    f) mount --bind /dev/null "$path" ;;
  esac
done <"$work/hidden"
# The check itself: GoogleTest is gone.
[[ ! -e /usr/include/gtest/gtest.h ]] || { echo "GoogleTest is still visible" >&2; exit 1; }
cd "$work"
bash -euo pipefail -c "$command"
INNER
status=$?
set -e
exit $status
