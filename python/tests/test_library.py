# SPDX-License-Identifier: MIT
"""Finding and calling liboxa: the library built here, a stand-in whose
answers the tests choose, and files that are no liboxa."""

from __future__ import annotations

import ctypes
import dataclasses
import _ctypes
import os
import pydoc
import re
import subprocess
import sys
import threading
import time

import pytest

import oxa
from conftest import SOURCE, replayed_report, setting


def test_detect_against_the_built_library(built_library):
    report = oxa.detect()
    assert isinstance(report, oxa.Report)
    assert report.module_version == oxa.version() == setting("OXA_TEST_VERSION") == oxa.__version__
    assert report.probes, "a run reports every probe"
    document = oxa.detect_json()
    assert document.startswith('{"schema_version":1,') and document.isprintable()
    assert oxa.Report.from_json(document).module_version == report.module_version


def test_threads_detect_at_once(built_library):
    threads, rounds = 8, 10
    start = threading.Barrier(threads)
    results: list[object] = []

    def work():
        start.wait()
        for _ in range(rounds):
            try:
                results.append(oxa.detect())
            except BaseException as error:  # noqa: BLE001 - any failure is the finding
                results.append(error)

    workers = [threading.Thread(target=work) for _ in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert len(results) == threads * rounds
    assert all(isinstance(r, oxa.Report) for r in results), [r for r in results if not isinstance(r, oxa.Report)]


def test_threads_load_the_library_once(built_library, use_library, monkeypatch):
    use_library(built_library)
    opened = []
    real = ctypes.CDLL

    def slow_open(*args, **kwargs):
        opened.append(args[0])
        time.sleep(0.05)  # a wide window for a second thread to open it too
        return real(*args, **kwargs)

    monkeypatch.setattr(ctypes, "CDLL", slow_open)
    threads = 8
    start = threading.Barrier(threads)
    versions: list[object] = []

    def work():
        start.wait()
        try:
            versions.append(oxa.version())
        except BaseException as error:  # noqa: BLE001
            versions.append(error)

    workers = [threading.Thread(target=work) for _ in range(threads)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    assert versions == [oxa.__version__] * threads
    assert opened == [os.path.abspath(built_library)]


def not_an_elf(folder):
    path = folder / "liboxa.so.1"
    path.write_text("not a shared object\n")
    return str(path)


def empty_file(folder):
    path = folder / "empty.so"
    path.touch()
    return str(path)


def fifo(folder):
    path = folder / "fifo.so"
    os.mkfifo(path)
    return str(path)


# (case, the OXA_LIBRARY path made in a temporary folder, what the message says)
WRONG_LIBRARIES = [
    ("missing file", lambda d: str(d / "nowhere" / "liboxa.so.1"), "No such file"),
    ("text file", not_an_elf, "cannot be loaded"),
    ("empty file", empty_file, "cannot be loaded"),
    ("folder", lambda d: str(d), "not a regular file"),
    ("FIFO, which would block the loader", fifo, "not a regular file"),
    ("character device", lambda d: os.devnull, "not a regular file"),
    ("shared object without the functions", lambda d: setting("OXA_TEST_NO_SYMBOLS"), "not liboxa"),
    ("another library", lambda d: _ctypes.__file__, "not liboxa"),
]


@pytest.mark.parametrize("make, reason", [c[1:] for c in WRONG_LIBRARIES], ids=[c[0] for c in WRONG_LIBRARIES])
def test_wrong_library_raises_library_error(tmp_path, use_library, make, reason):
    path = make(tmp_path)
    use_library(path)
    for call in (oxa.detect, oxa.detect_json, oxa.version):
        with pytest.raises(oxa.LibraryError) as caught:
            call()
        assert f"OXA_LIBRARY={path!r}" in str(caught.value) and reason in str(caught.value), str(caught.value)
        assert caught.value.looked_for == f"OXA_LIBRARY={path!r}"
        assert isinstance(caught.value, oxa.Error)


def test_a_bare_name_is_a_path_not_a_search(tmp_path, use_library, monkeypatch):
    # The loader would find libc.so.6 on its path; OXA_LIBRARY names a file.
    monkeypatch.chdir(tmp_path)
    use_library("libc.so.6")
    with pytest.raises(oxa.LibraryError, match="No such file"):
        oxa.version()


# The names the build gives the library on each platform.
BUILT_NAMES = {"linux": "liboxa.so.1", "darwin": "liboxa.1.dylib", "win32": "oxa.dll"}


@pytest.mark.parametrize("platform", sorted(BUILT_NAMES))
@pytest.mark.parametrize("value", [None, ""], ids=["unset", "empty"])
def test_without_oxa_library_the_system_library_is_asked_for(use_library, monkeypatch, value, platform):
    use_library(value)
    monkeypatch.setattr(sys, "platform", platform)
    asked = []

    def refuse(name, *args, **kwargs):
        asked.append(name)
        raise OSError(f"{name}: cannot open shared object file")

    monkeypatch.setattr(ctypes, "CDLL", refuse)
    with pytest.raises(oxa.LibraryError) as caught:
        oxa.detect()
    name = BUILT_NAMES[platform]
    assert asked == [name]
    assert caught.value.looked_for.startswith(name)


def test_a_failed_load_is_tried_again(tmp_path, use_library, monkeypatch, built_library):
    use_library(str(tmp_path / "missing.so"))
    with pytest.raises(oxa.LibraryError):
        oxa.version()
    monkeypatch.setenv("OXA_LIBRARY", built_library)
    assert oxa.version() == oxa.__version__


@pytest.mark.parametrize("status", [1, 2, 3, 7, -1])
def test_a_failing_call_raises_detection_error_with_its_status(stub, status):
    stub.answer(status, document='{"never":"read"}')
    before = stub.frees()
    for call in (oxa.detect, oxa.detect_json):
        with pytest.raises(oxa.DetectionError) as caught:
            call()
        assert caught.value.status == status
        assert f"status {status}" in str(caught.value)
    assert stub.frees() == before, "nothing was handed out, so nothing goes back"


def test_success_without_a_document_is_a_detection_error(stub):
    stub.answer(0, document=None)
    with pytest.raises(oxa.DetectionError) as caught:
        oxa.detect()
    assert caught.value.status == 0


def test_the_document_goes_back_to_oxa_free(stub, tool):
    document = replayed_report(tool, SOURCE / "tests/replay/dumps/hyperv_guest.json")
    stub.answer(0, document)
    ours, others = stub.frees()
    assert oxa.detect_json() == document
    assert oxa.detect() == oxa.Report.from_json(document)
    assert stub.frees() == (ours + 2, others)


@pytest.mark.parametrize("document, message", [
    ('{"schema_version":1}', "module_version: member missing"),
    ("not json", "the document is not JSON"),
    ("{\"detail\":\"\xe9\"}", "outside ASCII"),
], ids=["half a report", "not JSON", "beyond ASCII"])
def test_a_bad_document_from_the_library_is_freed_and_refused(stub, document, message):
    stub.answer(0, document)
    ours, others = stub.frees()
    with pytest.raises(ValueError, match=message):
        oxa.detect()
    assert stub.frees() == (ours + 1, others)


def test_exceptions_show_under_the_package_name(use_library):
    use_library("/nonexistent/liboxa.so.1")
    done = subprocess.run([sys.executable, "-c", "import oxa; oxa.detect()"], capture_output=True, text=True,
                          timeout=60, check=False, env={**os.environ, "OXA_LIBRARY": "/nonexistent/liboxa.so.1"})
    assert done.stderr.splitlines()[-1].startswith("oxa.LibraryError: "), done.stderr
    for error in (oxa.Error, oxa.LibraryError, oxa.DetectionError, oxa.ReportError):
        assert f"{error.__module__}.{error.__qualname__}" == f"oxa.{error.__name__}"
    assert issubclass(oxa.ReportError, oxa.Error) and issubclass(oxa.ReportError, ValueError)


def test_help_documents_every_field():
    for record in (oxa.Report, oxa.Evidence, oxa.Probe):
        documented = pydoc.render_doc(record, renderer=pydoc.plaintext)
        for field in dataclasses.fields(record):
            assert re.search(rf"^[\s|]*{field.name}: \S", documented, re.M), (record.__name__, field.name)
