#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks reports against doc/report.schema.json: the checked-in worked
examples, real reports of the tool and the example hosts, and broken documents
that the schema must turn away.

usage: report_test.py --schema FILE [--data DIR] [--tool EXE] [--fixtures DIR]
                      [--library LIB] [--c-host EXE] [--python-host SCRIPT]
                      [unittest arguments, e.g. a test class name]
"""

import argparse
import copy
import glob
import json
import os
import re
import subprocess
import sys
import unittest

from jsonschema import Draft202012Validator

ARGS = argparse.Namespace()
LIKELIHOODS = ("very_likely", "likely", "possible", "not_detected", "unknown")


def validator():
    with open(ARGS.schema, encoding="utf-8") as f:
        schema = json.load(f)
    Draft202012Validator.check_schema(schema)
    return Draft202012Validator(schema)


def errors(document):
    return [e.message for e in validator().iter_errors(document)]


def run(command, env=None):
    """Runs a command that must succeed; returns its standard output."""
    done = subprocess.run(command, capture_output=True, env=env, timeout=120, check=False)
    if done.returncode != 0:
        raise AssertionError(f"{command} exited with {done.returncode}: {done.stderr.decode(errors='replace')}")
    return done.stdout


class ReportChecks(unittest.TestCase):
    def assert_report(self, raw, what):
        """A printed report: one line of printable ASCII, members in the
        schema's order, valid against the schema."""
        self.assertTrue(raw.endswith(b"\n") and raw.count(b"\n") == 1, f"{what}: not one line")
        text = raw[:-1].decode("ascii")
        self.assertTrue(all(" " <= c <= "~" for c in text), f"{what}: not printable ASCII")
        pairs = json.loads(text, object_pairs_hook=lambda p: p)
        keys = [k for k, _ in pairs]
        with open(ARGS.schema, encoding="utf-8") as f:
            schema = json.load(f)
        self.assertEqual(keys, schema["required"], what)
        report = json.loads(text)
        self.assertEqual(errors(report), [], what)
        return report


class SchemaDocuments(ReportChecks):
    def worked_example(self):
        with open(os.path.join(ARGS.data, "worked_example_kvm.json"), encoding="ascii") as f:
            return json.load(f)

    def test_worked_examples_are_valid(self):
        files = sorted(glob.glob(os.path.join(ARGS.data, "*.json")))
        self.assertEqual(len(files), 2)
        for name in files:
            with self.subTest(file=os.path.basename(name)), open(name, "rb") as f:
                self.assert_report(f.read(), name)

    def test_edges_that_stay_valid(self):
        def detail_of_160_escaped_bytes(d):
            d["evidence"][0]["detail"] = "\u00c3" * 160

        def score_of_99(d):
            d["vm_score"] = 99

        def not_detected_at_zero(d):
            d.update(vm_score=0, vm_likelihood="not_detected", hypervisors=[], evidence=[])

        def unknown_vendor_in_evidence(d):
            d["evidence"][0]["vendor"] = "unknown"

        def negative_weight(d):
            d["evidence"][0]["weight"] = -1

        for change in (detail_of_160_escaped_bytes, score_of_99, not_detected_at_zero,
                       unknown_vendor_in_evidence, negative_weight):
            document = self.worked_example()
            change(document)
            with self.subTest(change.__name__):
                self.assertEqual(errors(document), [])

    def test_broken_documents_are_rejected(self):
        def evidence(d):
            return d["evidence"][0]

        cases = [
            ("missing member", lambda d: d.pop("duration_us")),
            ("extra member", lambda d: d.update(vm_note="x")),
            ("wrong likelihood word", lambda d: d.update(vm_likelihood="probable")),
            ("likelihood in other letter case", lambda d: d.update(vm_likelihood="Very_Likely")),
            ("schema_version 2", lambda d: d.update(schema_version=2)),
            ("score as text", lambda d: d.update(vm_score="95")),
            ("score above 99", lambda d: d.update(vm_score=100)),
            ("score below its likelihood", lambda d: d.update(vm_score=89)),
            ("unknown with a score", lambda d: d.update(vm_likelihood="unknown")),
            ("negative duration", lambda d: d.update(duration_us=-1)),
            ("fractional duration", lambda d: d.update(duration_us=1.5)),
            ("module_version not a version", lambda d: d.update(module_version="one")),
            ("unknown in a vendor list", lambda d: d["cloud_providers"].append("unknown")),
            ("vendor twice in a list", lambda d: d["hypervisors"].append("kvm")),
            ("vendor list of numbers", lambda d: d.update(containers=[1])),
            ("evidence member missing", lambda d: evidence(d).pop("detail")),
            ("evidence member extra", lambda d: evidence(d).update(note="x")),
            ("evidence source word", lambda d: evidence(d).update(source="smbios")),
            ("evidence weight as text", lambda d: evidence(d).update(weight="95")),
            ("evidence weight beyond 32 bits", lambda d: evidence(d).update(weight=2**31)),
            ("detail of 161 bytes", lambda d: evidence(d).update(detail="x" * 161)),
            ("probe member missing", lambda d: d["probes"][0].pop("status")),
            ("probe member extra", lambda d: d["probes"][0].update(weight=1)),
            ("probe status word", lambda d: d["probes"][0].update(status="failed")),
            ("probes not an array", lambda d: d.update(probes={})),
        ]
        for name, change in cases:
            document = self.worked_example()
            change(document)
            with self.subTest(name):
                self.assertNotEqual(errors(document), [])


class ReplayReports(ReportChecks):
    def test_every_expected_replay_report(self):
        """Every regression dump's report, arm64 and macOS ones included."""
        folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "replay", "expected")
        files = sorted(glob.glob(os.path.join(folder, "*.json")))
        self.assertTrue(files, f"no reports in {folder}")
        for name in files:
            with self.subTest(file=os.path.basename(name)), open(name, "rb") as f:
                self.assert_report(f.read(), name)


class ToolReport(ReportChecks):
    def test_real_run(self):
        self.assert_report(run([ARGS.tool]), "oxa-detect")


class SmbiosFixtureReports(ReportChecks):
    def test_every_fixture_table(self):
        tables = sorted(glob.glob(os.path.join(ARGS.fixtures or "", "smbios", "*.bin")))
        if not tables:
            if os.environ.get("OXA_REQUIRE_FIXTURES") == "1":
                self.fail(f"no SMBIOS fixtures under {ARGS.fixtures}/smbios")
            self.skipTest(f"shared SMBIOS fixtures not found under {ARGS.fixtures}/smbios")
        for table in tables:
            with self.subTest(table=os.path.basename(table)):
                self.assert_report(run([ARGS.tool, "--smbios", table]), table)


class CHost(ReportChecks):
    def test_prints_a_valid_report(self):
        self.assert_report(run([ARGS.c_host, ARGS.library]), "dlopen_host")

    def test_failures_are_reported(self):
        for args, status in (([], 1), ([ARGS.library, "extra"], 1), (["/nonexistent/liboxa.so.1"], 2)):
            with self.subTest(args=args):
                done = subprocess.run([ARGS.c_host] + args, capture_output=True, timeout=60, check=False)
                self.assertEqual(done.returncode, status)
                self.assertEqual(done.stdout, b"")
                self.assertNotEqual(done.stderr, b"")


class PythonHost(unittest.TestCase):
    def check_output(self, out):
        lines = out.decode("ascii").splitlines()
        self.assertIn(f"liboxa {ARGS.version}", lines)
        self.assertTrue(any(re.fullmatch(f"likelihood: ({'|'.join(LIKELIHOODS)})", s) for s in lines), lines)
        self.assertTrue(any(re.fullmatch(r"score: \d+", s) for s in lines), lines)

    def test_library_by_path(self):
        self.check_output(run([sys.executable, ARGS.python_host, ARGS.library]))

    def test_library_by_loader_search(self):
        env = dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(ARGS.library))
        self.check_output(run([sys.executable, ARGS.python_host], env=env))


def main():
    parser = argparse.ArgumentParser(add_help=False)
    for option in ("--schema", "--data", "--tool", "--fixtures", "--library", "--c-host", "--python-host",
                   "--version"):
        parser.add_argument(option)
    _, rest = parser.parse_known_args(namespace=ARGS)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
