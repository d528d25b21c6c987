#!/usr/bin/env python3
"""Checks the release package: the expected files and nothing else, a
self-contained 64-bit GUI executable that imports no DLL of a compiler's
runtime, a version resource that agrees with the package's version, and the
Group Policy templates as they are in policy/."""
import os
import re
import struct
import subprocess
import sys
import zipfile

zip_path = subprocess.run([sys.argv[1]], capture_output=True, text=True, check=True).stdout.strip().splitlines()[-1]
version = re.search(r"dadado-([0-9.]+)-win64\.zip$", zip_path).group(1)
failures = []


def check(ok, what):
    print(("PASS " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


with zipfile.ZipFile(zip_path) as z:
    names = sorted(z.namelist())
    check(names == ["dadado/LICENSE", "dadado/README.md", "dadado/dadado.exe", "dadado/policy/dadado.admx",
                    "dadado/policy/en-US/dadado.adml", "dadado/policy/zh-CN/dadado.adml"],
          "package holds exe, README, licence and the policy templates: %s" % names)
    exe = z.read("dadado/dadado.exe")
    # Each language's file in its own folder: a swapped pair would show an
    # administrator English texts under zh-CN.
    root = os.path.join(os.path.dirname(os.path.abspath(sys.argv[1])), "..")
    for name in ("dadado.admx", "zh-CN/dadado.adml", "en-US/dadado.adml"):
        packed = z.read("dadado/policy/" + name) if "dadado/policy/" + name in names else None
        with open(os.path.join(root, "policy", name), "rb") as f:
            check(packed == f.read(), "policy/%s in the package is the one in the project" % name)

pe = struct.unpack_from("<I", exe, 0x3C)[0]
check(exe[pe:pe + 4] == b"PE\0\0", "a PE executable")
machine = struct.unpack_from("<H", exe, pe + 4)[0]
check(machine == 0x8664, "64-bit (machine %#x)" % machine)
subsystem = struct.unpack_from("<H", exe, pe + 24 + 68)[0]
check(subsystem == 2, "GUI subsystem (%d)" % subsystem)
for dll in (b"libstdc++", b"libgcc_s", b"libwinpthread", b"MSVCP", b"VCRUNTIME"):
    check(dll.lower() not in exe.lower(), "no %s dependency" % dll.decode())
marker = "FileVersion".encode("utf-16-le") + b"\0\0"
at = exe.find(marker)
check(at >= 0, "a version resource")
if at >= 0:
    at += len(marker)
    at += (4 - at % 4) % 4
    end = exe.find(b"\0\0", at)
    while (end - at) % 2:
        end = exe.find(b"\0\0", end + 1)
    text = exe[at:end].decode("utf-16-le")
    check(text == version, "version resource %s agrees with the package %s" % (text, version))
sys.exit(1 if failures else 0)
