# SPDX-License-Identifier: MIT
"""Tells the calling process whether it runs in a virtual machine, under a
hypervisor or in a container, and which vendors are involved: liboxa's
report, typed.

    import oxa
    report = oxa.detect()
    if report.is_virtual_machine:
        print(report.likelihood, report.hypervisors)

The library is ``$OXA_LIBRARY`` when that is set (a path), else the
system's liboxa.so.1 (liboxa.1.dylib on macOS), loaded on first use.
"""

from ._errors import DetectionError, Error, LibraryError, ReportError
from ._library import detect_json, version
from ._report import Category, Evidence, Likelihood, Probe, Report, Source, Status
from ._summary import summarize

__version__ = "1.0.0"

# Shown, in help() and tracebacks, where users find them.
for _public in (Category, Evidence, Likelihood, Probe, Report, Source, Status):
    _public.__module__ = __name__
del _public

__all__ = [
    "Category",
    "DetectionError",
    "Error",
    "Evidence",
    "LibraryError",
    "Likelihood",
    "Probe",
    "Report",
    "ReportError",
    "Source",
    "Status",
    "detect",
    "detect_json",
    "summarize",
    "version",
]


def detect() -> Report:
    """Runs one detection on the calling thread and returns its report.

    Raises LibraryError when liboxa cannot be loaded, DetectionError when
    the call fails (its `status` is the library's status code), ReportError
    (also a ValueError) when the library's document is not a report; all
    three are oxa.Error."""
    return Report.from_json(detect_json())
