# SPDX-License-Identifier: MIT
"""mypy --strict passes on the package and its build backend, for Python
3.9 as for the interpreter here: typeshed knows which version brought which
function, so this also catches a use of something newer than 3.9."""

from __future__ import annotations

import importlib.util
import subprocess
import sys

import pytest

from conftest import SOURCE


@pytest.mark.parametrize("python_version", ["3.9", f"{sys.version_info[0]}.{sys.version_info[1]}"])
def test_mypy_strict_passes(python_version):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("no mypy here (Debian: python3-mypy)")
    done = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--python-version",
                           python_version, "src/oxa", "backend"], cwd=SOURCE / "python", capture_output=True,
                          text=True, timeout=300, check=False)
    assert done.returncode == 0, done.stdout + done.stderr
