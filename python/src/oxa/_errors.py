# SPDX-License-Identifier: MIT
"""What this package raises. Each shows as oxa.NAME, where a user finds it."""

from __future__ import annotations

from typing import Dict, Optional

__all__ = ["DetectionError", "Error", "LibraryError", "ReportError"]


class Error(Exception):
    """Anything this package raises about the library or its report."""


class LibraryError(Error):
    """liboxa could not be found or loaded, or is not liboxa."""

    def __init__(self, looked_for: str, reason: str) -> None:
        super().__init__(f"{looked_for}: {reason}")
        self.looked_for = looked_for


class DetectionError(Error):
    """oxa_detect_json gave no document; `status` is its status code."""

    _MEANINGS: Dict[int, str] = {1: "null argument", 2: "out of memory", 3: "internal failure"}

    def __init__(self, status: int, reason: Optional[str] = None) -> None:
        meaning = reason or self._MEANINGS.get(status, "unknown status")
        super().__init__(f"oxa_detect_json failed with status {status} ({meaning})")
        self.status = status


class ReportError(Error, ValueError):
    """A document that is no report: the message names the member at
    fault. Also a ValueError, as bad values are to Python."""


for _class in (Error, LibraryError, DetectionError, ReportError):
    _class.__module__ = "oxa"
