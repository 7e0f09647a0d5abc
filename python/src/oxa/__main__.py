# SPDX-License-Identifier: MIT
"""python3 -m oxa: the verdict of ``oxa-detect --summary``, or with --quiet
only its exit status, as ``oxa-detect --quiet``."""

from __future__ import annotations

import argparse
import os
import sys

from . import Error, detect, summarize

# Exit statuses, as oxa-detect's: a failure is never 1, which --quiet uses
# for "not a virtual machine".
EXIT_VM = 0
EXIT_NOT_VM = 1
EXIT_FAILURE = 2


def _one_line(message: str) -> str:
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in message)


def _fail(message: str) -> int:
    sys.stderr.write(f"oxa: {_one_line(message)}\n")
    sys.stderr.flush()
    return EXIT_FAILURE


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m oxa",
        description="Tells whether this process runs in a virtual machine (liboxa).",
        epilog="Exit status: 0 success; 2 failure. With --quiet: 0 when the verdict is "
        '"likely" or "very_likely", 1 when it is not, 2 on failure.',
    )
    # The last one given applies, as with oxa-detect.
    parser.add_argument("--summary", dest="mode", action="store_const", const="summary", default="summary",
                        help="print a short human-readable verdict (the default)")
    parser.add_argument("--quiet", dest="mode", action="store_const", const="quiet",
                        help="print nothing: the exit status is the answer")
    args = parser.parse_args(argv)

    try:
        report = detect()
    except (Error, ValueError) as error:
        return _fail(str(error))
    except MemoryError:
        return _fail("out of memory")

    if args.mode == "quiet":
        return EXIT_VM if report.is_virtual_machine else EXIT_NOT_VM
    try:
        sys.stdout.buffer.write(summarize(report).encode("ascii"))
        sys.stdout.flush()
    except OSError as error:
        # Nothing more may go to a closed pipe, not even at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return _fail(f"cannot write: {error.strerror or error}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
