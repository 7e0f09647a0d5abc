#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build tree into a temporary prefix, moves the prefix elsewhere
# (everything installed must be relocatable), and builds and runs two hosts
# against it: a C and a C++ host through the CMake package, a C host through
# pkg-config.
#
# usage: consumers_test.sh BUILD_DIR LIBDIR CMAKE GENERATOR MAKE_PROGRAM CC SANITIZE_FLAGS VERSION CXX
set -euo pipefail

build=$1 libdir=$2 cmake=$3 generator=$4 make_program=$5 cc=$6 sanitize=$7 version=$8 cxx=$9
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/oxa-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$work/staging" >/dev/null
mv "$work/staging" "$work/prefix"
prefix=$work/prefix
lib=$prefix/$libdir

# The layout, the SONAME and its links.
for f in include/oxa.h share/oxa/report.schema.json bin/oxa-detect share/man/man1/oxa-detect.1 "$libdir/liboxa.so.$version" \
         "$libdir/pkgconfig/oxa.pc" "$libdir/cmake/oxa/oxaConfig.cmake" "$libdir/cmake/oxa/oxaConfigVersion.cmake" \
         "$libdir/cmake/oxa/oxaTargets.cmake"; do
  [[ -f $prefix/$f ]] || fail "not installed: $f"
done
# The bash completion, where bash-completion finds it by the command's name.
[[ -n $(find "$prefix/share" -path '*/bash-completion/completions/oxa-detect' -type f) ]] ||
  fail "not installed: the bash completion share/.../bash-completion/completions/oxa-detect"
[[ $(readlink "$lib/liboxa.so.1") == "liboxa.so.$version" ]] || fail "liboxa.so.1 does not link to liboxa.so.$version"
[[ $(readlink "$lib/liboxa.so") == liboxa.so.1 ]] || fail "liboxa.so does not link to liboxa.so.1"
readelf -d "$lib/liboxa.so.$version" | grep 'SONAME.*\[liboxa\.so\.1\]' >/dev/null || fail "SONAME is not liboxa.so.1"
! grep -q oxa_internal "$lib"/cmake/oxa/*.cmake || fail "the package refers to oxa_internal"

# The tool carries its own detection: it runs without the library.
! readelf -d "$prefix/bin/oxa-detect" | grep 'NEEDED.*liboxa' >/dev/null || fail "oxa-detect needs liboxa"
[[ $(env -u LD_LIBRARY_PATH "$prefix/bin/oxa-detect" --version) == "$version" ]] || fail "installed oxa-detect --version"

# The CMake package: find_package(oxa 1.0 CONFIG REQUIRED) and oxa::oxa.
"$cmake" -S "$here/consumers/cmake" -B "$work/cmake-build" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "the CMake consumer does not configure"; }
"$cmake" --build "$work/cmake-build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "the CMake consumer does not build"; }
for consumer in consumer consumer_cxx; do
  out=$("$work/cmake-build/$consumer") || fail "the CMake consumer $consumer failed"
  [[ $out == "$version" ]] || fail "the CMake consumer $consumer printed '$out'"
done

# Same major version only: a request for this major version is met up to
# the minor version installed; a request for another major version is not.
major=${version%%.*} minor=${version#*.}
minor=${minor%%.*}
for probe in "$major.$minor yes" "$major yes" "$major.$((minor + 1)) no" "$((major - 1)).9 no" "$((major + 1)).0 no"; do
  read -r request expected <<<"$probe"
  "$cmake" -S "$here/consumers/version_probe" -B "$work/probe-build" -G "$generator" \
    -DCMAKE_MAKE_PROGRAM="$make_program" -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" \
    -DOXA_REQUEST="$request" \
    >"$work/probe.log" 2>&1 || { cat "$work/probe.log"; fail "version probe $request"; }
  grep -q "oxa $request accepted: $expected\$" "$work/probe.log" ||
    { cat "$work/probe.log"; fail "find_package(oxa $request) accepted: $expected expected"; }
  rm -rf "$work/probe-build"
done

# pkg-config, with only the installed oxa.pc in sight.
export PKG_CONFIG_LIBDIR=$lib/pkgconfig PKG_CONFIG_PATH=
[[ $(pkg-config --modversion oxa) == "$version" ]] || fail "pkg-config --modversion oxa"
# shellcheck disable=SC2046,SC2086  # the flags are meant to split into words
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror $sanitize -o "$work/pc-consumer" "$here/consumers/consumer.c" \
  $(pkg-config --cflags --libs oxa) -Wl,-rpath,"$(pkg-config --variable=libdir oxa)" ||
  fail "the pkg-config consumer does not build"
out=$("$work/pc-consumer") || fail "the pkg-config consumer failed"
[[ $out == "$version" ]] || fail "the pkg-config consumer printed '$out'"

echo "installed, relocated and consumed through CMake and pkg-config"
