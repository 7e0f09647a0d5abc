# SPDX-License-Identifier: MIT
"""The short human-readable verdict, byte for byte as ``oxa-detect --summary``
prints it."""

from __future__ import annotations

from ._report import Report

__all__ = ["summarize"]

# The vendor lists in the order the summary shows them.
_SHOWN_LISTS = ("hypervisors", "host_hypervisors", "cloud_providers", "containers", "compatibility_layers")


def _printable(text: str) -> str:
    """Report texts are raw bytes: escaped as the report escapes them, so
    that no control byte reaches the terminal."""
    out = []
    for char in text:
        if char in '"\\':
            out.append("\\" + char)
        elif " " <= char <= "~":
            out.append(char)
        else:
            # A character of a report is one byte; one made by hand beyond
            # U+00FF stands for its UTF-8 bytes, as oxa-detect reads it.
            code = ord(char)
            raw = bytes([code]) if code <= 0xFF else char.encode("utf-8", "surrogatepass")
            out.extend(f"\\u00{b:02x}" for b in raw)
    return "".join(out)


def _table(rows: list[list[str]]) -> list[str]:
    """Columns padded to their widest cell plus two; the last not padded."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    lines = []
    for row in rows:
        cells = [cell.ljust(widths[i] + 2) for i, cell in enumerate(row[:-1])] + [row[-1]]
        lines.append("  " + "".join(cells))
    return lines


def summarize(report: Report) -> str:
    """Likelihood and score, the non-empty vendor lists, then one aligned
    line per finding and per probe; every line ends in a newline."""
    lines = [f"likelihood: {_printable(report.likelihood.value)} (score {report.score})"]
    for name in _SHOWN_LISTS:
        vendors = getattr(report, name)
        if vendors:
            lines.append(f"{name}: " + ", ".join(_printable(v) for v in vendors))
    if report.evidence:
        lines.append("evidence:")
        lines += _table(
            [
                [_printable(e.source), _printable(e.category), _printable(e.vendor), str(e.weight), _printable(e.detail)]
                for e in report.evidence
            ]
        )
    if report.probes:
        lines.append("probes:")
        lines += _table([[_printable(p.source), _printable(p.status)] for p in report.probes])
    return "".join(line + "\n" for line in lines)
