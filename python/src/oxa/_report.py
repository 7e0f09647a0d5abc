# SPDX-License-Identifier: MIT
"""The report of one detection, read from the library's JSON document.

Every text of a report stands for bytes a probe read: the library writes
each byte outside printable ASCII as \\u00XX, so each character here is one
byte, U+0000 to U+00FF (``text.encode("latin-1")`` gives the bytes back).

A later minor version of the library may add members and words; they are
read, kept (``extra``, words outside the enumerations' members) and written
back, never refused. What schema 1 requires is required, with its types.
"""

from __future__ import annotations

import dataclasses
import enum
import json
import re
import types
from typing import Any, Callable, Dict, List, Mapping, Optional, Tuple, Type, TypeVar, Union

from ._errors import ReportError

__all__ = ["Category", "Evidence", "Likelihood", "Probe", "Report", "Source", "Status"]

_W = TypeVar("_W", bound="_Word")


class _Word(str, enum.Enum):
    """A word of the report: a str equal to its value, whose str() and
    format() are the word itself, as enum.StrEnum's (Python 3.11) are.

    A word a later library adds is read as a value of the same type that is
    no member of the enumeration (``list(Source)`` does not hold it), so a
    newer library's report still reads; ``is_known`` tells them apart."""

    def __str__(self) -> str:
        return str(self.value)

    def __format__(self, fmt: str) -> str:
        return format(str(self.value), fmt)

    @property
    def is_known(self) -> bool:
        """Whether this word is one of the enumeration's members."""
        return self._name_ in type(self).__members__

    @classmethod
    def _read(cls: Type[_W], text: str) -> _W:
        """The member named `text`, else a value of this type for it, made
        once per word."""
        try:
            return cls(text)
        except ValueError:
            pass
        # Kept on the class, not in the enumeration's own tables, so that
        # calling the class with an unknown word still fails.
        newer: Dict[str, _W] = cls.__dict__.get("_newer_words") or {}
        if "_newer_words" not in cls.__dict__:
            type.__setattr__(cls, "_newer_words", newer)
        word = newer.get(text)
        if word is None:
            word = str.__new__(cls, text)
            word._name_ = text
            word._value_ = text
            newer[text] = word
        return word


class Likelihood(_Word):
    """The verdict in words; it follows the score. Ordered by strength:
    UNKNOWN < NOT_DETECTED < POSSIBLE < LIKELY < VERY_LIKELY (both lowest
    have score 0; "unknown" says less). A word a newer library adds has no
    place in that order, and comparing it raises TypeError."""

    VERY_LIKELY = "very_likely"  # score 90-99
    LIKELY = "likely"  # 70-89
    POSSIBLE = "possible"  # 1-69
    NOT_DETECTED = "not_detected"  # 0, and some probe ran
    UNKNOWN = "unknown"  # 0, and nothing could be checked

    def _strength(self, other: object) -> Optional[Tuple[int, int]]:
        """Both strengths, or None where `other` is no likelihood. A str is
        compared as the word it is, never by its letters."""
        if isinstance(other, str) and not isinstance(other, Likelihood):
            try:
                other = Likelihood(other)
            except ValueError:
                raise TypeError(f"{other!r} is no likelihood word") from None
        if not isinstance(other, Likelihood):
            return None
        for word in (self, other):
            if word not in _STRENGTH:
                raise TypeError(f"{str(word)!r} is a likelihood word this package cannot order")
        return _STRENGTH[self], _STRENGTH[other]

    def __lt__(self, other: object) -> bool:
        pair = self._strength(other)
        if pair is None:
            return NotImplemented
        return pair[0] < pair[1]

    def __le__(self, other: object) -> bool:
        pair = self._strength(other)
        if pair is None:
            return NotImplemented
        return pair[0] <= pair[1]

    def __gt__(self, other: object) -> bool:
        pair = self._strength(other)
        if pair is None:
            return NotImplemented
        return pair[0] > pair[1]

    def __ge__(self, other: object) -> bool:
        pair = self._strength(other)
        if pair is None:
            return NotImplemented
        return pair[0] >= pair[1]


# Weakest first.
_STRENGTH = {
    Likelihood.UNKNOWN: 0,
    Likelihood.NOT_DETECTED: 1,
    Likelihood.POSSIBLE: 2,
    Likelihood.LIKELY: 3,
    Likelihood.VERY_LIKELY: 4,
}


class Source(_Word):
    """The probe that made a finding or reports an outcome."""

    CPU = "cpu"
    SYSTEM = "system"
    FIRMWARE = "firmware"
    DEVICES = "devices"
    TIMING = "timing"
    CONTAINER = "container"
    COMPATIBILITY = "compatibility"


class Category(_Word):
    """What kind of thing a finding is; only guest findings weigh."""

    GUEST = "guest"
    HOST = "host"
    CLOUD = "cloud"
    DIAGNOSTIC = "diagnostic"
    CONTAINER = "container"
    COMPATIBILITY = "compatibility"


class Status(_Word):
    """How one probe's attempt went."""

    OK = "ok"
    UNAVAILABLE = "unavailable"
    ERROR = "error"


def _no_extra() -> Mapping[str, Any]:
    return types.MappingProxyType({})


# `extra` takes part in ==, not in hash(): its values are JSON's lists and
# objects, which are not hashable.
def _extra_field() -> Any:
    return dataclasses.field(default_factory=_no_extra, hash=False, repr=False)


@dataclasses.dataclass(frozen=True)
class Evidence:
    """One finding.

    Attributes:
        source: the probe that made it.
        category: what kind of thing it names; only "guest" findings weigh.
        vendor: the vendor it names; "unknown" when it names none.
        weight: how strongly it points at a virtual machine, 0-99.
        detail: its particulars, at most 160 bytes.
        extra: members a newer library adds, by name, as JSON values.
    """

    source: Source
    category: Category
    vendor: str
    weight: int
    detail: str
    extra: Mapping[str, Any] = _extra_field()

    def to_dict(self) -> Dict[str, Any]:
        """The object as the report holds it, added members included."""
        return {"source": self.source.value, "category": self.category.value, "vendor": self.vendor,
                "weight": self.weight, "detail": self.detail, **self.extra}


@dataclasses.dataclass(frozen=True)
class Probe:
    """The outcome of one probe.

    Attributes:
        source: the probe.
        status: how its attempt went.
        extra: members a newer library adds, by name, as JSON values.
    """

    source: Source
    status: Status
    extra: Mapping[str, Any] = _extra_field()

    def to_dict(self) -> Dict[str, Any]:
        """The object as the report holds it, added members included."""
        return {"source": self.source.value, "status": self.status.value, **self.extra}


@dataclasses.dataclass(frozen=True)
class Report:
    """One detection: the verdict, the vendors named, and every finding and
    probe outcome behind it, as the library reported them.

    Attributes:
        schema_version: the report's schema, always 1 (member
            "schema_version").
        module_version: the library's version, "MAJOR.MINOR.PATCH".
        score: 0-99, the strength of the virtual-machine verdict (member
            "vm_score").
        likelihood: the verdict in words, which follows the score (member
            "vm_likelihood").
        hypervisors: vendors named by counted guest findings.
        containers: container runtimes and managers around the process.
        compatibility_layers: layers that translate for the process (wsl
            for WSL 1, rosetta).
        host_hypervisors: vendors of host findings (a Hyper-V root
            partition, Xen's control domain).
        cloud_providers: clouds named by the platform's identity strings.
        evidence: every finding, in the order recorded.
        probes: every probe's outcome.
        duration_us: whole microseconds the probes took.
        extra: members a newer library adds, by name, as JSON values.
    """

    schema_version: int
    module_version: str
    score: int
    likelihood: Likelihood
    hypervisors: Tuple[str, ...]
    containers: Tuple[str, ...]
    compatibility_layers: Tuple[str, ...]
    host_hypervisors: Tuple[str, ...]
    cloud_providers: Tuple[str, ...]
    evidence: Tuple[Evidence, ...]
    probes: Tuple[Probe, ...]
    duration_us: int
    extra: Mapping[str, Any] = _extra_field()

    @property
    def is_virtual_machine(self) -> bool:
        """True when the verdict is "likely" or "very_likely": the answer of
        ``oxa-detect --quiet``. A likelihood word this package does not
        know is judged by the score, on the same line."""
        if self.likelihood.is_known:
            return self.likelihood >= Likelihood.LIKELY
        return self.score >= _SCORES[Likelihood.LIKELY][0]

    @classmethod
    def from_json(cls, text: Union[str, bytes]) -> Report:
        """Reads a document as the library writes it, members in any order
        and with any whitespace between tokens (``oxa-detect --pretty``,
        ``jq -S``).

        Raises ReportError (an oxa.Error and a ValueError), naming the
        member at fault, for anything that is not such a report: a required
        member missing or repeated, a value of the wrong type or out of
        range. Members and words a later version adds are kept."""
        return cls.from_dict(_parse(text))

    @classmethod
    def from_dict(cls, document: Any) -> Report:
        """Reads a report already parsed from JSON (``json.loads``, a
        database's JSON column), as from_json does."""
        return _read_report(document)

    def to_dict(self) -> Dict[str, Any]:
        """The report as a JSON object, under the report's own member names
        and in its order, added members last."""
        return {
            "schema_version": self.schema_version,
            "module_version": self.module_version,
            "vm_score": self.score,
            "vm_likelihood": self.likelihood.value,
            **{name: list(getattr(self, name)) for name in _VENDOR_LISTS},
            "evidence": [e.to_dict() for e in self.evidence],
            "probes": [p.to_dict() for p in self.probes],
            "duration_us": self.duration_us,
            **self.extra,
        }

    def to_json(self) -> str:
        """The report as the library writes it: one line, no whitespace,
        printable ASCII (each character of a text, one byte, as \\u00XX
        outside it). A report the library wrote comes back byte for byte."""
        return _dump(self.to_dict())


# The members of each object; schema 1 requires them all.
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
# A word a newer library may add: what the library's words look like.
_NEW_WORD = re.compile(r"[a-z][a-z0-9_-]{0,63}")
# Score range of each likelihood word.
_SCORES = {
    Likelihood.VERY_LIKELY: (90, 99),
    Likelihood.LIKELY: (70, 89),
    Likelihood.POSSIBLE: (1, 69),
    Likelihood.NOT_DETECTED: (0, 0),
    Likelihood.UNKNOWN: (0, 0),
}


class _Object:
    """A JSON object as its members in document order, so that a member
    given twice can be refused where it stands (a dict keeps the last)."""

    __slots__ = ("pairs",)

    def __init__(self, pairs: List[Tuple[str, Any]]) -> None:
        self.pairs = pairs


def _refuse_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a JSON number")


def _parse(text: Union[str, bytes]) -> Any:
    if isinstance(text, (bytes, bytearray)):
        try:
            text = bytes(text).decode("ascii")
        except UnicodeDecodeError as error:
            raise ReportError(f"the document holds a byte outside ASCII at offset {error.start}") from None
    elif not isinstance(text, str):
        raise TypeError(f"a report document is text, not {type(text).__name__}")
    # The library writes printable ASCII only; every other byte is escaped.
    if not text.isascii():
        offset = next(i for i, c in enumerate(text) if not c.isascii())
        raise ReportError(f"the document holds a character outside ASCII at offset {offset}")
    try:
        return json.loads(text, object_pairs_hook=_Object, parse_constant=_refuse_constant)
    except RecursionError:
        raise ReportError("the document is nested too deeply to be a report") from None
    except ValueError as error:
        raise ReportError(f"the document is not JSON: {error}") from None


def _shown(value: Any) -> str:
    """A value for an error message, cut short: a hostile document may hold
    megabytes in one member."""
    if isinstance(value, (_Object, dict)):
        return "an object"
    text = repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


def _name(key: str) -> str:
    """A member name for an error message: as it stands when it is a plain
    word, else quoted with its control characters escaped."""
    return key if re.fullmatch(r"[A-Za-z0-9_]{1,40}", key) else _shown(key)


def _unique(value: _Object, where: str) -> Dict[str, Any]:
    """An object's members by name, in order, refusing a member given twice."""
    prefix = f"{where}." if where else ""
    members: Dict[str, Any] = {}
    for key, member in value.pairs:
        if key in members:
            raise ReportError(f"{prefix}{_name(key)}: member appears twice")
        members[key] = member
    return members


def _plain(value: Any, where: str) -> Any:
    """A parsed value with its objects as dicts, refusing a member given
    twice; a dict given by the caller is one already."""
    if isinstance(value, _Object):
        prefix = f"{where}." if where else ""
        return {key: _plain(member, f"{prefix}{_name(key)}") for key, member in _unique(value, where).items()}
    if isinstance(value, list):
        return [_plain(item, f"{where}[{i}]") for i, item in enumerate(value)]
    return value


def _members(value: Any, names: Tuple[str, ...], where: str) -> Tuple[Dict[str, Any], Mapping[str, Any]]:
    """The required members of an object, in any order, and the others (a
    newer library's), kept as plain JSON values."""
    if isinstance(value, _Object):
        value = _unique(value, where)
    if not isinstance(value, dict):
        raise ReportError(f"{where or 'the document'}: expected an object, got {_shown(value)}")
    prefix = f"{where}." if where else ""
    for name in names:
        if name not in value:
            raise ReportError(f"{prefix}{name}: member missing")
    extra = {key: _plain(member, f"{prefix}{_name(key)}") for key, member in value.items() if key not in names}
    return value, types.MappingProxyType(extra)


def _escaped(text: str) -> str:
    """A JSON string as the library writes it: printable ASCII as is, each
    other byte (a character up to U+00FF) as \\u00xx; a character beyond,
    which only an added member may hold, as JSON's \\uXXXX."""
    out = ['"']
    for char in text:
        code = ord(char)
        if char in '"\\':
            out.append("\\" + char)
        elif 0x20 <= code <= 0x7E:
            out.append(char)
        elif code <= 0xFFFF:
            out.append(f"\\u{code:04x}")
        else:
            out.append(json.dumps(char))  # a surrogate pair
            out[-1] = out[-1][1:-1]
    out.append('"')
    return "".join(out)


def _dump(value: Any) -> str:
    """JSON text without whitespace, strings escaped as the library does."""
    if isinstance(value, dict):
        return "{" + ",".join(_escaped(k) + ":" + _dump(v) for k, v in value.items()) + "}"
    if isinstance(value, (list, tuple)):
        return "[" + ",".join(_dump(v) for v in value) + "]"
    if isinstance(value, str):
        return _escaped(value)
    return json.dumps(value, allow_nan=False)


def _integer(value: Any, low: int, high: int, where: str) -> int:
    # bool is an int to Python, never to JSON.
    if type(value) is not int:
        raise ReportError(f"{where}: expected an integer, got {_shown(value)}")
    if not low <= value <= high:
        raise ReportError(f"{where}: {value} is outside {low} to {high}")
    return value


def _text(value: Any, where: str) -> str:
    if not isinstance(value, str):
        raise ReportError(f"{where}: expected a string, got {_shown(value)}")
    # One character per byte: a code point beyond U+00FF (or a lone
    # surrogate) is nothing the library writes.
    if any(ord(c) > 0xFF for c in value):
        raise ReportError(f"{where}: holds a character beyond \\u00ff")
    return value


def _word(kind: Type[_W], value: Any, where: str) -> _W:
    text = _text(value, where)
    if not _NEW_WORD.fullmatch(text):
        raise ReportError(f"{where}: {_shown(text)} is no {kind.__name__.lower()} word")
    return kind._read(text)


def _list(value: Any, where: str) -> List[Any]:
    if not isinstance(value, list):
        raise ReportError(f"{where}: expected an array, got {_shown(value)}")
    return value


def _vendors(value: Any, where: str) -> Tuple[str, ...]:
    vendors: List[str] = []
    for i, item in enumerate(_list(value, where)):
        vendor = _text(item, f"{where}[{i}]")
        if vendor == "unknown":
            raise ReportError(f"{where}[{i}]: \"unknown\" names no vendor")
        if vendor in vendors:
            raise ReportError(f"{where}[{i}]: {_shown(vendor)} appears twice")
        vendors.append(vendor)
    return tuple(vendors)


def _evidence(value: Any, where: str) -> Evidence:
    m, extra = _members(value, _EVIDENCE_MEMBERS, where)
    detail = _text(m["detail"], f"{where}.detail")
    if len(detail) > _MAX_DETAIL:
        raise ReportError(f"{where}.detail: {len(detail)} bytes, more than {_MAX_DETAIL}")
    return Evidence(
        source=_word(Source, m["source"], f"{where}.source"),
        category=_word(Category, m["category"], f"{where}.category"),
        vendor=_text(m["vendor"], f"{where}.vendor"),
        weight=_integer(m["weight"], *_INT32, f"{where}.weight"),
        detail=detail,
        extra=extra,
    )


def _probe(value: Any, where: str) -> Probe:
    m, extra = _members(value, _PROBE_MEMBERS, where)
    return Probe(
        source=_word(Source, m["source"], f"{where}.source"),
        status=_word(Status, m["status"], f"{where}.status"),
        extra=extra,
    )


def _items(read: Callable[[Any, str], Any], value: Any, where: str) -> Tuple[Any, ...]:
    return tuple(read(item, f"{where}[{i}]") for i, item in enumerate(_list(value, where)))


def _read_report(document: Any) -> Report:
    m, extra = _members(document, _REPORT_MEMBERS, "")
    if type(m["schema_version"]) is not int or m["schema_version"] != _SCHEMA_VERSION:
        raise ReportError(f"schema_version: expected {_SCHEMA_VERSION}, got {_shown(m['schema_version'])}")
    module_version = _text(m["module_version"], "module_version")
    if not _VERSION.fullmatch(module_version):
        raise ReportError(f"module_version: {_shown(module_version)} is not MAJOR.MINOR.PATCH")
    score = _integer(m["vm_score"], 0, 99, "vm_score")
    likelihood = _word(Likelihood, m["vm_likelihood"], "vm_likelihood")
    if likelihood.is_known:
        low, high = _SCORES[likelihood]
        if not low <= score <= high:
            raise ReportError(f"vm_likelihood: {likelihood.value!r} does not go with vm_score {score}")
    return Report(
        schema_version=_SCHEMA_VERSION,
        module_version=module_version,
        score=score,
        likelihood=likelihood,
        hypervisors=_vendors(m["hypervisors"], "hypervisors"),
        containers=_vendors(m["containers"], "containers"),
        compatibility_layers=_vendors(m["compatibility_layers"], "compatibility_layers"),
        host_hypervisors=_vendors(m["host_hypervisors"], "host_hypervisors"),
        cloud_providers=_vendors(m["cloud_providers"], "cloud_providers"),
        evidence=_items(_evidence, m["evidence"], "evidence"),
        probes=_items(_probe, m["probes"], "probes"),
        duration_us=_integer(m["duration_us"], 0, _INT64_MAX, "duration_us"),
        extra=extra,
    )
