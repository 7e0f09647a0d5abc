# SPDX-License-Identifier: MIT
"""The package's words against the report's schema, which the C++ tests
hold to the library's vocabulary: a word added on one side alone fails
here."""

from __future__ import annotations

import json
from typing import Any, List, Type

import pytest

import oxa
from oxa import _report

from conftest import SOURCE

SCHEMA = SOURCE / "doc" / "report.schema.json"


@pytest.fixture(scope="module")
def schema() -> Any:
    if not SCHEMA.is_file():
        pytest.skip(f"no {SCHEMA} beside the package's tests")
    return json.loads(SCHEMA.read_text(encoding="utf-8"))


def words(enumeration: Type[_report._Word]) -> List[str]:
    return [member.value for member in enumeration]


def test_enumerations_are_the_schemas_words_in_order(schema: Any) -> None:
    evidence = schema["$defs"]["evidence"]["properties"]
    assert words(oxa.Source) == evidence["source"]["enum"]
    assert words(oxa.Category) == evidence["category"]["enum"]
    assert words(oxa.Status) == schema["$defs"]["probe"]["properties"]["status"]["enum"]
    assert words(oxa.Likelihood) == schema["properties"]["vm_likelihood"]["enum"]


def test_vendor_lists_are_the_schemas(schema: Any) -> None:
    lists = [name for name, value in schema["properties"].items()
             if value.get("$ref") == "#/$defs/vendor_list"]
    assert list(_report._VENDOR_LISTS) == lists
