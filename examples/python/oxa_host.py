#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Loads liboxa with ctypes, runs one detection and prints its verdict.

usage: oxa_host.py [PATH-TO-LIBOXA]

Without a path the dynamic loader looks for liboxa.so.1 (liboxa.1.dylib on
macOS) on its usual search path. Needs nothing beyond the standard library.
"""

import ctypes
import json
import sys

OXA_OK = 0


def load(path=None):
    """Opens the library and declares the three functions' signatures."""
    if path is None:
        path = "liboxa.1.dylib" if sys.platform == "darwin" else "liboxa.so.1"
    lib = ctypes.CDLL(path)
    # The document is taken as a plain address (c_void_p), never as c_char_p:
    # ctypes would turn a c_char_p into a bytes copy and lose the pointer that
    # oxa_free needs.
    lib.oxa_detect_json.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    lib.oxa_detect_json.restype = ctypes.c_int
    lib.oxa_free.argtypes = [ctypes.c_void_p]
    lib.oxa_free.restype = None
    # Static text owned by the library: copying it to bytes is right here.
    lib.oxa_version.argtypes = []
    lib.oxa_version.restype = ctypes.c_char_p
    return lib


def detect(lib):
    """Runs one detection and returns the parsed report."""
    document = ctypes.c_void_p()
    status = lib.oxa_detect_json(ctypes.byref(document))
    if status != OXA_OK:
        raise RuntimeError(f"oxa_detect_json failed with status {status}")
    try:
        text = ctypes.string_at(document.value).decode("ascii")
    finally:
        lib.oxa_free(document)
    return json.loads(text)


def main(argv):
    if len(argv) > 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 1
    try:
        lib = load(argv[1] if len(argv) == 2 else None)
        report = detect(lib)
    except (OSError, RuntimeError, ValueError) as error:
        print(f"oxa_host: {error}", file=sys.stderr)
        return 2
    print(f"liboxa {lib.oxa_version().decode('ascii')}")
    print(f"likelihood: {report['vm_likelihood']}")
    print(f"score: {report['vm_score']}")
    vendors = report["hypervisors"] + report["host_hypervisors"] + report["cloud_providers"]
    print(f"vendors: {', '.join(vendors) if vendors else 'none'}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
