#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""What may include what: the README's Layout table, enforced.

The table in the README's "## Layout" section is the one statement of the
rules: each row names a folder (or one header) and what its files may
include besides the standard library and the system's headers. This test
reads that table and fails on any include of the product code that it does
not allow, on a product file that no row covers, and on a row whose folder
holds nothing. So the README cannot drift from the code, and product code
cannot start including the test suite.

    include_rules_test.py ROOT
"""

import re
import sys
import unittest
from pathlib import Path

ROOT = Path(sys.argv.pop(1) if len(sys.argv) > 1 else ".").resolve()

# Where a quoted include is looked for, in this order, after the including
# file's own folder: what the build puts on the include path. The OS folders
# stand for the one the build picks; the version header is generated.
SEARCH = ["include", "src", "tool", "tests", "fuzz", "src/platform/linux", "src/platform/macos"]
GENERATED = {"core/version.h": "src/core/version.h.in"}

# Product code: what the rules bind (python/ holds no C or C++: only that a
# row covers it). Tests, fuzz targets, benchmarks and examples may include
# anything.
PRODUCT = ("include/", "src/", "tool/", "python/")


def layout_rows(readme: str):
    section = readme.split("\n## Layout\n", 1)[1].split("\n## ", 1)[0]
    rows = {}
    for line in section.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) != 3 or not cells[0].startswith("`"):
            continue
        where = cells[0].strip("`")
        allowed = re.findall(r"`([^`]+)`", cells[2])
        rows[where] = allowed
    return rows


def covers(pattern: str, path: str) -> bool:
    """A folder ("src/core/") covers what is below it; "src/platform/*.h"
    the headers directly in that folder; anything else is one file."""
    if pattern.endswith("/*.h"):
        folder = pattern[: -len("*.h")]
        return path.startswith(folder) and "/" not in path[len(folder):] and path.endswith(".h")
    if pattern.endswith("/"):
        return path.startswith(pattern)
    return path == pattern


def row_of(rows, path: str):
    """The most specific row that covers the file."""
    best = None
    for pattern in rows:
        if covers(pattern, path) and (best is None or specificity(pattern) > specificity(best)):
            best = pattern
    return best


def specificity(pattern: str):
    return (0 if pattern.endswith("/") else 1, len(pattern))


def resolve(including: Path, name: str):
    if name in GENERATED:
        return GENERATED[name]
    for folder in [including.parent] + [ROOT / s for s in SEARCH]:
        candidate = folder / name
        if candidate.is_file():
            return candidate.resolve().relative_to(ROOT).as_posix()
    return None


def product_files():
    """Every file of the product folders (walked, not asked of git: a package
    build runs the tests in an export without .git)."""
    return sorted(p.relative_to(ROOT).as_posix() for top in PRODUCT for p in (ROOT / top).rglob("*")
                  if p.is_file())


def product_sources():
    return [p for p in product_files() if p.endswith((".h", ".cpp", ".c"))]


class IncludeRules(unittest.TestCase):
    def setUp(self):
        self.rows = layout_rows((ROOT / "README.md").read_text())
        self.assertTrue(self.rows, "no Layout table in the README")

    def test_every_include_is_allowed(self):
        faults = []
        for path in product_sources():
            row = row_of(self.rows, path)
            if row is None:
                faults.append(f"{path}: no row of the Layout table covers it")
                continue
            text = (ROOT / path).read_text(errors="replace")
            for name in re.findall(r'^\s*#\s*include\s+"([^"]+)"', text, re.M):
                target = resolve(ROOT / path, name)
                if target is None:
                    faults.append(f'{path}: "{name}" is not in the tree')
                elif not self.allowed(row, target):
                    faults.append(f'{path}: includes "{name}" ({target}), which {row} may not')
        self.assertEqual(faults, [], "\n" + "\n".join(faults))

    def allowed(self, row, target):
        """A file belongs to its most specific row: naming a row allows that
        row's files only (so `src/platform/*.h` does not let in
        `src/platform/native.h`, which has a row of its own), while naming a
        folder that is no row, such as `src/`, allows all below it."""
        own = row_of(self.rows, target)
        allowed = self.rows[row]
        return own == row or own in allowed or any(a not in self.rows and covers(a, target) for a in allowed)

    def test_every_row_names_something(self):
        files = product_files()
        for pattern in [p for row, allowed in self.rows.items() for p in [row, *allowed]]:
            with self.subTest(pattern=pattern):
                self.assertTrue(any(covers(pattern, f) for f in files), f"{pattern} holds nothing")


if __name__ == "__main__":
    unittest.main()
