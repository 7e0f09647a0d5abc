# SPDX-License-Identifier: MIT
"""The summary and python -m oxa, byte for byte and exit status for exit
status against oxa-detect on every regression dump."""

from __future__ import annotations

import pytest

import oxa
from conftest import DUMPS, hostile_dump, replay, replayed_report, run_module, setting

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


@pytest.mark.parametrize("dump", CASES, indirect=True)
def test_module_prints_and_answers_as_the_tool(tool, dump):
    """python -m oxa over a library that hands out the dump's report."""
    env = {"OXA_LIBRARY": setting("OXA_TEST_STUB"), "OXA_STUB_STATUS": "0",
           "OXA_STUB_DOCUMENT": replayed_report(tool, dump)}
    for options in ([], ["--summary"], ["--quiet", "--summary"]):
        done = run_module(*options, env=env)
        assert (done.returncode, done.stdout, done.stderr) == (0, replay(tool, dump, "--summary").stdout, b"")
    for options in (["--quiet"], ["--summary", "--quiet"]):
        done = run_module(*options, env=env)
        expected = replay(tool, dump, "--quiet")
        assert (done.returncode, done.stdout, done.stderr) == (expected.returncode, b"", b"")


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
@pytest.mark.parametrize("options", [[], ["--quiet"]], ids=["summary", "quiet"])
def test_module_failure_exits_2_with_one_line(env, message, options):
    if env["OXA_LIBRARY"] == "stub":
        env = {**env, "OXA_LIBRARY": setting("OXA_TEST_STUB")}
    done = run_module(*options, env=env)
    assert done.returncode == 2 and done.stdout == b""
    lines = done.stderr.decode().splitlines()
    assert len(lines) == 1 and lines[0].startswith("oxa: ") and message in lines[0], done.stderr


def test_module_usage_error_exits_2_never_1():
    done = run_module("--brief")
    assert done.returncode == 2 and done.stdout == b""
