#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Whole-process time of oxa-detect, measured with hyperfine: process start,
# detection, the report and exit. Compared with `systemd-detect-virt --vm`
# when that is installed (goal: at most 0.30 of its time) and with a C
# program that does nothing, compiled here, the floor of any process. Prints
# hyperfine's table and the two ratios of medians; a benchmark, it fails
# only when it cannot measure.
#
#   bench/process.sh [OXA_DETECT]   (default: build/tool/oxa-detect)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/tool/oxa-detect}
if [[ ! -x $tool ]]; then
  echo "no oxa-detect at $tool: build it (cmake --build build --target oxa-detect) or give its path" >&2
  exit 1
fi
tool=$(realpath "$tool")
if ! command -v hyperfine >/dev/null; then
  echo "needs hyperfine (Debian package hyperfine; scripts/install-deps --all installs it)" >&2
  exit 1
fi
"$tool" >/dev/null || { echo "$tool fails on this machine" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/oxa-process.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf 'int main(void) { return 0; }\n' >"$work/nothing.c"
"${CC:-cc}" -O2 -o "$work/nothing" "$work/nothing.c"

commands=(-n oxa-detect "$tool" -n do-nothing "$work/nothing")
if command -v systemd-detect-virt >/dev/null; then
  commands+=(-n systemd-detect-virt "systemd-detect-virt --vm")
else
  echo "systemd-detect-virt is not installed (Debian package systemd): no comparison with it"
fi

# Each run takes a few milliseconds: 500 runs of each command stay well under
# 20 s. No shell between hyperfine and the commands (-N), whose start would
# be measured too; systemd-detect-virt exits 1 on bare metal (-i).
hyperfine -N -i --warmup 50 --runs 500 --export-json "$work/times.json" "${commands[@]}"

python3 - "$work/times.json" <<'EOF'
import json
import sys

with open(sys.argv[1]) as f:
    median = {r["command"]: r["median"] for r in json.load(f)["results"]}
tool = median["oxa-detect"]
print(f"oxa-detect median {tool * 1e3:.2f} ms")
if "systemd-detect-virt" in median:
    ratio = tool / median["systemd-detect-virt"]
    verdict = "met" if ratio <= 0.30 else "missed"
    print(f"oxa-detect / systemd-detect-virt --vm: {ratio:.2f}x (goal <= 0.30x, {verdict})")
print(f"oxa-detect / do-nothing: {tool / median['do-nothing']:.2f}x")
EOF
