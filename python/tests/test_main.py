# SPDX-License-Identifier: MIT
"""The summary and python -m oxa, byte for byte and exit status for exit
status against oxa-detect on every regression dump."""

from __future__ import annotations

import subprocess

import pytest

import oxa
from conftest import DUMPS, SOURCE, hostile_dump, replay, replayed_report, run_module, setting

# The dumps, and one whose texts hold bytes the summary must escape.
CASES = [pytest.param(d, id=d.stem) for d in DUMPS] + [pytest.param(None, id="hostile bytes")]


@pytest.fixture
def dump(request, tmp_path):
    return request.param if request.param is not None else hostile_dump(tmp_path)


@pytest.mark.parametrize("dump", CASES, indirect=True)
def test_summary_is_the_tools(tool, dump):
    expected = replay(tool, dump, "--summary")
    assert expected.returncode == 0
    report = oxa.Report.from_json(replayed_report(tool, dump))
    assert oxa.summarize(report).encode("ascii") == expected.stdout


# python -m oxa's options, each with the tool's options that must answer the
# same: output and exit status. Every dump gets the first ones; the ways of
# writing them, one dump.
EVERY_DUMP = [([], ["--summary"]), (["--json"], []), (["--quiet"], ["--quiet"]), (["--brief"], ["--brief"]),
              (["--container"], ["--container"])]
SPELLINGS = [
    (["--summary"], ["--summary"]),
    (["--quiet", "--summary"], ["--summary"]),
    (["-q"], ["--quiet"]),
    (["--summary", "--quiet"], ["--quiet"]),
    (["--vm"], ["--vm"]),
    (["--vm", "--quiet"], ["--vm", "--quiet"]),
    (["--container", "-q"], ["--container", "--quiet"]),
    (["--brief", "--container"], ["--container", "--brief"]),
]


def stub_handing_out(report: str) -> dict:
    return {"OXA_LIBRARY": setting("OXA_TEST_STUB"), "OXA_STUB_STATUS": "0", "OXA_STUB_DOCUMENT": report}


def expect_same_answers(tool, dump, cases):
    env = stub_handing_out(replayed_report(tool, dump))
    for options, tool_options in cases:
        done = run_module(*options, env=env)
        expected = replay(tool, dump, *tool_options)
        assert (done.returncode, done.stdout, done.stderr) == (expected.returncode, expected.stdout, b""), options


@pytest.mark.parametrize("dump", CASES, indirect=True)
def test_module_prints_and_answers_as_the_tool(tool, dump):
    """python -m oxa over a library that hands out the dump's report."""
    expect_same_answers(tool, dump, EVERY_DUMP)


def test_module_options_are_spelled_as_the_tools(tool):
    # A container on a virtual machine: each side has its answer.
    expect_same_answers(tool, SOURCE / "tests/replay/dumps/docker_documented.json", SPELLINGS)


def test_module_names_a_vm_of_no_named_vendor_as_the_tool(tool, tmp_path):
    """The SMBIOS "virtual machine" bit alone: very likely, no vendor."""
    table = tmp_path / "vm-bit.bin"
    table.write_bytes(bytes([0, 0x14, 0, 0] + [0] * 15 + [0x10]) + b"\0\0\x7f\x04\0\0\0\0")
    report = subprocess.run([tool, "--smbios", str(table)], capture_output=True, timeout=60, check=True).stdout
    env = stub_handing_out(report.decode().removesuffix("\n"))
    for options in (["--brief"], ["--vm"], ["--container"]):
        done = run_module(*options, env=env)
        expected = subprocess.run([tool, "--smbios", str(table), *options], capture_output=True, timeout=60)
        assert (done.returncode, done.stdout) == (expected.returncode, expected.stdout), options
    assert run_module("--brief", env=env).stdout == b"vm-other\n"


def test_module_version_is_the_librarys(built_library):
    done = run_module("--version")
    assert (done.returncode, done.stdout.decode().strip()) == (0, setting("OXA_TEST_VERSION"))


def test_module_against_the_built_library(built_library):
    done = run_module()
    assert done.returncode == 0, done.stderr
    assert done.stdout.startswith(b"likelihood: ") and b"\nprobes:\n" in done.stdout
    assert run_module("--quiet").returncode in (0, 1)


# (case, environment, what the one line on standard error holds)
FAILURES = [
    ("no library", {"OXA_LIBRARY": "/nonexistent/liboxa.so.1"}, "OXA_LIBRARY='/nonexistent/liboxa.so.1'"),
    ("a path with a newline", {"OXA_LIBRARY": "/nonexistent/a\nb"}, "/a\\nb"),
    ("status 3", {"OXA_LIBRARY": "stub", "OXA_STUB_STATUS": "3"}, "status 3"),
    ("a bad document", {"OXA_LIBRARY": "stub", "OXA_STUB_STATUS": "0", "OXA_STUB_DOCUMENT": "{}"},
     "schema_version: member missing"),
]


@pytest.mark.parametrize("env, message", [c[1:] for c in FAILURES], ids=[c[0] for c in FAILURES])
@pytest.mark.parametrize("options", [[], ["--quiet"], ["--json"], ["--brief"], ["--container", "-q"]],
                         ids=["summary", "quiet", "json", "brief", "container"])
def test_module_failure_exits_2_with_one_line(env, message, options):
    if env["OXA_LIBRARY"] == "stub":
        env = {**env, "OXA_LIBRARY": setting("OXA_TEST_STUB")}
    done = run_module(*options, env=env)
    assert done.returncode == 2 and done.stdout == b""
    lines = done.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith("oxa: ") and message in lines[0], done.stderr


@pytest.mark.parametrize("options", [["--bogus"], ["--vm", "--container"], ["--summary", "--vm"],
                                     ["--container", "--json"], ["--cont"]])
def test_module_usage_error_exits_2_never_1(options):
    done = run_module(*options)
    assert done.returncode == 2 and done.stdout == b""
