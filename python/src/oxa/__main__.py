# SPDX-License-Identifier: MIT
"""python3 -m oxa: the answers of oxa-detect, through the library. The
verdict of ``oxa-detect --summary`` (the default), the report (--json), one
word (--brief) or only the exit status (--quiet), for the machine or, with
--container, for the container or compatibility layer around the process;
--version, the library's version."""

from __future__ import annotations

import argparse
import os
import sys
from typing import List, Optional, Tuple

from . import Error, Report, detect, detect_json, summarize, version

# Exit statuses, as oxa-detect's: a failure is never 1, which --quiet uses
# for "not a virtual machine".
EXIT_YES = 0
EXIT_NO = 1
EXIT_FAILURE = 2

# The word for a virtual machine whose findings name no vendor, as
# oxa-detect --brief prints it (and systemd-detect-virt).
OTHER_HYPERVISOR = "vm-other"
NONE = "none"


def answer(report: Report, container: bool = False) -> Tuple[str, int]:
    """The word and exit status of ``oxa-detect --brief`` (with
    ``--container`` when `container`)."""
    if container:
        named = report.containers + report.compatibility_layers
        return (named[0], EXIT_YES) if named else (NONE, EXIT_NO)
    status = EXIT_YES if report.is_virtual_machine else EXIT_NO
    if report.hypervisors:
        return report.hypervisors[0], status
    if report.is_virtual_machine:
        return OTHER_HYPERVISOR, status
    if report.host_hypervisors:
        return report.host_hypervisors[0], status
    return NONE, status


def _one_line(message: str) -> str:
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in message)


def _fail(message: str) -> int:
    sys.stderr.write(f"oxa: {_one_line(message)}\n")
    sys.stderr.flush()
    return EXIT_FAILURE


def _write(text: str) -> int:
    try:
        sys.stdout.buffer.write(text.encode("ascii"))
        sys.stdout.flush()
    except OSError as error:
        # Nothing more may go to a closed pipe, not even at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return _fail(f"cannot write: {error.strerror or error}")
    return 0


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="python3 -m oxa",
        allow_abbrev=False,
        description="Tells whether this process runs in a virtual machine (liboxa), as oxa-detect does.",
        epilog="Exit status: 0 success; 2 failure or usage error. With --quiet or --brief: 0 when the verdict is "
        '"likely" or "very_likely", 1 when it is not (with --container: 0 when a container or compatibility '
        "layer is named, 1 when none is), 2 on failure.",
    )
    # The last one given applies, as with oxa-detect.
    parser.add_argument("--summary", dest="mode", action="store_const", const="summary", default=None,
                        help="print a short human-readable verdict (the default)")
    parser.add_argument("--json", dest="mode", action="store_const", const="json",
                        help="print the report, one JSON document on one line")
    parser.add_argument("--brief", dest="mode", action="store_const", const="brief",
                        help=f'print one word: the hypervisor named, "{OTHER_HYPERVISOR}" or "{NONE}"')
    parser.add_argument("-q", "--quiet", dest="mode", action="store_const", const="quiet",
                        help="print nothing: the exit status is the answer")
    side = parser.add_mutually_exclusive_group()
    side.add_argument("--vm", dest="container", action="store_false", default=False,
                      help="answer --brief and --quiet for the machine (the default); alone, as --brief")
    side.add_argument("--container", dest="container", action="store_true",
                      help="answer --brief and --quiet for the container or compatibility layer around the "
                      "process; alone, as --brief")
    parser.add_argument("--version", action="store_true", help="print the library's version")
    return parser


def main(argv: Optional[List[str]] = None) -> int:
    arguments = sys.argv[1:] if argv is None else argv
    parser = _parser()
    args = parser.parse_args(arguments)
    sided = any(a in ("--vm", "--container") for a in arguments)
    if sided:
        if args.mode in ("summary", "json"):
            parser.error("--vm and --container answer with --brief or --quiet, not a report")
        args.mode = args.mode or "brief"
    mode = args.mode or "summary"

    try:
        if args.version:
            return _write(version() + "\n")
        if mode == "json":
            # The document as the library wrote it, checked first.
            text = detect_json()
            Report.from_json(text)
            return _write(text + "\n")
        report = detect()
    except Error as error:
        return _fail(str(error))
    except MemoryError:
        return _fail("out of memory")

    if mode in ("quiet", "brief"):
        word, status = answer(report, args.container)
        if mode == "brief":
            written = _write(word + "\n")
            if written != 0:
                return written
        return status
    return _write(summarize(report))


if __name__ == "__main__":
    sys.exit(main())
