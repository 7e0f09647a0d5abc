# SPDX-License-Identifier: MIT
"""The package's own build backend (PEP 517), standard library only.

pip builds a package in an isolated environment into which it first
installs the backend named in pyproject.toml; with setuptools that needs
the network, and with --no-build-isolation it needs setuptools and wheel
beside pip, which a fresh virtual environment lacks ("invalid command
'bdist_wheel'"). This backend needs nothing, so `pip install ./python`
works in a fresh environment without network, and so do Debian's pybuild
and `python3 -m build`. The package is pure Python: a wheel is its files
and the metadata below, zipped.
"""

from __future__ import annotations

import base64
import hashlib
import io
import os
import re
import tarfile
import zipfile
from pathlib import Path
from typing import Dict, List, Optional, Tuple

ROOT = Path(__file__).resolve().parents[1]
PACKAGE = ROOT / "src" / "oxa"
NAME = "oxa"
# The version is the package's own, __version__ in oxa/__init__.py.
_VERSION = re.search(r'^__version__ = "([0-9]+\.[0-9]+\.[0-9]+)"$', (PACKAGE / "__init__.py").read_text(), re.M)
if _VERSION is None:
    raise RuntimeError("no __version__ in oxa/__init__.py")
VERSION = _VERSION[1]
DIST_INFO = f"{NAME}-{VERSION}.dist-info"
# Python 3.9 is the oldest still supported by distributions (RHEL 9); the
# package uses nothing newer.
REQUIRES_PYTHON = ">=3.9"
SUMMARY = "Tells whether this process runs in a virtual machine: liboxa's report, typed (ctypes)"
CLASSIFIERS = (
    "License :: OSI Approved :: MIT License",
    "Operating System :: MacOS",
    "Operating System :: POSIX :: Linux",
    "Programming Language :: Python :: 3",
    "Typing :: Typed",
)


def _metadata() -> bytes:
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {NAME}",
        f"Version: {VERSION}",
        f"Summary: {SUMMARY}",
        "Author: liboxa maintainers",
        "License: MIT",
        f"Requires-Python: {REQUIRES_PYTHON}",
        *(f"Classifier: {c}" for c in CLASSIFIERS),
        "Description-Content-Type: text/markdown",
    ]
    return ("\n".join(lines) + "\n\n" + (ROOT / "README.md").read_text(encoding="utf-8")).encode("utf-8")


def _wheel_file() -> bytes:
    return b"Wheel-Version: 1.0\nGenerator: oxa_build\nRoot-Is-Purelib: true\nTag: py3-none-any\n"


def _package_files() -> List[Tuple[str, bytes]]:
    """The package's files as (path in the wheel, content), in a fixed
    order: its modules and its typing marker, no caches."""
    files = []
    for path in sorted(PACKAGE.rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts and path.suffix in (".py", ".typed"):
            files.append((f"{NAME}/{path.relative_to(PACKAGE).as_posix()}", path.read_bytes()))
    return files


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(directory: str, files: List[Tuple[str, bytes]]) -> str:
    name = f"{NAME}-{VERSION}-py3-none-any.whl"
    files = files + [
        (f"{DIST_INFO}/METADATA", _metadata()),
        (f"{DIST_INFO}/WHEEL", _wheel_file()),
        (f"{DIST_INFO}/top_level.txt", f"{NAME}\n".encode("ascii")),
    ]
    record = "".join(_record_line(n, d) + "\n" for n, d in files) + f"{DIST_INFO}/RECORD,,\n"
    files.append((f"{DIST_INFO}/RECORD", record.encode("ascii")))
    with zipfile.ZipFile(os.path.join(directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for member, data in files:
            info = zipfile.ZipInfo(member, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = 0o644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return name


# The hooks of PEP 517 and PEP 660.


def get_requires_for_build_wheel(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def get_requires_for_build_editable(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def prepare_metadata_for_build_wheel(metadata_directory: str,
                                     config_settings: Optional[Dict[str, str]] = None) -> str:
    folder = Path(metadata_directory) / DIST_INFO
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "METADATA").write_bytes(_metadata())
    (folder / "WHEEL").write_bytes(_wheel_file())
    return DIST_INFO


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                metadata_directory: Optional[str] = None) -> str:
    return _write_wheel(wheel_directory, _package_files())


def build_editable(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                   metadata_directory: Optional[str] = None) -> str:
    """A wheel whose only file puts the source folder on the path."""
    return _write_wheel(wheel_directory, [(f"_{NAME}_editable.pth", f"{PACKAGE.parent}\n".encode("utf-8"))])


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, str]] = None) -> str:
    base = f"{NAME}-{VERSION}"
    name = f"{base}.tar.gz"
    sources = [ROOT / "pyproject.toml", ROOT / "README.md", Path(__file__)]
    sources += [PACKAGE / n.split("/", 1)[1] for n, _ in _package_files()]
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for path in sources:
            data = path.read_bytes()
            info = tarfile.TarInfo(f"{base}/{path.relative_to(ROOT).as_posix()}")
            info.size, info.mode = len(data), 0o644
            sdist.addfile(info, io.BytesIO(data))
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        metadata = _metadata()
        info.size, info.mode = len(metadata), 0o644
        sdist.addfile(info, io.BytesIO(metadata))
    return name
