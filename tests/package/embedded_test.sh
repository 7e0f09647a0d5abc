#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the host of consumers/embedded, which adds liboxa's source tree with
# add_subdirectory and compiles it with a warning of its own on every C++
# file, and runs it. Only the host's program and what it links are built.
# Installing the host installs nothing of liboxa's.
#
# usage: embedded_test.sh SOURCE_DIR VERSION CMAKE GENERATOR MAKE_PROGRAM CC CXX
set -euo pipefail

source_dir=$1 version=$2 cmake=$3 generator=$4 make_program=$5 cc=$6 cxx=$7
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/oxa-embedded.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# No build type: the host leaves it empty, and so must liboxa.
"$cmake" -S "$here/consumers/embedded" -B "$work/build" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DOXA_SOURCE_DIR="$source_dir" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "the embedding host does not configure"; }
"$cmake" --build "$work/build" --target embedded_consumer >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "the embedding host does not build"; }
# The host's warning reached liboxa's sources and stayed a warning.
grep -q OXA_EMBEDDED_HOST "$work/build.log" || { cat "$work/build.log"; fail "the host's flags did not reach liboxa"; }
out=$("$work/build/embedded_consumer") || fail "the embedding host failed"
[[ $out == "$version" ]] || fail "the embedding host printed '$out'"
# The host has no install rules of its own, so its install must stay empty.
"$cmake" --install "$work/build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "the embedding host does not install"; }
installed=$(find "$work/prefix" ! -type d 2>/dev/null || true)
[[ -z $installed ]] || fail "installing the host installed liboxa's files: $installed"

echo "built from source inside a host, with the host's flags, and installed nothing"
