# SPDX-License-Identifier: MIT
"""pip installs the package from its source, without network, into a fresh
environment, typing marker included."""

from __future__ import annotations

import shutil
import subprocess
import sys

import oxa
from conftest import SOURCE


def test_pip_installs_the_package_without_network(tmp_path, built_library):
    # pip builds in the source folder: a copy keeps the tree clean.
    source = tmp_path / "python"
    shutil.copytree(SOURCE / "python", source, ignore=shutil.ignore_patterns("tests", "*.egg-info", "build"))
    env_dir = tmp_path / "env"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(env_dir)], check=True, timeout=120)
    python = env_dir / "bin" / "python"
    subprocess.run([str(python), "-m", "pip", "install", "-q", "--no-index", "--no-build-isolation",
                    "--no-cache-dir", str(source)], check=True, timeout=300, capture_output=True)
    check = (
        "import importlib.resources, oxa, sys;"
        f"assert oxa.__file__.startswith({str(env_dir)!r}), oxa.__file__;"
        "assert importlib.resources.files('oxa').joinpath('py.typed').is_file();"
        "print(oxa.detect().module_version)"
    )
    done = subprocess.run([str(python), "-c", check], capture_output=True, timeout=60, check=False,
                          cwd=tmp_path, env={"OXA_LIBRARY": built_library, "PATH": "/usr/bin:/bin"})
    assert (done.returncode, done.stderr) == (0, b""), done.stderr
    assert done.stdout.decode().strip() == oxa.__version__
