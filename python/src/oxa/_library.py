# SPDX-License-Identifier: MIT
"""Finding liboxa and calling its three functions through ctypes."""

from __future__ import annotations

import ctypes
import os
import stat
import sys
import threading
from typing import Optional

from ._errors import DetectionError, Error, LibraryError, ReportError

__all__ = ["detect_json", "version"]


OXA_OK = 0
ENVIRONMENT = "OXA_LIBRARY"


# The library's file name per platform, as the build names it: the loader
# finds it by this name where the system's liboxa is installed.
_SYSTEM_NAMES = {"darwin": "liboxa.1.dylib", "win32": "oxa.dll"}


def _system_name() -> str:
    return _SYSTEM_NAMES.get(sys.platform, "liboxa.so.1")


class _Library:
    """The loaded library with its three functions declared."""

    def __init__(self, handle: ctypes.CDLL, looked_for: str) -> None:
        try:
            self.detect_json = handle.oxa_detect_json
            self.free = handle.oxa_free
            self.version = handle.oxa_version
        except AttributeError as error:
            raise LibraryError(looked_for, f"not liboxa: {error}") from None
        # The document is taken as a plain address (c_void_p), never as
        # c_char_p: ctypes would turn that into a bytes copy and lose the
        # pointer that oxa_free needs.
        self.detect_json.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
        self.detect_json.restype = ctypes.c_int
        self.free.argtypes = [ctypes.c_void_p]
        self.free.restype = None
        # Static text owned by the library: a bytes copy is right here.
        self.version.argtypes = []
        self.version.restype = ctypes.c_char_p
        self.handle = handle


def _open() -> _Library:
    path = os.environ.get(ENVIRONMENT, "")
    if not path:
        name = _system_name()
        looked_for = f"{name} (the system's liboxa; set {ENVIRONMENT} to a path to use another)"
        target = name
    else:
        looked_for = f"{ENVIRONMENT}={path!r}"
        # A path, never a bare name for the loader to search elsewhere.
        target = os.path.abspath(path)
        # dlopen would block on a FIFO and read a device: only a regular
        # file (symbolic links followed) goes to the loader.
        try:
            mode = os.stat(target).st_mode
        except OSError as error:
            raise LibraryError(looked_for, error.strerror or str(error)) from None
        if not stat.S_ISREG(mode):
            raise LibraryError(looked_for, "not a regular file")
    try:
        handle = ctypes.CDLL(target)
    except OSError as error:
        raise LibraryError(looked_for, f"cannot be loaded: {error}") from None
    return _Library(handle, looked_for)


_lock = threading.Lock()
_library: _Library | None = None


def _load() -> _Library:
    """The library, loaded on first use by one thread; a failed load is
    tried again on the next call."""
    global _library
    library = _library
    if library is None:
        with _lock:
            if _library is None:
                _library = _open()
            library = _library
    return library


def _document() -> bytes:
    library = _load()
    document = ctypes.c_void_p()
    status = library.detect_json(ctypes.byref(document))
    try:
        if status != OXA_OK:
            raise DetectionError(status)
        if not document.value:
            raise DetectionError(status, "no document")
        return ctypes.string_at(document.value)
    finally:
        # Null on every failure, which oxa_free accepts.
        library.free(document)


def detect_json() -> str:
    """Runs one detection and returns the report as the library wrote it."""
    raw = _document()
    try:
        return raw.decode("ascii")
    except UnicodeDecodeError as error:
        raise ReportError(f"the library's document holds a byte outside ASCII at offset {error.start}") from None


def version() -> str:
    """The library's version text, "MAJOR.MINOR.PATCH"."""
    text: Optional[bytes] = _load().version()
    if text is None:
        raise Error("oxa_version returned null")
    return text.decode("ascii", errors="backslashreplace")
