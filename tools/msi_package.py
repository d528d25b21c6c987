#!/usr/bin/env python3
"""Builds dadado's Windows Installer package from installer/dadado.wxs for a
given dadado.exe, with wixl and msibuild (Debian's msitools 0.101):

    python3 tools/msi_package.py path/to/dadado.exe OUTPUT_FOLDER

and prints the package's path, OUTPUT_FOLDER/dadado-<version>-x64.msi, the
version read from the exe's version resource.

wixl 0.101 builds most of the source but leaves out parts the package needs:
it refuses a Component's Condition; it ignores Transitive, Secure, Vital,
AllowSameVersionUpgrades and the expandable type of a registry value; it gives
the summary a code page but leaves the database's neutral, and then fails on
Chinese text unless WINDOWS_LANGUAGE names a language of that code page; it
records no version for a versioned file; it writes the summary's texts in
UTF-8 whatever their code page, and its template with the language 1033.
wixl gets a copy of the source without what it refuses, and each of these is
then written into the package with msibuild, taken from the source (of the
summary's texts, the subject; the source keeps the others ASCII):
installer/dadado.wxs stays the one description of the package."""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

WIX = "http://schemas.microsoft.com/wix/2006/wi"
ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
SOURCE = os.path.join(ROOT, "installer", "dadado.wxs")

# The code pages this package may use, with a language whose Windows code
# page it is (libgsf, under wixl, picks the code page from the language).
LANGUAGE_OF_CODEPAGE = {936: "zh_CN"}

# Windows Installer's bits.
COMPONENT_TRANSITIVE = 0x40
COMPONENT_64BIT = 0x100
SERVICE_ERROR_CONTROL_VITAL = 0x8000
UPGRADE_VERSION_MAX_INCLUSIVE = 0x200


def fail(text):
    sys.exit("msi_package: " + text)


def tag(name):
    return "{%s}%s" % (WIX, name)


# ---- the version resource ---------------------------------------------------------

def version_resource(data):
    """(a, b, c, d) of FILEVERSION and the language of the first translation,
    or None when the file has no version resource."""
    key = "VS_VERSION_INFO".encode("utf-16-le")
    at = data.find(key)
    if at < 0:
        return None
    # VS_FIXEDFILEINFO follows its key on a 32-bit boundary.
    fixed = data.find(struct.pack("<I", 0xFEEF04BD), at + len(key), at + len(key) + 16)
    if fixed < 0:
        fail("a version resource without its fixed part")
    _, _, ms, ls = struct.unpack_from("<4I", data, fixed)
    version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    language = None
    translation = data.find("Translation".encode("utf-16-le") + b"\0\0", fixed)
    if translation >= 0:
        value = translation + len("Translation") * 2 + 2
        value += (4 - value % 4) % 4
        language = struct.unpack_from("<H", data, value)[0]
    return version, language


def product_version(version):
    """Windows Installer's ProductVersion: three fields (the fourth, which
    it ignores in comparisons, only when there is one)."""
    a, b, c, d = version
    if a > 255 or b > 255:
        fail("version %d.%d.%d.%d: Windows Installer allows at most 255.255.65535" % version)
    return "%d.%d.%d" % (a, b, c) + (".%d" % d if d else "")


# ---- msitools -------------------------------------------------------------------

def run(args, cwd=ROOT, env=None):
    r = subprocess.run(args, cwd=cwd, env=env, capture_output=True)
    if r.returncode != 0:
        fail("%s failed (%d):\n%s" % (os.path.basename(str(args[0])), r.returncode,
                                     (r.stdout + r.stderr).decode("utf-8", "replace")))
    return r.stdout


def table(msi, name):
    """The rows of a table as dicts, through msiinfo export (in the package's
    folder: a table with binary data comes with a folder of its streams)."""
    lines = run(["msiinfo", "export", msi, name], cwd=os.path.dirname(msi)).decode("utf-8")
    lines = lines.replace("\r\n", "\n").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def sql_text(value):
    if "'" in value:
        fail("a quote in %r" % value)
    return "'%s'" % value


# ---- the build -----------------------------------------------------------------------

def wixl_copy(tree):
    """The source as wixl takes it: without what it refuses or ignores."""
    tree = ET.ElementTree(ET.fromstring(ET.tostring(tree.getroot())))
    for component in tree.iter(tag("Component")):
        for condition in component.findall(tag("Condition")):
            component.remove(condition)
        component.attrib.pop("Transitive", None)
    for prop in tree.iter(tag("Property")):
        prop.attrib.pop("Secure", None)
    for upgrade in tree.iter(tag("MajorUpgrade")):
        upgrade.attrib.pop("AllowSameVersionUpgrades", None)
    return tree


def completion_queries(tree, msi, version, language):
    """The SQL that writes into the package what wixl left out."""
    queries = []
    components = {row["Component"]: row for row in table(msi, "Component")}
    for comp in tree.iter(tag("Component")):
        cid = comp.get("Id")
        row = components[cid]
        condition = comp.find(tag("Condition"))
        if condition is not None:
            queries.append("UPDATE `Component` SET `Condition` = %s WHERE `Component` = %s"
                           % (sql_text(condition.text.strip()), sql_text(cid)))
        attributes = int(row["Attributes"])
        if comp.get("Win64") == "yes":
            attributes |= COMPONENT_64BIT
        if comp.get("Transitive") == "yes":
            attributes |= COMPONENT_TRANSITIVE
        if attributes != int(row["Attributes"]):
            queries.append("UPDATE `Component` SET `Attributes` = %d WHERE `Component` = %s" % (attributes, sql_text(cid)))

    secure = [p.get("Id") for p in tree.iter(tag("Property")) if p.get("Secure") == "yes"]
    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    if secure:
        have = properties.get("SecureCustomProperties")
        names = sorted(set((have.split(";") if have else []) + secure))
        if have is None:
            queries.append("INSERT INTO `Property` (`Property`, `Value`) VALUES ('SecureCustomProperties', %s)"
                           % sql_text(";".join(names)))
        else:
            queries.append("UPDATE `Property` SET `Value` = %s WHERE `Property` = 'SecureCustomProperties'"
                           % sql_text(";".join(names)))

    services = {row["ServiceInstall"]: row for row in table(msi, "ServiceInstall")}
    for service in tree.iter(tag("ServiceInstall")):
        if service.get("Vital") == "yes":
            control = int(services[service.get("Id")]["ErrorControl"]) | SERVICE_ERROR_CONTROL_VITAL
            queries.append("UPDATE `ServiceInstall` SET `ErrorControl` = %d WHERE `ServiceInstall` = %s"
                           % (control, sql_text(service.get("Id"))))

    registry = table(msi, "Registry")
    for comp in tree.iter(tag("Component")):
        for value in comp.iter(tag("RegistryValue")):
            if value.get("Type") != "expandable":
                continue
            rows = [r for r in registry if r["Component_"] == comp.get("Id") and r["Name"] == value.get("Name")]
            if len(rows) != 1:
                fail("no single registry row for %s" % value.get("Name"))
            if not rows[0]["Value"].startswith("#%"):
                queries.append("UPDATE `Registry` SET `Value` = %s WHERE `Registry` = %s"
                               % (sql_text("#%" + rows[0]["Value"]), sql_text(rows[0]["Registry"])))

    upgrade = tree.find(".//" + tag("MajorUpgrade"))
    if upgrade is not None and upgrade.get("AllowSameVersionUpgrades") == "yes":
        # The attributes belong to the table's key: the row is written anew.
        for row in table(msi, "Upgrade"):
            if row["ActionProperty"] != "WIX_UPGRADE_DETECTED":
                continue
            queries.append("DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'")
            columns = ["UpgradeCode", "VersionMax", "Attributes", "ActionProperty"]
            values = [sql_text(row["UpgradeCode"]), sql_text(row["VersionMax"]),
                      str(int(row["Attributes"]) | UPGRADE_VERSION_MAX_INCLUSIVE), "'WIX_UPGRADE_DETECTED'"]
            for optional in ("VersionMin", "Language", "Remove"):
                if row.get(optional):
                    columns.append(optional)
                    values.append(sql_text(row[optional]))
            queries.append("INSERT INTO `Upgrade` (%s) VALUES (%s)"
                           % (", ".join("`%s`" % c for c in columns), ", ".join(values)))

    # A versioned file is compared by its version, not by a hash: Windows
    # Installer keeps a file on disk that has a version over a package's
    # file that has none.
    for f in tree.iter(tag("File")):
        if f.get("Source") == "$(var.ProgramExe)":
            queries.append("UPDATE `File` SET `Version` = %s, `Language` = %s WHERE `File` = %s"
                           % (sql_text("%d.%d.%d.%d" % version), sql_text(str(language or 0)), sql_text(f.get("Id"))))
            queries.append("DELETE FROM `MsiFileHash` WHERE `File_` = %s" % sql_text(f.get("Id")))
    return queries


def build(exe, out_folder):
    with open(exe, "rb") as f:
        found = version_resource(f.read())
    if not found:
        fail("%s has no version resource" % exe)
    version, language = found
    msi_version = product_version(version)

    tree = ET.parse(SOURCE)
    product = tree.find(tag("Product"))
    package = product.find(tag("Package"))
    codepage = int(product.get("Codepage"))
    if codepage not in LANGUAGE_OF_CODEPAGE:
        fail("no language known for the code page %d" % codepage)
    env = dict(os.environ, WINDOWS_LANGUAGE=LANGUAGE_OF_CODEPAGE[codepage])

    os.makedirs(out_folder, exist_ok=True)
    target = os.path.join(out_folder, "dadado-%s-x64.msi" % msi_version)
    with tempfile.TemporaryDirectory(prefix="dadado-msi-") as work:
        source = os.path.join(work, "dadado.wxs")
        ET.register_namespace("", WIX)
        wixl_copy(tree).write(source, encoding="utf-8", xml_declaration=True)
        msi = os.path.join(work, "dadado.msi")
        # The sources in the .wxs are relative to the project's root, where
        # wixl runs (it takes no absolute path).
        run(["wixl", "-a", "x64", "-D", "Version=" + msi_version,
             "-D", "ProgramExe=" + os.path.relpath(os.path.abspath(exe), ROOT), "-o", msi, source], env=env)

        # The database's code page: Windows Installer reads its strings in it
        # on every machine, whatever that machine's own code page.
        with open(os.path.join(work, "_ForceCodepage.idt"), "w", newline="") as f:
            f.write("\r\n\r\n%d\t_ForceCodepage\r\n" % codepage)
        run(["msibuild", msi, "-i", "_ForceCodepage.idt"], cwd=work, env=env)

        args = ["msibuild", msi]
        for q in completion_queries(tree, msi, version, language):
            args += ["-q", q]
        # The summary: the subject in its own code page (msibuild stores the
        # bytes as given), and the package's language in the template.
        subject = (package.get("Description") or product.get("Name")).encode("cp%d" % int(package.get("SummaryCodepage")))
        args += ["-s", subject, (package.get("Manufacturer") or product.get("Manufacturer")).encode("ascii"),
                 ("x64;" + package.get("Languages", product.get("Language"))).encode("ascii")]
        run([a if isinstance(a, bytes) else a.encode("utf-8") for a in args], cwd=work, env=env)
        shutil.move(msi, target)
    return target


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: msi_package.py DADADO_EXE OUTPUT_FOLDER")
    print(build(sys.argv[1], sys.argv[2]))


if __name__ == "__main__":
    main()
