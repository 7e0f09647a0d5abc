# SPDX-License-Identifier: MIT
"""The README's Python install, as written, in a fresh virtual environment
(no system packages) with pip's index turned off: the package builds with
its own backend and installs, typing marker included; and every module
parses as Python 3.9, the oldest the package supports."""

from __future__ import annotations

import ast
import os
import re
import shutil
import subprocess
import sys

import oxa
from conftest import SOURCE


def readme_install_command() -> str:
    readme = (SOURCE / "README.md").read_text()
    (command,) = re.findall(r"^    (python3 -m venv \S+ && \S+/bin/pip install \./python)$", readme, re.M)
    return command


def test_readme_install_works_in_a_fresh_environment_without_network(tmp_path, built_library):
    # The command names ./python: a copy keeps the source tree clean.
    shutil.copytree(SOURCE / "python", tmp_path / "python", ignore=shutil.ignore_patterns("tests"))
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "python3").symlink_to(sys.executable)
    env = {"PATH": f"{bin_dir}:/usr/bin:/bin", "HOME": str(tmp_path), "PIP_NO_INDEX": "1",
           "PIP_NO_CACHE_DIR": "1", "PIP_DISABLE_PIP_VERSION_CHECK": "1"}
    done = subprocess.run(["bash", "-euo", "pipefail", "-c", readme_install_command()], cwd=tmp_path, env=env,
                          capture_output=True, timeout=300, check=False)
    assert done.returncode == 0, done.stdout + done.stderr
    (env_dir,) = [p for p in tmp_path.iterdir() if (p / "pyvenv.cfg").is_file()]
    check = (
        "import importlib.metadata, importlib.resources, oxa, sys;"
        f"assert oxa.__file__.startswith({str(env_dir)!r}), oxa.__file__;"
        "assert importlib.resources.files('oxa').joinpath('py.typed').is_file();"
        "assert importlib.metadata.version('oxa') == oxa.__version__;"
        "print(oxa.detect().module_version)"
    )
    done = subprocess.run([str(env_dir / "bin" / "python"), "-c", check], capture_output=True, timeout=60,
                          check=False, cwd=tmp_path, env={"OXA_LIBRARY": built_library, "PATH": "/usr/bin:/bin"})
    assert (done.returncode, done.stderr) == (0, b""), done.stderr
    assert done.stdout.decode().strip() == oxa.__version__


def test_modules_parse_as_python_3_9():
    for path in sorted((SOURCE / "python").rglob("*.py")):
        if "tests" in path.parts:
            continue
        ast.parse(path.read_text(), filename=str(path), feature_version=(3, 9))
