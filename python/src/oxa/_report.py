# SPDX-License-Identifier: MIT
"""The report of one detection, read from the library's JSON document.

Every text of a report stands for bytes a probe read: the library writes
each byte outside printable ASCII as \\u00XX, so each character here is one
byte, U+0000 to U+00FF (``text.encode("latin-1")`` gives the bytes back).
"""

from __future__ import annotations

import dataclasses
import enum
import json
import re
from typing import Any

__all__ = ["Category", "Evidence", "Likelihood", "Probe", "Report", "Source", "Status"]


class Likelihood(enum.StrEnum):
    """The verdict in words; it follows the score."""

    VERY_LIKELY = "very_likely"  # score 90-99
    LIKELY = "likely"  # 70-89
    POSSIBLE = "possible"  # 1-69
    NOT_DETECTED = "not_detected"  # 0, and some probe ran
    UNKNOWN = "unknown"  # 0, and nothing could be checked


class Source(enum.StrEnum):
    """The probe that made a finding or reports an outcome."""

    CPU = "cpu"
    SYSTEM = "system"
    FIRMWARE = "firmware"
    TIMING = "timing"
    CONTAINER = "container"
    COMPATIBILITY = "compatibility"


class Category(enum.StrEnum):
    """What kind of thing a finding is; only guest findings weigh."""

    GUEST = "guest"
    HOST = "host"
    CLOUD = "cloud"
    DIAGNOSTIC = "diagnostic"
    CONTAINER = "container"
    COMPATIBILITY = "compatibility"


class Status(enum.StrEnum):
    """How one probe's attempt went."""

    OK = "ok"
    UNAVAILABLE = "unavailable"
    ERROR = "error"


@dataclasses.dataclass(frozen=True, slots=True)
class Evidence:
    """One finding: its probe, kind, vendor ("unknown" when it names none),
    weight and particulars (at most 160 bytes)."""

    source: Source
    category: Category
    vendor: str
    weight: int
    detail: str


@dataclasses.dataclass(frozen=True, slots=True)
class Probe:
    """The outcome of one probe."""

    source: Source
    status: Status


@dataclasses.dataclass(frozen=True, slots=True)
class Report:
    """One detection: the verdict, the vendors named, and every finding and
    probe outcome behind it, as the library reported them."""

    schema_version: int
    module_version: str
    score: int
    likelihood: Likelihood
    hypervisors: tuple[str, ...]
    containers: tuple[str, ...]
    compatibility_layers: tuple[str, ...]
    host_hypervisors: tuple[str, ...]
    cloud_providers: tuple[str, ...]
    evidence: tuple[Evidence, ...]
    probes: tuple[Probe, ...]
    duration_us: int

    @property
    def is_virtual_machine(self) -> bool:
        """True when the verdict is "likely" or "very_likely": the answer of
        ``oxa-detect --quiet``."""
        return self.likelihood in (Likelihood.LIKELY, Likelihood.VERY_LIKELY)

    @classmethod
    def from_json(cls, text: str | bytes) -> Report:
        """Reads a document as the library writes it.

        Raises ValueError, naming the member at fault, for anything else: a
        member missing, repeated, unknown or out of order, a value of the
        wrong type or out of range, an unknown word. Whitespace between
        tokens is allowed (``oxa-detect --pretty``)."""
        return _read_report(_parse(text))


# The members of each object, in the order the library writes them.
_REPORT_MEMBERS = (
    "schema_version",
    "module_version",
    "vm_score",
    "vm_likelihood",
    "hypervisors",
    "containers",
    "compatibility_layers",
    "host_hypervisors",
    "cloud_providers",
    "evidence",
    "probes",
    "duration_us",
)
_VENDOR_LISTS = ("hypervisors", "containers", "compatibility_layers", "host_hypervisors", "cloud_providers")
_EVIDENCE_MEMBERS = ("source", "category", "vendor", "weight", "detail")
_PROBE_MEMBERS = ("source", "status")

_SCHEMA_VERSION = 1
_MAX_DETAIL = 160
_INT32 = (-(2**31), 2**31 - 1)
_INT64_MAX = 2**63 - 1
_VERSION = re.compile(r"[0-9]+\.[0-9]+\.[0-9]+")
# Score range of each likelihood word.
_SCORES = {
    Likelihood.VERY_LIKELY: (90, 99),
    Likelihood.LIKELY: (70, 89),
    Likelihood.POSSIBLE: (1, 69),
    Likelihood.NOT_DETECTED: (0, 0),
    Likelihood.UNKNOWN: (0, 0),
}


class _Object:
    """A JSON object as its members in document order, so that repeated
    members and their order can be checked (a dict would hide both)."""

    __slots__ = ("pairs",)

    def __init__(self, pairs: list[tuple[str, Any]]) -> None:
        self.pairs = pairs


def _refuse_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a JSON number")


def _parse(text: str | bytes) -> Any:
    if isinstance(text, (bytes, bytearray)):
        try:
            text = bytes(text).decode("ascii")
        except UnicodeDecodeError as error:
            raise ValueError(f"the document holds a byte outside ASCII at offset {error.start}") from None
    elif not isinstance(text, str):
        raise TypeError(f"a report document is text, not {type(text).__name__}")
    # The library writes printable ASCII only; every other byte is escaped.
    if not text.isascii():
        offset = next(i for i, c in enumerate(text) if not c.isascii())
        raise ValueError(f"the document holds a character outside ASCII at offset {offset}")
    try:
        return json.loads(text, object_pairs_hook=_Object, parse_constant=_refuse_constant)
    except RecursionError:
        raise ValueError("the document is nested too deeply to be a report") from None
    except ValueError as error:
        raise ValueError(f"the document is not JSON: {error}") from None


def _shown(value: Any) -> str:
    """A value for an error message, cut short: a hostile document may hold
    megabytes in one member."""
    if isinstance(value, _Object):
        return "an object"
    text = repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


def _name(key: str) -> str:
    """A member name for an error message: as it stands when it is a plain
    word, else quoted with its control characters escaped."""
    return key if re.fullmatch(r"[A-Za-z0-9_]{1,40}", key) else _shown(key)


def _members(value: Any, names: tuple[str, ...], where: str) -> dict[str, Any]:
    """The members of an object that must hold exactly `names`, in order."""
    if not isinstance(value, _Object):
        raise ValueError(f"{where or 'the document'}: expected an object, got {_shown(value)}")
    prefix = f"{where}." if where else ""
    seen: dict[str, Any] = {}
    for key, member in value.pairs:
        if key in seen:
            raise ValueError(f"{prefix}{_name(key)}: member appears twice")
        if key not in names:
            raise ValueError(f"{prefix}{_name(key)}: unexpected member")
        seen[key] = member
    for name in names:
        if name not in seen:
            raise ValueError(f"{prefix}{name}: member missing")
    for key, name in zip(seen, names):
        if key != name:
            raise ValueError(f"{prefix}{key}: member out of order (expected {name} here)")
    return seen


def _integer(value: Any, low: int, high: int, where: str) -> int:
    # bool is an int to Python, never to JSON.
    if type(value) is not int:
        raise ValueError(f"{where}: expected an integer, got {_shown(value)}")
    if not low <= value <= high:
        raise ValueError(f"{where}: {value} is outside {low} to {high}")
    return value


def _text(value: Any, where: str) -> str:
    if not isinstance(value, str):
        raise ValueError(f"{where}: expected a string, got {_shown(value)}")
    # One character per byte: a code point beyond U+00FF (or a lone
    # surrogate) is nothing the library writes.
    if any(ord(c) > 0xFF for c in value):
        raise ValueError(f"{where}: holds a character beyond \\u00ff")
    return value


def _word(kind: type[enum.StrEnum], value: Any, where: str) -> Any:
    text = _text(value, where)
    try:
        return kind(text)
    except ValueError:
        raise ValueError(f"{where}: unknown {kind.__name__.lower()} {_shown(text)}") from None


def _list(value: Any, where: str) -> list[Any]:
    if not isinstance(value, list):
        raise ValueError(f"{where}: expected an array, got {_shown(value)}")
    return value


def _vendors(value: Any, where: str) -> tuple[str, ...]:
    vendors = []
    for i, item in enumerate(_list(value, where)):
        vendor = _text(item, f"{where}[{i}]")
        if vendor == "unknown":
            raise ValueError(f"{where}[{i}]: \"unknown\" names no vendor")
        if vendor in vendors:
            raise ValueError(f"{where}[{i}]: {_shown(vendor)} appears twice")
        vendors.append(vendor)
    return tuple(vendors)


def _evidence(value: Any, where: str) -> Evidence:
    m = _members(value, _EVIDENCE_MEMBERS, where)
    detail = _text(m["detail"], f"{where}.detail")
    if len(detail) > _MAX_DETAIL:
        raise ValueError(f"{where}.detail: {len(detail)} bytes, more than {_MAX_DETAIL}")
    return Evidence(
        source=_word(Source, m["source"], f"{where}.source"),
        category=_word(Category, m["category"], f"{where}.category"),
        vendor=_text(m["vendor"], f"{where}.vendor"),
        weight=_integer(m["weight"], *_INT32, f"{where}.weight"),
        detail=detail,
    )


def _probe(value: Any, where: str) -> Probe:
    m = _members(value, _PROBE_MEMBERS, where)
    return Probe(
        source=_word(Source, m["source"], f"{where}.source"),
        status=_word(Status, m["status"], f"{where}.status"),
    )


def _read_report(document: Any) -> Report:
    m = _members(document, _REPORT_MEMBERS, "")
    if type(m["schema_version"]) is not int or m["schema_version"] != _SCHEMA_VERSION:
        raise ValueError(f"schema_version: expected {_SCHEMA_VERSION}, got {_shown(m['schema_version'])}")
    module_version = _text(m["module_version"], "module_version")
    if not _VERSION.fullmatch(module_version):
        raise ValueError(f"module_version: {_shown(module_version)} is not MAJOR.MINOR.PATCH")
    score = _integer(m["vm_score"], 0, 99, "vm_score")
    likelihood = _word(Likelihood, m["vm_likelihood"], "vm_likelihood")
    low, high = _SCORES[likelihood]
    if not low <= score <= high:
        raise ValueError(f"vm_likelihood: {likelihood.value!r} does not go with vm_score {score}")
    lists = {name: _vendors(m[name], name) for name in _VENDOR_LISTS}
    evidence = tuple(_evidence(e, f"evidence[{i}]") for i, e in enumerate(_list(m["evidence"], "evidence")))
    probes = tuple(_probe(p, f"probes[{i}]") for i, p in enumerate(_list(m["probes"], "probes")))
    return Report(
        schema_version=_SCHEMA_VERSION,
        module_version=module_version,
        score=score,
        likelihood=likelihood,
        evidence=evidence,
        probes=probes,
        duration_us=_integer(m["duration_us"], 0, _INT64_MAX, "duration_us"),
        **lists,
    )
