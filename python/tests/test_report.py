# SPDX-License-Identifier: MIT
"""Report.from_json: the typed report of every regression dump equals its
document member for member and writes it back byte for byte; members in any
order and what a newer library adds are read; anything else that is not
such a document is refused with the member at fault named; likelihoods
order by strength."""

from __future__ import annotations

import dataclasses
import json
from pathlib import Path

import pytest

from conftest import DUMPS, SOURCE, hostile_dump, replayed_report
import oxa
from oxa import Category, Evidence, Likelihood, Probe, Report, ReportError, Source, Status

VENDOR_LISTS = ("hypervisors", "containers", "compatibility_layers", "host_hypervisors", "cloud_providers")


def assert_same(report: Report, document: dict) -> None:
    """Every member of the document, in the report's own types."""
    assert report.schema_version == document["schema_version"]
    assert report.module_version == document["module_version"]
    assert report.score == document["vm_score"]
    assert type(report.likelihood) is Likelihood and report.likelihood.value == document["vm_likelihood"]
    for name in VENDOR_LISTS:
        assert getattr(report, name) == tuple(document[name]), name
    assert len(report.evidence) == len(document["evidence"])
    for e, d in zip(report.evidence, document["evidence"]):
        assert type(e.source) is Source and type(e.category) is Category
        assert (e.source.value, e.category.value, e.vendor, e.weight, e.detail) == (
            d["source"], d["category"], d["vendor"], d["weight"], d["detail"])
    assert len(report.probes) == len(document["probes"])
    for p, d in zip(report.probes, document["probes"]):
        assert type(p.source) is Source and type(p.status) is Status
        assert (p.source.value, p.status.value) == (d["source"], d["status"])
    assert report.duration_us == document["duration_us"]


@pytest.mark.parametrize("dump", DUMPS, ids=lambda p: p.stem)
def test_every_dump_replayed_reads_member_for_member_and_round_trips(tool, dump):
    text = replayed_report(tool, dump)
    report = Report.from_json(text)
    assert_same(report, json.loads(text))
    assert report.to_json() == text
    assert report.to_dict() == json.loads(text)
    assert Report.from_dict(report.to_dict()) == report


def test_escaped_bytes_become_one_character_each(tool, tmp_path):
    text = replayed_report(tool, hostile_dump(tmp_path))
    report = Report.from_json(text)
    assert report.evidence[-1].detail == '/run/systemd/container: pr\x01o"t\\\xe9\x7f\xff x'
    assert report.to_json() == text
    assert report.evidence[-1].detail.encode("latin-1").endswith(b'pr\x01o"t\\\xe9\x7f\xff x')


def test_report_is_immutable_and_typed():
    report = Report.from_json(expected("kvm_guest"))
    with pytest.raises(dataclasses.FrozenInstanceError):
        report.score = 0  # type: ignore[misc]
    with pytest.raises(dataclasses.FrozenInstanceError):
        report.evidence[0].weight = 0  # type: ignore[misc]
    assert isinstance(report.hypervisors, tuple) and isinstance(report.evidence, tuple)
    assert report.evidence[0] == Evidence(Source.CPU, Category.GUEST, "kvm", 95, "KVMKVMKVM")
    assert report.probes[0] == Probe(Source.CPU, Status.OK)
    assert report.is_virtual_machine
    hash(report)  # frozen all the way down: usable as a key


def test_is_virtual_machine_follows_the_likelihood():
    base = Report.from_json(expected("kvm_guest"))
    answers = {Likelihood.VERY_LIKELY: True, Likelihood.LIKELY: True, Likelihood.POSSIBLE: False,
               Likelihood.NOT_DETECTED: False, Likelihood.UNKNOWN: False}
    for likelihood, answer in answers.items():
        assert dataclasses.replace(base, likelihood=likelihood).is_virtual_machine is answer, likelihood


def expected(name: str) -> str:
    return (SOURCE / "tests/replay/expected" / f"{name}.json").read_text().removesuffix("\n")


def document() -> dict:
    """A valid report to break: a KVM guest with evidence and probes."""
    return json.loads(expected("kvm_guest"))


def dumped(d) -> str:
    return json.dumps(d, separators=(",", ":"))


def edit(change):
    """The valid document, changed by `change`, as text."""
    def make():
        d = document()
        change(d)
        return dumped(d)
    return make


def text(replace_from: str, replace_to: str):
    """The valid document's text with one piece replaced."""
    def make():
        original = expected("kvm_guest")
        assert replace_from in original
        return original.replace(replace_from, replace_to, 1)
    return make


def without(name):
    return edit(lambda d: d.pop(name))


def setting(path, value):
    """Sets d[path...] = value."""
    def change(d):
        target = d
        for key in path[:-1]:
            target = target[key]
        target[path[-1]] = value
    return edit(change)


def reordered(first, second):
    def change(d):
        items = list(d.items())
        i, j = [k for k, (key, _) in enumerate(items) if key in (first, second)]
        items[i], items[j] = items[j], items[i]
        d.clear()
        d.update(items)
    return edit(change)


def evidence_reordered(d):
    e = d["evidence"][0]
    d["evidence"][0] = {"category": e["category"], "source": e["source"], "vendor": e["vendor"],
                        "weight": e["weight"], "detail": e["detail"]}


TOP = ("schema_version", "module_version", "vm_score", "vm_likelihood", *VENDOR_LISTS, "evidence", "probes",
       "duration_us")

# (case, document, what the message starts with)
BAD_DOCUMENTS = [
    *[(f"missing {name}", without(name), f"{name}: member missing") for name in TOP],
    ("member twice", text('"vm_score":95,', '"vm_score":95,"vm_score":95,'), "vm_score: member appears twice"),
    ("schema_version 2", setting(["schema_version"], 2), "schema_version:"),
    ("schema_version as text", setting(["schema_version"], "1"), "schema_version:"),
    ("schema_version true", setting(["schema_version"], True), "schema_version:"),
    ("schema_version 1.0", text('"schema_version":1,', '"schema_version":1.0,'), "schema_version:"),
    ("module_version number", setting(["module_version"], 1), "module_version:"),
    ("module_version two parts", setting(["module_version"], "1.0"), "module_version:"),
    ("module_version suffix", setting(["module_version"], "1.0.0-rc1"), "module_version:"),
    ("vm_score -1", setting(["vm_score"], -1), "vm_score:"),
    ("vm_score 100", setting(["vm_score"], 100), "vm_score:"),
    ("vm_score as text", setting(["vm_score"], "95"), "vm_score:"),
    ("vm_score true", setting(["vm_score"], True), "vm_score:"),
    ("vm_score fraction", text('"vm_score":95', '"vm_score":95.0'), "vm_score:"),
    ("vm_score exponent", text('"vm_score":95', '"vm_score":1e1'), "vm_score:"),
    ("vm_score null", setting(["vm_score"], None), "vm_score:"),
    ("vm_likelihood upper case", setting(["vm_likelihood"], "VERY_LIKELY"), "vm_likelihood: 'VERY_LIKELY' is no"),
    ("vm_likelihood empty", setting(["vm_likelihood"], ""), "vm_likelihood: '' is no likelihood word"),
    ("evidence source with blanks", setting(["evidence", 1, "source"], "g p u"), "evidence[1].source: 'g p u' is no"),
    ("probe status a number", setting(["probes", 2, "status"], 1), "probes[2].status: expected a string"),
    ("added member twice", text('"vm_score":95,', '"new":1,"new":2,"vm_score":95,'), "new: member appears twice"),
    ("member twice inside an added one", text('"vm_score":95,', '"new":{"a":1,"a":2},"vm_score":95,'),
     "new.a: member appears twice"),
    ("vm_likelihood number", setting(["vm_likelihood"], 3), "vm_likelihood:"),
    ("vm_likelihood against the score", setting(["vm_likelihood"], "likely"), "vm_likelihood:"),
    ("not_detected with a score", setting(["vm_likelihood"], "not_detected"), "vm_likelihood:"),
    *[(f"{name} not an array", setting([name], "kvm"), f"{name}:") for name in VENDOR_LISTS],
    *[(f"{name} item a number", setting([name], [1]), f"{name}[0]:") for name in VENDOR_LISTS],
    *[(f"{name} names unknown", setting([name], ["unknown"]), f"{name}[0]:") for name in VENDOR_LISTS],
    *[(f"{name} repeats", setting([name], ["kvm", "kvm"]), f"{name}[1]:") for name in VENDOR_LISTS],
    *[(f"{name} beyond one byte", setting([name], ["k\u0100"]), f"{name}[0]:") for name in VENDOR_LISTS],
    ("evidence an object", setting(["evidence"], {}), "evidence:"),
    ("evidence item an array", setting(["evidence", 0], []), "evidence[0]:"),
    ("evidence item a string", setting(["evidence", 1], "cpu"), "evidence[1]:"),
    ("evidence without detail", edit(lambda d: d["evidence"][1].pop("detail")), "evidence[1].detail: member missing"),
    ("evidence vendor number", setting(["evidence", 0, "vendor"], 5), "evidence[0].vendor:"),
    ("evidence weight beyond 32 bits", setting(["evidence", 0, "weight"], 2**31), "evidence[0].weight:"),
    ("evidence weight below 32 bits", setting(["evidence", 0, "weight"], -(2**31) - 1), "evidence[0].weight:"),
    ("evidence weight as text", setting(["evidence", 0, "weight"], "95"), "evidence[0].weight:"),
    ("evidence weight false", setting(["evidence", 0, "weight"], False), "evidence[0].weight:"),
    ("evidence detail 161 bytes", setting(["evidence", 0, "detail"], "x" * 161), "evidence[0].detail:"),
    ("evidence detail beyond one byte", setting(["evidence", 0, "detail"], "\u20ac"), "evidence[0].detail:"),
    ("evidence detail lone surrogate", text('"KVMKVMKVM"', '"\\ud800"'), "evidence[0].detail:"),
    ("evidence detail null", setting(["evidence", 0, "detail"], None), "evidence[0].detail:"),
    ("probes an object", setting(["probes"], {"cpu": "ok"}), "probes:"),
    ("probe without status", edit(lambda d: d["probes"][3].pop("status")), "probes[3].status: member missing"),
    ("probe status twice", text('"status":"ok"}', '"status":"ok","status":"ok"}'), "probes[0].status: member "),
    ("duration_us negative", setting(["duration_us"], -1), "duration_us:"),
    ("duration_us beyond 64 bits", setting(["duration_us"], 2**63), "duration_us:"),
    ("duration_us fraction", setting(["duration_us"], 0.5), "duration_us:"),
    ("duration_us null", setting(["duration_us"], None), "duration_us:"),
    ("an array", lambda: dumped([document()]), "the document: expected an object"),
    ("a string", lambda: '"report"', "the document: expected an object"),
    ("null", lambda: "null", "the document: expected an object"),
    ("empty", lambda: "", "the document is not JSON"),
    ("cut short", lambda: expected("kvm_guest")[:-1], "the document is not JSON"),
    ("two documents", lambda: expected("kvm_guest") * 2, "the document is not JSON"),
    ("NaN", text('"vm_score":95', '"vm_score":NaN'), "the document is not JSON"),
    ("Infinity", setting(["duration_us"], float("-inf")), "the document is not JSON"),
    ("a number of 5000 digits", text('"vm_score":95', '"vm_score":' + "9" * 5000), "the document is not JSON"),
    ("raw byte beyond ASCII", text("KVMKVMKVM", "KVM\u00e9"), "the document holds a character outside ASCII"),
    ("nested deeply", lambda: "[" * 200_000 + "]" * 200_000, "the document is nested too deeply"),
]


@pytest.mark.parametrize("make, message", [c[1:] for c in BAD_DOCUMENTS], ids=[c[0] for c in BAD_DOCUMENTS])
def test_bad_document_is_refused_naming_the_member(make, message):
    with pytest.raises(ReportError) as caught:
        Report.from_json(make())
    # One exception for every bad document, caught as the package's or as
    # Python's own kind of bad value.
    assert isinstance(caught.value, oxa.Error) and isinstance(caught.value, ValueError)
    assert str(caught.value).startswith(message), str(caught.value)


def sorted_members(d):
    """The document as jq -S writes it: every object's members sorted."""
    return json.dumps(d, sort_keys=True, indent=2)


def newer(d):
    """What a later minor version may add: members at every level, words of
    every kind."""
    d["firmware_layers"] = ["uefi"]
    d["vm_likelihood"] = "certain"
    d["evidence"][0].update(source="gpu", category="vm", confidence={"low": 1, "high": [2, 3]})
    d["probes"][0].update(status="partial", took_us=12)


# (case, document, check of the report read)
NEWER_DOCUMENTS = [
    ("members in another order", reordered("hypervisors", "containers"),
     lambda r: r.hypervisors == ("kvm",) and r.extra == {}),
    ("evidence members in another order", edit(evidence_reordered), lambda r: r.evidence[0].source is Source.CPU),
    ("every object sorted, as jq -S", lambda: sorted_members(document()), lambda r: r.evidence[0].vendor == "kvm"),
    ("members and words a newer library adds", edit(newer),
     lambda r: (r.extra == {"firmware_layers": ["uefi"]} and r.likelihood == "certain"
                and not r.likelihood.is_known and type(r.likelihood) is Likelihood and r.is_virtual_machine
                and r.evidence[0].source == "gpu" and type(r.evidence[0].source) is Source
                and r.evidence[0].category == "vm" and r.evidence[0].extra == {"confidence": {"low": 1, "high": [2, 3]}}
                and r.probes[0].status == "partial" and r.probes[0].extra == {"took_us": 12}
                and r.probes[1].status is Status.UNAVAILABLE)),
]


@pytest.mark.parametrize("make, check", [c[1:] for c in NEWER_DOCUMENTS], ids=[c[0] for c in NEWER_DOCUMENTS])
def test_any_order_and_what_a_newer_library_adds_are_read_and_kept(make, check):
    text = make()
    report = Report.from_json(text)
    assert check(report)
    # Nothing is lost on the way back: the same members, added ones too.
    assert report.to_dict() == json.loads(text)
    assert Report.from_json(report.to_json()) == report


def test_newer_words_stay_outside_the_enumerations():
    report = Report.from_json(edit(newer)())
    assert "partial" not in [s.value for s in Status] and "gpu" not in [s.value for s in Source]
    # The same word read twice is the same value.
    assert report.probes[0].status is Report.from_json(edit(newer)()).probes[0].status
    # Naming a word in code stays strict: a typo is no new word.
    with pytest.raises(ValueError):
        Status("partial")
    with pytest.raises(TypeError):
        _ = report.likelihood < Likelihood.LIKELY


def test_likelihoods_order_by_strength():
    weakest_first = [Likelihood.UNKNOWN, Likelihood.NOT_DETECTED, Likelihood.POSSIBLE, Likelihood.LIKELY,
                     Likelihood.VERY_LIKELY]
    assert sorted(Likelihood) == weakest_first
    assert sorted(weakest_first[::-1]) == weakest_first
    assert max(Likelihood) is Likelihood.VERY_LIKELY and min(Likelihood) is Likelihood.UNKNOWN
    for i, weaker in enumerate(weakest_first):
        for stronger in weakest_first[i + 1:]:
            assert weaker < stronger and weaker <= stronger and stronger > weaker and stronger >= weaker
            assert not weaker >= stronger and not stronger <= weaker
            # A word as text compares as the word, not by its letters.
            assert weaker < stronger.value and stronger.value > weaker
    assert Likelihood.POSSIBLE >= Likelihood.POSSIBLE and not Likelihood.POSSIBLE > Likelihood.POSSIBLE
    with pytest.raises(TypeError):
        _ = Likelihood.LIKELY < "probable"
    with pytest.raises(TypeError):
        _ = Likelihood.LIKELY < 3


def test_words_print_and_compare_as_their_text():
    for word in (Likelihood.VERY_LIKELY, Source.CPU, Category.GUEST, Status.OK):
        assert str(word) == f"{word}" == word.value and word == word.value and word.is_known


# Documents at the edges of what the library writes, all accepted.
GOOD_DOCUMENTS = [
    ("detail of 160 escaped bytes", setting(["evidence", 0, "detail"], "\u00c3" * 160)),
    ("weight at both 32-bit ends", edit(lambda d: (d["evidence"][0].update(weight=-(2**31)),
                                                   d["evidence"][1].update(weight=2**31 - 1)))),
    ("no evidence, no probes, unknown", edit(lambda d: d.update(vm_score=0, vm_likelihood="unknown", hypervisors=[],
                                                                evidence=[], probes=[]))),
    ("score 99", setting(["vm_score"], 99)),
    ("likely at 70", edit(lambda d: d.update(vm_score=70, vm_likelihood="likely"))),
    ("possible at 1", edit(lambda d: d.update(vm_score=1, vm_likelihood="possible"))),
    ("duration at the 64-bit end", setting(["duration_us"], 2**63 - 1)),
    ("indented, as --pretty", lambda: json.dumps(document(), indent=2)),
]


@pytest.mark.parametrize("make", [c[1] for c in GOOD_DOCUMENTS], ids=[c[0] for c in GOOD_DOCUMENTS])
def test_documents_at_the_edges_are_read(make):
    text = make()
    assert_same(Report.from_json(text), json.loads(text))


def test_bytes_are_read_as_ascii_and_other_types_refused():
    raw = expected("kvm_guest").encode("ascii")
    assert Report.from_json(raw) == Report.from_json(raw.decode("ascii"))
    with pytest.raises(ValueError, match="outside ASCII"):
        Report.from_json(raw.replace(b"KVMKVMKVM", b"KVM\xc3\xa9"))
    with pytest.raises(TypeError):
        Report.from_json(None)  # type: ignore[arg-type]
