# SPDX-License-Identifier: MIT
"""Shared fixtures. The tests run against a build of liboxa: the CTest entry
python_package (tests/python/) sets

    OXA_LIBRARY          the liboxa just built
    OXA_TEST_TOOL        the oxa-detect just built
    OXA_TEST_STUB        a stand-in liboxa whose answers the tests choose
    OXA_TEST_NO_SYMBOLS  a shared object without liboxa's functions
    OXA_TEST_VERSION     the project's version

and PYTHONPATH to python/src.
"""

from __future__ import annotations

import ctypes
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import oxa
import oxa._library

SOURCE = Path(__file__).resolve().parents[2]
DUMPS = sorted((SOURCE / "tests" / "replay" / "dumps").glob("*.json"))


def setting(name: str) -> str:
    value = os.environ.get(name)
    if not value:
        raise pytest.UsageError(f"{name} is not set: run these tests through CTest (see conftest.py)")
    return value


@pytest.fixture(scope="session")
def tool() -> str:
    return setting("OXA_TEST_TOOL")


@pytest.fixture(scope="session")
def built_library() -> str:
    return setting("OXA_LIBRARY")


def replay(tool: str, dump: Path, *options: str) -> subprocess.CompletedProcess[bytes]:
    return subprocess.run([tool, "--replay", str(dump), *options], capture_output=True, timeout=60, check=False)


def replayed_report(tool: str, dump: Path) -> str:
    """The report of a dump, as the tool prints it, without the newline."""
    done = replay(tool, dump)
    assert done.returncode == 0, done.stderr
    return done.stdout.decode("ascii").removesuffix("\n")


def hostile_dump(folder: Path) -> Path:
    """A dump whose container manager names itself with control bytes, a
    quote, a backslash and bytes beyond ASCII, which the report escapes."""
    dump = json.loads((SOURCE / "tests/replay/dumps/container_other_documented.json").read_text())
    for file in dump["linux"]["files"]:
        if file["path"] == "/run/systemd/container":
            file["hex"] = b'pr\x01o"t\\\xe9\x7f\xff x\n'.hex()
    path = folder / "hostile.json"
    path.write_text(json.dumps(dump))
    return path


@pytest.fixture
def use_library(monkeypatch: pytest.MonkeyPatch):
    """Points OXA_LIBRARY somewhere else for one test, with nothing loaded
    yet; the library loaded before comes back afterwards."""

    def use(path: str | None) -> None:
        monkeypatch.setattr(oxa._library, "_library", None)
        if path is None:
            monkeypatch.delenv("OXA_LIBRARY", raising=False)
        else:
            monkeypatch.setenv("OXA_LIBRARY", path)

    return use


class Stub:
    """The stand-in library: its answer is chosen through its environment,
    and it tells what oxa_free was given."""

    def __init__(self, path: str, monkeypatch: pytest.MonkeyPatch) -> None:
        self.path = path
        self._monkeypatch = monkeypatch
        # The same file loads once per process: this is the handle oxa uses.
        self._handle = ctypes.CDLL(path)

    def answer(self, status: int = 0, document: str | None = None) -> None:
        self._monkeypatch.setenv("OXA_STUB_STATUS", str(status))
        if document is None:
            self._monkeypatch.delenv("OXA_STUB_DOCUMENT", raising=False)
        else:
            self._monkeypatch.setenv("OXA_STUB_DOCUMENT", document)

    def frees(self) -> tuple[int, int]:
        """oxa_free calls with the document handed out, with anything else."""
        return self._handle.oxa_stub_frees_of_ours(), self._handle.oxa_stub_frees_of_others()


@pytest.fixture
def stub(use_library, monkeypatch: pytest.MonkeyPatch) -> Stub:
    path = setting("OXA_TEST_STUB")
    use_library(path)
    return Stub(path, monkeypatch)


def run_module(*args: str, env: dict[str, str] | None = None) -> subprocess.CompletedProcess[bytes]:
    """python -m oxa in a fresh interpreter (this one's, with its PYTHONPATH)."""
    return subprocess.run([sys.executable, "-m", "oxa", *args], capture_output=True, timeout=60, check=False,
                          env={**os.environ, **(env or {})})
