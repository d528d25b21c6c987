#!/usr/bin/env python3
"""Checks the release packages that tools/package makes.

The zip: the expected files and nothing else, a self-contained 64-bit GUI
executable that imports no DLL of a compiler's runtime (nor, within 1.6 MB,
debug sections), a version resource that agrees with the package's version,
and the Group Policy templates as they are in policy/.

The MSI, its tables read back with msitools: every file where an
administrator expects it and as it is in the project, the components with
the GUIDs of installer/dadado.wxs, the guard service and its control tied to
the component that GUARD=1 selects (not transitive, not stopped by a repair),
the registry values (the Run value quoted under STARTWITHWINDOWS=1, the event
source as the program writes it, the Safe Mode keys, the remembered choices
and their recall), the major upgrade under the fixed UpgradeCode, and the
product's name, version, publisher, icon and code page."""
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
# The identity of dadado across its versions: a package under another
# UpgradeCode would install beside the old version instead of replacing it.
UPGRADE_CODE = "{B0E27E11-4342-4C01-A5D3-F5CC78A33E83}"
PRODUCT_NAME = "dadado 定时关机"
MANUFACTURER = "dadado developers"
GUARD_ON = 'GUARD = "1"'
WIX = "{http://schemas.microsoft.com/wix/2006/wi}"

outputs = subprocess.run([sys.argv[1]], capture_output=True, text=True, check=True).stdout.strip().splitlines()
zip_path = next(line for line in outputs if line.endswith(".zip"))
msi_path = next((line for line in outputs if line.endswith(".msi")), None)
version = re.search(r"dadado-([0-9.]+)-win64\.zip$", zip_path).group(1)
failures = []


def check(ok, what):
    print(("PASS " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def version_strings(exe):
    """The StringFileInfo values of a version resource, by name."""
    found = {}
    for name in ("FileVersion", "CompanyName", "ProductName"):
        marker = name.encode("utf-16-le") + b"\0\0"
        at = exe.find(marker)
        if at < 0:
            continue
        at += len(marker)
        at += (4 - at % 4) % 4
        end = exe.find(b"\0\0", at)
        while (end - at) % 2:
            end = exe.find(b"\0\0", end + 1)
        found[name] = exe[at:end].decode("utf-16-le")
    return found


def check_shipped_exe(path, where):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", path], capture_output=True, text=True).stdout
    debug = re.findall(r" (\.debug\w*) ", out)
    check(".text" in out and not debug and os.path.getsize(path) <= 1_600_000, "the exe in the %s, %d bytes, "
          "within 1.6 MB, carries no debug sections: %s" % (where, os.path.getsize(path), debug))


def fixed_file_version(exe):
    at = exe.find(struct.pack("<I", 0xFEEF04BD), exe.find("VS_VERSION_INFO".encode("utf-16-le")))
    ms, ls = struct.unpack_from("<2I", exe, at + 8)
    return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF


# ---- the zip --------------------------------------------------------------------

with zipfile.ZipFile(zip_path) as z:
    names = sorted(z.namelist())
    check(names == ["dadado/LICENSE", "dadado/README.md", "dadado/dadado.exe", "dadado/docs/attack-surface.md",
                    "dadado/policy/dadado.admx", "dadado/policy/en-US/dadado.adml", "dadado/policy/zh-CN/dadado.adml"],
          "package holds exe, README, licence, the attack-surface document and the policy templates: %s" % names)
    exe = z.read("dadado/dadado.exe")
    # Each language's file in its own folder: a swapped pair would show an
    # administrator English texts under zh-CN.
    for name in ("dadado.admx", "zh-CN/dadado.adml", "en-US/dadado.adml"):
        packed = z.read("dadado/policy/" + name) if "dadado/policy/" + name in names else None
        with open(os.path.join(ROOT, "policy", name), "rb") as f:
            check(packed == f.read(), "policy/%s in the package is the one in the project" % name)

pe = struct.unpack_from("<I", exe, 0x3C)[0]
check(exe[pe:pe + 4] == b"PE\0\0", "a PE executable")
machine = struct.unpack_from("<H", exe, pe + 4)[0]
check(machine == 0x8664, "64-bit (machine %#x)" % machine)
subsystem = struct.unpack_from("<H", exe, pe + 24 + 68)[0]
check(subsystem == 2, "GUI subsystem (%d)" % subsystem)
for dll in (b"libstdc++", b"libgcc_s", b"libwinpthread", b"MSVCP", b"VCRUNTIME"):
    check(dll.lower() not in exe.lower(), "no %s dependency" % dll.decode())
with tempfile.TemporaryDirectory() as scratch:
    with zipfile.ZipFile(zip_path) as z:
        check_shipped_exe(z.extract("dadado/dadado.exe", scratch), "zip")
    # One that carries them is refused, and no package made.
    unstripped, out = os.path.join(scratch, "debug.exe"), os.path.join(scratch, "out")
    subprocess.run(["x86_64-w64-mingw32-objcopy", "--add-section", ".debug_info=" + os.path.join(ROOT, "LICENSE"),
                    os.path.join(ROOT, "build/win/src/app/dadado.exe"), unstripped], capture_output=True, check=True)
    r = subprocess.run([sys.argv[1], "--msi-from", unstripped, out], capture_output=True, text=True)
    check(r.returncode != 0 and not os.path.exists(out), "tools/package refuses it: %s" % r.stderr.strip())
strings = version_strings(exe)
check("FileVersion" in strings, "a version resource")
check(strings.get("FileVersion") == version,
      "version resource %s agrees with the package %s" % (strings.get("FileVersion"), version))

# ---- the MSI --------------------------------------------------------------------

check(msi_path is not None, "tools/package made an MSI: %s" % outputs)
if msi_path is None:
    sys.exit(1)


def export(name):
    """A table's rows as dicts (msiinfo export: names, types, keys, rows)."""
    # In a folder of its own: a table with binary data is exported with a
    # folder of its streams beside it.
    with tempfile.TemporaryDirectory() as scratch:
        text = subprocess.run(["msiinfo", "export", msi_path, name], capture_output=True, check=True,
                              cwd=scratch).stdout
    lines = text.decode("utf-8").replace("\r\n", "\n").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def summary_information():
    """Code page, subject and template of the summary stream, read as Windows
    reads them (the strings in the summary's own code page)."""
    data = subprocess.run(["msiinfo", "extract", msi_path, "\x05SummaryInformation"], capture_output=True,
                          check=True).stdout
    section = struct.unpack_from("<I", data, 44)[0]
    count = struct.unpack_from("<I", data, section + 4)[0]
    props = {}
    for i in range(count):
        pid, offset = struct.unpack_from("<2I", data, section + 8 + 8 * i)
        kind = struct.unpack_from("<I", data, section + offset)[0]
        if kind == 2:  # VT_I2
            props[pid] = struct.unpack_from("<h", data, section + offset + 4)[0]
        elif kind == 30:  # VT_LPSTR
            size = struct.unpack_from("<I", data, section + offset + 4)[0]
            props[pid] = data[section + offset + 8:section + offset + 8 + size].rstrip(b"\0")
    codepage = props.get(1)
    text = lambda pid: props.get(pid, b"").decode("cp%d" % codepage, "replace") if codepage else None
    return codepage, text(3), text(7)


exe_version = fixed_file_version(exe)
check(os.path.basename(msi_path) == "dadado-%d.%d.%d-x64.msi" % exe_version[:3],
      "the MSI is named after the exe's version: %s" % os.path.basename(msi_path))

properties = {row["Property"]: row["Value"] for row in export("Property")}
check(properties.get("ProductVersion") == "%d.%d.%d" % exe_version[:3],
      "ProductVersion %s is the exe's version %s" % (properties.get("ProductVersion"), exe_version))
check(properties.get("ProductName") == PRODUCT_NAME, "ProductName %r" % properties.get("ProductName"))
check(properties.get("Manufacturer") == MANUFACTURER == strings.get("CompanyName"),
      "Manufacturer %r is the exe's CompanyName %r" % (properties.get("Manufacturer"), strings.get("CompanyName")))
check(properties.get("UpgradeCode") == UPGRADE_CODE, "UpgradeCode %s" % properties.get("UpgradeCode"))
check(properties.get("ALLUSERS") == "1", "installed per machine (ALLUSERS %r)" % properties.get("ALLUSERS"))
secure = set(properties.get("SecureCustomProperties", "").split(";"))
check({"GUARD", "STARTWITHWINDOWS", "INSTALLDIR"} <= secure,
      "GUARD, STARTWITHWINDOWS and INSTALLDIR reach the per-machine installation: %s" % sorted(secure))

icons = {row["Name"]: row for row in export("Icon")}
icon = properties.get("ARPPRODUCTICON")
check(icon in icons, "ARPPRODUCTICON %r names an icon of the package" % icon)
if icon in icons:
    data = subprocess.run(["msiinfo", "extract", msi_path, "Icon." + icon], capture_output=True).stdout
    with open(os.path.join(ROOT, "src", "app", "dadado.ico"), "rb") as f:
        check(data == f.read(), "the icon in Apps & features is src/app/dadado.ico")

# Chinese text needs the database in a Chinese code page: in the neutral one
# Windows would read the strings in each machine's own code page.
codepage = subprocess.run(["msiinfo", "export", msi_path, "_ForceCodepage"], capture_output=True).stdout
check(codepage.replace(b"\r", b"").strip(b"\n\0") == b"936\t_ForceCodepage",
      "the database's code page is 936: %r" % codepage)
summary_codepage, subject, template = summary_information()
check(summary_codepage == 936 and subject == PRODUCT_NAME,
      "the summary's subject reads %r in its code page %s" % (subject, summary_codepage))
check(template == "x64;2052", "summary template %r: 64-bit, Chinese (Simplified)" % template)

# Where every file lands, as the Directory table resolves it, and what it holds.
directories = {row["Directory"]: row for row in export("Directory")}


def folder(directory):
    """A directory as a path from the system folder it lies in."""
    row = directories[directory]
    if row["Directory_Parent"] in ("", "TARGETDIR"):
        return [directory]  # ProgramFiles64Folder, WindowsFolder
    # DefaultDir: "target:source", each "short|long".
    return folder(row["Directory_Parent"]) + [row["DefaultDir"].split(":")[0].split("|")[-1]]


components = {row["Component"]: row for row in export("Component")}
files = export("File")
placed = {}
for f in files:
    path = "/".join(folder(components[f["Component_"]]["Directory_"]) + [f["FileName"].split("|")[-1]])
    placed.setdefault(path, []).append(f)
expected = {
    "ProgramFiles64Folder/dadado/dadado.exe": "build/win/src/app/dadado.exe",
    "ProgramFiles64Folder/dadado/README.md": "README.md",
    "ProgramFiles64Folder/dadado/LICENSE": "LICENSE",
    "ProgramFiles64Folder/dadado/policy/dadado.admx": "policy/dadado.admx",
    "ProgramFiles64Folder/dadado/policy/zh-CN/dadado.adml": "policy/zh-CN/dadado.adml",
    "ProgramFiles64Folder/dadado/policy/en-US/dadado.adml": "policy/en-US/dadado.adml",
    "WindowsFolder/PolicyDefinitions/dadado.admx": "policy/dadado.admx",
    "WindowsFolder/PolicyDefinitions/zh-CN/dadado.adml": "policy/zh-CN/dadado.adml",
    "WindowsFolder/PolicyDefinitions/en-US/dadado.adml": "policy/en-US/dadado.adml",
}
check(sorted(placed) == sorted(expected), "File rows place exactly the expected files: %s" % sorted(placed))
check(properties.get("INSTALLDIR") is None and "INSTALLDIR" in directories and
      directories["INSTALLDIR"]["DefaultDir"] == "dadado" and directories["INSTALLDIR"]["Directory_Parent"] ==
      "ProgramFiles64Folder", "the program's folder is INSTALLDIR, by default Program Files\\dadado")
with tempfile.TemporaryDirectory() as out:
    subprocess.run(["msiextract", "-C", out, msi_path], capture_output=True, check=True)
    for path, source in sorted(expected.items()):
        extracted = os.path.join(out, path.split("/", 1)[1])
        with open(os.path.join(ROOT, source), "rb") as f:
            want = f.read()
        got = open(extracted, "rb").read() if os.path.exists(extracted) else None
        check(got == want and all(int(r["FileSize"]) == len(want) for r in placed.get(path, [])),
              "%s holds %s" % (path, source))
    check_shipped_exe(os.path.join(out, "dadado", "dadado.exe"), "MSI")
for f in placed.get("ProgramFiles64Folder/dadado/dadado.exe", []):
    check(f["Version"] == "%d.%d.%d.%d" % exe_version,
          "File %s carries the exe's version (%r), so that Windows Installer compares versions" % (f["File"], f["Version"]))

# Components: the GUIDs fixed in the source, 64-bit.
source_components = {c.get("Id"): c for c in ET.parse(os.path.join(ROOT, "installer", "dadado.wxs")).iter(WIX + "Component")}
check(sorted(components) == sorted(source_components), "the components of installer/dadado.wxs: %s" % sorted(components))
other_guid = [cid for cid, comp in source_components.items()
              if components.get(cid, {}).get("ComponentId") != "{%s}" % comp.get("Guid").upper()]
check(not other_guid, "every component has the GUID fixed in the source; not: %s" % other_guid)
not_64bit = [cid for cid, row in components.items() if not int(row["Attributes"]) & 0x100]
check(not not_64bit, "every component is 64-bit (Program Files, the 64-bit registry); not: %s" % not_64bit)
# A transitive component's condition is weighed again on a repair.
transitive = [cid for cid, row in components.items() if int(row["Attributes"]) & 0x40]
check(not transitive, "no component is transitive: %s" % transitive)

# The guard: installed and started with the component that GUARD=1 selects,
# which holds dadado.exe itself (a service runs its component's key file);
# the other dadado.exe component is installed exactly when that one is not.
exe_components = [f["Component_"] for f in placed.get("ProgramFiles64Folder/dadado/dadado.exe", [])]
conditions = sorted(components[c]["Condition"] for c in exe_components)
check(conditions == ['GUARD <> "1"', GUARD_ON], "dadado.exe comes with or without the guard: %s" % conditions)
services = export("ServiceInstall")
check(len(services) == 1, "one service: %s" % [s.get("Name") for s in services])
if services:
    s = services[0]
    comp = components.get(s["Component_"], {})
    key_file = next((f for f in files if f["File"] == comp.get("KeyPath")), {})
    check(comp.get("Condition") == GUARD_ON and key_file.get("FileName") == "dadado.exe",
          "the service belongs to the component under %r whose key file is dadado.exe (%s)" % (GUARD_ON, s["Component_"]))
    check(s["Name"] == "dadadoGuard" and s["DisplayName"] == "dadado 守护服务" and
          s["Description"] == "保证定时关机和时间控制不被结束。", "the service's names: %s, %s, %s"
          % (s["Name"], s["DisplayName"], s["Description"]))
    check(int(s["ServiceType"]) == 0x10 and int(s["StartType"]) == 2 and s["StartName"] == "LocalSystem",
          "own process, automatic start, LocalSystem (%s, %s, %s)" % (s["ServiceType"], s["StartType"], s["StartName"]))
    check(s["Arguments"] == "/guard-service", "started as dadado.exe /guard-service (%r)" % s["Arguments"])
    check(int(s["ErrorControl"]) == 0x8001, "a service that fails to install fails the installation (%s)" % s["ErrorControl"])
controls = export("ServiceControl")
check(len(controls) == 1 and controls[0]["Name"] == "dadadoGuard" and controls[0]["Component_"] ==
      (services[0]["Component_"] if services else None), "the service's control goes with it: %s" % controls)
if controls:
    # Start on install, stop and delete on uninstall: a repair is an install.
    check(int(controls[0]["Event"]) == 0x01 | 0x20 | 0x80 and controls[0]["Wait"] == "1",
          "started on install, stopped and removed on uninstall only (%s)" % controls[0]["Event"])
check(properties.get("MSIRESTARTMANAGERCONTROL") == "DisableShutdown",
      "Restart Manager shuts down nothing that holds a file: %r" % properties.get("MSIRESTARTMANAGERCONTROL"))

# Registry values, as (key, name) -> (value, condition of the component).
rows = export("Registry")
registry = {(r["Key"], r["Name"]): (r["Value"], components[r["Component_"]]["Condition"]) for r in rows}
check(all(r["Root"] == "2" for r in rows), "every registry value is under HKEY_LOCAL_MACHINE: %s"
      % [(r["Root"], r["Key"], r["Name"]) for r in rows if r["Root"] != "2"])
run_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"
# Not with the guard, which starts the program itself at every logon.
check(registry.get((run_key, "dadado")) == ('"[INSTALLDIR]dadado.exe"', 'STARTWITHWINDOWS = "1" AND GUARD <> "1"'),
      "the Run value, quoted, only under STARTWITHWINDOWS=1 without the guard: %s" % (registry.get((run_key, "dadado")),))
actions = {r["Action"]: r for r in export("CustomAction")}
restore = actions.get("RestoreSettingsAccess", {})
check(restore.get("Source") == "ProgramExeWithGuard" and restore.get("Target") == "/restore-settings-access" and
      int(restore.get("Type", "0")) & 0x0C3F == (18 | 1024 | 2048),
      "uninstall gives the settings file its access back, deferred and as the system: %s" % restore)
sequence = {r["Action"]: r for r in export("InstallExecuteSequence")}
check(sequence.get("RestoreSettingsAccess", {}).get("Condition") == 'REMOVE = "ALL" AND GUARD = "1" AND NOT UPGRADINGPRODUCTCODE'
      and 2000 < int(sequence.get("RestoreSettingsAccess", {}).get("Sequence", "0")) < 3500,
      "after the service is removed and before the files: %s" % sequence.get("RestoreSettingsAccess"))
for mode in ("Minimal", "Network"):
    key = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\%s\\dadadoGuard" % mode
    check(registry.get((key, "")) == ("Service", GUARD_ON), "Safe Mode (%s) starts the service: %s"
          % (mode, registry.get((key, ""))))
source_key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\dadado"
check(registry.get((source_key, "EventMessageFile")) == ("#%[INSTALLDIR]dadado.exe", ""),
      "EventMessageFile, REG_EXPAND_SZ, the installed dadado.exe: %s" % (registry.get((source_key, "EventMessageFile")),))
check(registry.get((source_key, "TypesSupported")) == ("#7", ""),
      "TypesSupported, REG_DWORD 7: %s" % (registry.get((source_key, "TypesSupported")),))
remembered = "SOFTWARE\\dadado\\Installer"
for name in ("GUARD", "STARTWITHWINDOWS", "INSTALLDIR"):
    check(registry.get((remembered, name)) == ("[%s]" % name, ""), "%s is remembered: %s"
          % (name, registry.get((remembered, name))))

# ... and read back: the registry search, then the recall when the command
# line gave none, before CostFinalize settles the folders.
locators = {r["Signature_"]: r for r in export("RegLocator")}
searches = {r["Property"]: r["Signature_"] for r in export("AppSearch")}
actions = {r["Action"]: r for r in export("CustomAction")}
sequence = {r["Action"]: r for r in export("InstallExecuteSequence")}
# With a user interface the client settles INSTALLDIR first and hands it
# on as given: the recall must come before CostFinalize there too.
ui_sequence = {r["Action"]: r for r in export("InstallUISequence")}
for name in ("GUARD", "STARTWITHWINDOWS", "INSTALLDIR"):
    found = "REMEMBERED_" + name
    loc = locators.get(searches.get(found), {})
    check(loc.get("Root") == "2" and loc.get("Key") == remembered and loc.get("Name") == name and
          int(loc.get("Type", 0)) == 2 | 0x10, "%s is read back from the 64-bit registry: %s" % (found, loc))
    recall = [a for a in actions.values() if a["Source"] == name and a["Target"] == "[%s]" % found]
    for table, steps in (("InstallExecuteSequence", sequence), ("InstallUISequence", ui_sequence)):
        step = steps.get(recall[0]["Action"], {}) if recall else {}
        # On a repair (Installed) the remembered value wins.
        check(bool(step) and step["Condition"] == "%s AND (Installed OR NOT %s)" % (found, name) and
              int(steps["AppSearch"]["Sequence"]) < int(step["Sequence"]) < int(steps["CostFinalize"]["Sequence"]),
              "%s is recalled when not given or installed, between AppSearch and CostFinalize of the %s: %s"
              % (name, table, step))

# The major upgrade.
upgrades = export("Upgrade")
check(all(u["UpgradeCode"] == UPGRADE_CODE for u in upgrades) and len(upgrades) == 2,
      "the Upgrade table under the fixed UpgradeCode: %s" % upgrades)
older = [u for u in upgrades if not int(u["Attributes"]) & 0x2]
check(len(older) == 1 and older[0]["VersionMin"] == "" and older[0]["VersionMax"] == properties.get("ProductVersion")
      and int(older[0]["Attributes"]) & 0x200, "every older version and a rebuild of this one are replaced: %s" % older)
newer = [u for u in upgrades if int(u["Attributes"]) & 0x2]
conditions = [c["Condition"] for c in export("LaunchCondition")]
check(len(newer) == 1 and newer[0]["VersionMin"] == properties.get("ProductVersion") and
      "NOT %s" % newer[0]["ActionProperty"] in conditions, "a newer version installed refuses this one: %s" % newer)
check("RemoveExistingProducts" in sequence and int(sequence["InstallValidate"]["Sequence"]) <
      int(sequence["RemoveExistingProducts"]["Sequence"]) < int(sequence["InstallInitialize"]["Sequence"]),
      "the old version is removed before the new one is installed")
sys.exit(1 if failures else 0)
