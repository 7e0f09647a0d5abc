# SPDX-License-Identifier: MIT
"""The README's Consumers section: its C and C++ hosts are the ones the
package tests build, its Python host and its commands run here."""

from __future__ import annotations

import os
import re
import subprocess
import sys

import pytest

from conftest import SOURCE, setting

CONSUMERS = SOURCE / "tests/package/consumers"


def blocks(language: str) -> list[str]:
    readme = (SOURCE / "README.md").read_text()
    section = readme.split("\n## Consumers\n", 1)[1].split("\n## ", 1)[0]
    return re.findall(rf"^```{language}\n(.*?)^```$", section, re.M | re.S)


def without_licence_line(text: str) -> str:
    """The file's code as the README shows it: without its SPDX line."""
    first, _, rest = text.partition("\n")
    return rest if "SPDX-License-Identifier" in first else text


@pytest.mark.parametrize("language, source", [("c", "consumer.c"), ("cpp", "consumer.cpp")])
def test_compiled_hosts_are_the_tested_consumers(language, source):
    assert blocks(language) == [without_licence_line((CONSUMERS / source).read_text())]


def test_cmake_lines_are_the_tested_consumers():
    tested = (CONSUMERS / "cmake/CMakeLists.txt").read_text()
    (example,) = blocks("cmake")
    for line in ("find_package(oxa 1.0 CONFIG REQUIRED)", "target_link_libraries(consumer_cxx PRIVATE oxa::oxa)"):
        assert line in example and line in tested


def test_python_host_prints_the_verdict(stub):
    document = (SOURCE / "tests/replay/expected/hyperv_kvm.json").read_text().removesuffix("\n")
    (program,) = blocks("python")
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, timeout=60, check=False,
                          env={**os.environ, "OXA_STUB_STATUS": "0", "OXA_STUB_DOCUMENT": document})
    assert (done.returncode, done.stderr) == (0, b"")
    assert done.stdout.decode() == (
        "very_likely (score 99)\n"
        "  cpu: hyperv weighs 50\n"
        "  cpu: kvm weighs 95\n"
        "  firmware: qemu weighs 85\n"
        "  timing: unknown weighs 0\n"
        "hypervisors: hyperv, kvm, qemu\n"
    )


def test_python_host_fails_in_one_line(stub):
    (program,) = blocks("python")
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, timeout=60, check=False,
                          env={**os.environ, "OXA_STUB_STATUS": "3"})
    assert done.returncode == 1 and done.stderr.decode().startswith("no verdict: oxa_detect_json failed with status 3")


def test_commands_run(tmp_path, tool, built_library):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "oxa-detect").symlink_to(tool)
    (bin_dir / "python3").symlink_to(sys.executable)
    (script,) = blocks("sh")
    done = subprocess.run(["bash", "-euo", "pipefail", "-c", script], capture_output=True, timeout=120, check=False,
                          env={**os.environ, "PATH": f"{bin_dir}{os.pathsep}{os.environ['PATH']}",
                               "OXA_LIBRARY": built_library})
    assert (done.returncode, done.stderr) == (0, b""), done.stderr
    lines = done.stdout.decode().splitlines()
    # Two summaries (the tool's, the module's), then the likelihood word.
    assert lines[0].startswith("likelihood: ") and sum(line.startswith("likelihood: ") for line in lines) == 2
    assert lines[-1] in {"very_likely", "likely", "possible", "not_detected", "unknown"}
