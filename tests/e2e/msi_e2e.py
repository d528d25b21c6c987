#!/usr/bin/env python3
"""The Windows Installer package under Wine's msiexec, in a fresh Wine prefix:
a silent install with the guard, a repair, a major upgrade from a package of
a lower version, the uninstall, and once more a fresh install and its
uninstall, each looked at from outside (the files, the registry, the service
manager, the program's window), nothing stopped by hand. Prints PASS or FAIL
per step; exits non-zero on a failure. Needs DISPLAY (tools/test provides a
virtual one).

The lower version is dadado_older.exe, the same program built with a version
resource one step below the project's (src/app/CMakeLists.txt); both
packages are made from the built executables with tools/package --msi-from."""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_e2e import Wine, program_pid, run_locale, wait_for, wine_cmd  # noqa: E402

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from msi_package import product_version, version_resource  # noqa: E402

# Not Program Files: Wine's msiexec writes a service's command line unquoted,
# and the service manager then cannot start C:\Program Files\dadado\dadado.exe
# (it runs "C:\Program"). Windows quotes the path.
FOLDER = "C:\\dadado"
# Where a repair is asked to move the program, which it must not.
ELSEWHERE = "C:\\elsewhere"
PRODUCT_NAME = "dadado 定时关机"
UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
RUN_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\dadado"
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\dadadoGuard"
SAFE_MODE_KEYS = [r"HKLM\SYSTEM\CurrentControlSet\Control\SafeBoot\%s\dadadoGuard" % mode
                  for mode in ("Minimal", "Network")]
REMEMBERED_KEY = r"HKLM\SOFTWARE\dadado\Installer"
# What the first install chose, as the package remembers it.
CHOSEN = {"GUARD": ("REG_SZ", "1"), "STARTWITHWINDOWS": ("REG_SZ", "1"), "INSTALLDIR": ("REG_SZ", FOLDER + "\\")}
# msiexec's "done, a restart completes it" (3010), as the low byte of a Unix
# exit status.
RESTART_REQUIRED = 3010 % 256

# What the package installs, as (place under the prefix's drive_c, source in
# the project); dadado.exe separately.
FILES = [
    ("dadado/README.md", "README.md"),
    ("dadado/LICENSE", "LICENSE"),
    ("dadado/policy/dadado.admx", "policy/dadado.admx"),
    ("dadado/policy/zh-CN/dadado.adml", "policy/zh-CN/dadado.adml"),
    ("dadado/policy/en-US/dadado.adml", "policy/en-US/dadado.adml"),
    ("windows/PolicyDefinitions/dadado.admx", "policy/dadado.admx"),
    ("windows/PolicyDefinitions/zh-CN/dadado.adml", "policy/zh-CN/dadado.adml"),
    ("windows/PolicyDefinitions/en-US/dadado.adml", "policy/en-US/dadado.adml"),
]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Machine:
    """The Wine prefix as the machine the package is installed on."""

    def __init__(self, wine):
        self.wine = wine
        self.drive_c = os.path.join(wine.prefix, "drive_c")
        self.folder = os.path.join(self.drive_c, "dadado")

    def msiexec(self, *args):
        r = subprocess.run(["wine", "msiexec"] + list(args), env=self.wine.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        return r.returncode

    def registry(self, key):
        """{subkey path: {value name: (type, data)}} under key, through reg
        export (UTF-16, whatever the console's code page); {} when there is
        no such key. The machine's keys in their 64-bit view."""
        with tempfile.TemporaryDirectory(dir=self.drive_c) as scratch:
            out = os.path.join(scratch, "export.reg")
            subprocess.run(["wine", "reg", "export", key, "C:\\" + os.path.relpath(out, self.drive_c).replace("/", "\\"),
                            "/y", "/reg:64"], env=self.wine.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            if not os.path.exists(out):
                return {}
            return parse_reg(read(out).decode("utf-16"))

    def values(self, key):
        return self.registry(key).get(key.replace("HKLM", "HKEY_LOCAL_MACHINE", 1).lower(), {})

    def products(self):
        """The Apps & features entries of dadado: {key: values}."""
        return {k: v for k, v in self.registry(UNINSTALL_KEY).items()
                if v.get("DisplayName", (None, None))[1] == PRODUCT_NAME}

    def service_state(self):
        _, out = wine_cmd(self.wine, ["sc", "query", "dadadoGuard"])
        for state in ("RUNNING", "STOPPED", "START_PENDING", "STOP_PENDING"):
            if state in out:
                return state
        return None

    def guard_pid(self):
        """The running guard's process, as /status reports it."""
        _, out = wine_cmd(self.wine, [FOLDER + "\\dadado.exe", "/status"])
        try:
            return json.loads(out).get("service", {}).get("pid")
        except ValueError:
            return None

    def restart(self):
        """Ends every process of the prefix and starts it afresh, as a
        machine restart would: Wine carries out the file operations left
        for the restart and starts the automatic services."""
        self.wine.stop()
        wine_cmd(self.wine, ["sc", "query", "dadadoGuard"])


def parse_reg(text):
    """A REGEDIT5 export: sections of "name"=value lines (@=value for the
    default value), with long values continued after a backslash."""
    sections, current, pending = {}, None, ""
    for raw in text.splitlines():
        line = pending + raw.strip()
        if line.endswith("\\"):  # a text value ends with its quote
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            # Key names as Windows compares them: without regard to case.
            current = sections.setdefault(line[1:-1].lower(), {})
        elif current is not None and line.startswith('"') and '"=' in line:
            name, value = line[1:].split('"=', 1)
            current[name.replace('\\"', '"').replace("\\\\", "\\")] = parse_value(value)
        elif current is not None and line.startswith("@="):  # the default value
            current[""] = parse_value(line[2:])
    return sections


def parse_value(value):
    if value.startswith('"'):
        return "REG_SZ", value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    if value.startswith("dword:"):
        return "REG_DWORD", int(value[6:], 16)
    if value.startswith("hex(2):"):
        data = bytes(int(b, 16) for b in value[7:].replace(" ", "").split(",") if b)
        return "REG_EXPAND_SZ", data.decode("utf-16-le").rstrip("\0")
    return "OTHER", value


# ---- the steps --------------------------------------------------------------------

# Failures the step recovers from, so that the steps after it still run.
shortfalls = []


def expect(ok, what):
    if not ok:
        shortfalls.append(what)
    return ok


def install(machine, packages):
    """A silent install of the older package with the guard and the Run
    value, into a folder of the administrator's choice."""
    older_exe, older_msi = packages["older"]
    code = machine.msiexec("/i", windows_path(older_msi), "/qn", "GUARD=1", "STARTWITHWINDOWS=1",
                           "INSTALLDIR=" + FOLDER)
    assert code == 0, "msiexec /i ended with %d" % code
    exe = os.path.join(machine.folder, "dadado.exe")
    assert os.path.exists(exe) and read(exe) == read(older_exe), "dadado.exe is not the packaged one"
    for place, source in FILES:
        path = os.path.join(machine.drive_c, place)
        assert os.path.exists(path) and read(path) == read(os.path.join(ROOT, source)), "%s is not %s" % (place, source)

    assert wait_for(lambda: machine.service_state() == "RUNNING", 30), "the guard is %s" % machine.service_state()
    service = machine.values(SERVICE_KEY)
    assert service.get("DisplayName") == ("REG_SZ", "dadado 守护服务"), service.get("DisplayName")
    assert service.get("Description") == ("REG_SZ", "保证定时关机和时间控制不被结束。"), service.get("Description")
    assert service.get("Start") == ("REG_DWORD", 2) and service.get("Type") == ("REG_DWORD", 0x10), service
    assert service.get("ObjectName") == ("REG_SZ", "LocalSystem"), service.get("ObjectName")
    # Quotes aside: Wine leaves them out, Windows writes them.
    command = service.get("ImagePath", ("", ""))[1].replace('"', "")
    assert command == FOLDER + "\\dadado.exe /guard-service", command
    # The guard starts the program in the console session.
    assert wait_for(lambda: program_pid(machine.wine), 30), "the guard did not start the program"

    # With the guard the service starts the program at every logon; a Run
    # value would only start a second copy.
    assert "dadado" not in machine.values(RUN_KEY), machine.values(RUN_KEY)
    source = machine.values(SOURCE_KEY)
    assert source.get("EventMessageFile") == ("REG_EXPAND_SZ", FOLDER + "\\dadado.exe"), source
    assert source.get("TypesSupported") == ("REG_DWORD", 7), source
    remembered = machine.values(REMEMBERED_KEY)
    assert remembered == CHOSEN, remembered
    for key in SAFE_MODE_KEYS:
        assert machine.values(key) == {"": ("REG_SZ", "Service")}, (key, machine.values(key))

    products = machine.products()
    assert len(products) == 1, "entries in Apps & features: %s" % list(products)
    entry = list(products.values())[0]
    want = product_version(version_resource(read(older_exe))[0])
    assert entry.get("DisplayVersion") == ("REG_SZ", want), entry.get("DisplayVersion")
    assert entry.get("Publisher") == ("REG_SZ", "dadado developers"), entry.get("Publisher")
    # The icon of the entry: the package's icon, kept by Windows Installer.
    icons = [v["ProductIcon"][1] for v in machine.registry(r"HKLM\Software\Classes\Installer\Products").values()
             if "ProductIcon" in v]
    assert len(icons) == 1, icons
    cached = os.path.join(machine.drive_c, icons[0][3:].replace("\\", "/"))
    assert read(cached) == read(os.path.join(ROOT, "src", "app", "dadado.ico")), cached


def repair(machine, packages):
    """A repair asking for no guard, no Run value and another folder, the
    event source deleted beforehand: the source comes back, the guard runs on
    in its process, and the choices stay (the upgrade then goes to the first
    folder). (Wine's msiexec /f finds no product; REINSTALL=ALL is the same
    repair.)"""
    _, older_msi = packages["older"]
    guard = machine.guard_pid()
    assert guard, "/status names no running guard"
    machine.wine.reg("delete", SOURCE_KEY, "/f")
    assert not machine.values(SOURCE_KEY), "the event source could not be deleted"
    code = machine.msiexec("/i", windows_path(older_msi), "/qn", "REINSTALL=ALL", "REINSTALLMODE=omus",
                           "GUARD=0", "STARTWITHWINDOWS=0", "INSTALLDIR=" + ELSEWHERE)
    assert code == 0, "the repair ended with %d" % code
    assert machine.values(SOURCE_KEY).get("TypesSupported") == ("REG_DWORD", 7), machine.values(SOURCE_KEY)
    remembered = machine.values(REMEMBERED_KEY)
    assert remembered == CHOSEN, remembered
    assert machine.service_state() == "RUNNING", "the guard is %s" % machine.service_state()
    assert machine.guard_pid() == guard, "the guard was restarted: %s, before %s" % (machine.guard_pid(), guard)
    assert not os.path.exists(os.path.join(machine.drive_c, "elsewhere")), "the repair installed into %s" % ELSEWHERE
    assert len(machine.products()) == 1, list(machine.products())


def upgrade(machine, packages):
    """The newer package, silent and without properties, over the older one
    with its guard and program running and a settings file of the user's."""
    newer_exe, newer_msi = packages["newer"]
    ini = os.path.join(machine.folder, "dadado.ini")
    # The program writes its file at its first start; the user's settings
    # follow (a section the program does not know stays as it is).
    assert wait_for(lambda: os.path.exists(ini), 30), "the program wrote no dadado.ini"
    time.sleep(1)
    with open(ini, "ab") as f:
        f.write("[升级测试]\r\n标记=升级前的设置\r\n".encode("gbk"))
    settings = read(ini)

    assert machine.service_state() == "RUNNING" and program_pid(machine.wine), "the guard or its face is not running"
    code = machine.msiexec("/i", windows_path(newer_msi), "/qn")
    # Removing the older product stops the guard, which ends its face first:
    # nothing holds dadado.exe. A face left running would, and Wine would
    # leave the new file for the next restart (3010).
    assert code in (0, RESTART_REQUIRED), "msiexec /i ended with %d" % code
    exe = os.path.join(machine.folder, "dadado.exe")
    if not expect(code == 0 and read(exe) == read(newer_exe),
                  "the upgrade replaced dadado.exe at once, without a restart (msiexec ended with %d)"
                  % (3010 if code == RESTART_REQUIRED else code)):
        machine.restart()
    products = machine.products()
    assert len(products) == 1, "entries in Apps & features: %s" % list(products)
    want = product_version(version_resource(read(newer_exe))[0])
    assert list(products.values())[0].get("DisplayVersion") == ("REG_SZ", want), list(products.values())
    assert read(ini) == settings, "the upgrade changed dadado.ini"
    # What the first install chose, kept without a word on the command line.
    remembered = machine.values(REMEMBERED_KEY)
    assert remembered == CHOSEN, remembered
    assert "dadado" not in machine.values(RUN_KEY), machine.values(RUN_KEY)
    assert os.path.exists(os.path.join(machine.drive_c, "windows", "PolicyDefinitions", "dadado.admx"))

    assert read(exe) == read(newer_exe), "dadado.exe is still the older one"
    assert wait_for(lambda: machine.service_state() == "RUNNING", 30), "the guard is %s" % machine.service_state()
    command = machine.values(SERVICE_KEY).get("ImagePath", ("", ""))[1].replace('"', "")
    assert command == FOLDER + "\\dadado.exe /guard-service", command
    assert wait_for(lambda: program_pid(machine.wine), 30), "the new guard did not start the program"
    assert read(ini) == settings, "dadado.ini changed after the upgrade"


def uninstall_while_running(machine, msi):
    """msiexec /x while the guard and its face run: the guard ends its face
    as it stops, and every file goes at once; dadado.ini stays."""
    assert machine.service_state() == "RUNNING" and program_pid(machine.wine), "the guard or its face is not running"
    code = machine.msiexec("/x", windows_path(msi), "/qn")
    assert code == 0, "msiexec /x ended with %d" % code
    left = sorted(os.listdir(machine.folder)) if os.path.isdir(machine.folder) else []
    if not expect(left == ["dadado.ini"], "the uninstall removed every file at once, without a restart: "
                                          "left in %s: %s" % (FOLDER, left)):
        machine.restart()  # the face ends, as at a restart
        for name in left:
            if name != "dadado.ini":
                os.remove(os.path.join(machine.folder, name))
    assert wait_for(lambda: not program_pid(machine.wine), 10), "the program still runs"


def uninstall(machine, packages):
    """The uninstall: the package's files, service and registry values go,
    dadado.ini stays."""
    _, newer_msi = packages["newer"]
    ini = os.path.join(machine.folder, "dadado.ini")
    settings = read(ini)
    uninstall_while_running(machine, newer_msi)
    assert read(ini) == settings, "the uninstall changed dadado.ini"
    for place, _ in FILES:
        assert not os.path.exists(os.path.join(machine.drive_c, place)), "%s is still there" % place
    assert_removed(machine)


def install_again_and_uninstall(machine, packages):
    """A fresh install of the newer package over the settings left behind,
    which it leaves as they are, and its uninstall: the removal of a product
    installed afresh, not through an upgrade, takes the service too."""
    _, newer_msi = packages["newer"]
    ini = os.path.join(machine.folder, "dadado.ini")
    settings = read(ini)
    code = machine.msiexec("/i", windows_path(newer_msi), "/qn", "GUARD=1", "INSTALLDIR=" + FOLDER)
    assert code == 0, "msiexec /i ended with %d" % code
    assert wait_for(lambda: machine.service_state() == "RUNNING", 30), "the guard is %s" % machine.service_state()
    assert wait_for(lambda: program_pid(machine.wine), 30), "the guard did not start the program"
    assert read(ini) == settings, "the install changed the dadado.ini it found"
    uninstall_while_running(machine, newer_msi)
    assert read(ini) == settings, "the uninstall changed dadado.ini"
    assert_removed(machine)


def start_with_windows_without_guard(machine, packages):
    """Without the guard, STARTWITHWINDOWS=1 writes the Run value, quoted, and
    the uninstall takes it away."""
    _, newer_msi = packages["newer"]
    code = machine.msiexec("/i", windows_path(newer_msi), "/qn", "STARTWITHWINDOWS=1", "INSTALLDIR=" + FOLDER)
    assert code == 0, "msiexec /i ended with %d" % code
    assert machine.service_state() is None, "a guard without GUARD=1: %s" % machine.service_state()
    assert machine.values(RUN_KEY).get("dadado") == ("REG_SZ", '"%s\\dadado.exe"' % FOLDER), machine.values(RUN_KEY)
    code = machine.msiexec("/x", windows_path(newer_msi), "/qn")
    assert code == 0, "msiexec /x ended with %d" % code
    assert_removed(machine)


def assert_removed(machine):
    assert machine.service_state() is None, "the guard is still there: %s" % machine.service_state()
    assert not machine.values(SERVICE_KEY), "the service's key is still there"
    assert "dadado" not in machine.values(RUN_KEY), "the Run value is still there"
    assert not machine.values(SOURCE_KEY), "the event source is still there"
    for key in SAFE_MODE_KEYS:
        assert not machine.registry(key), "%s is still there" % key
    assert not machine.values(REMEMBERED_KEY), "the remembered choices are still there"
    assert not machine.products(), "still in Apps & features: %s" % list(machine.products())


STEPS = [install, repair, upgrade, uninstall, install_again_and_uninstall, start_with_windows_without_guard]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="the Windows build folder")
    args = ap.parse_args()
    if not os.environ.get("DISPLAY"):
        print("FAIL setup: no DISPLAY")
        return 1
    build = os.path.abspath(args.build)
    loc = run_locale()
    packages = {}
    try:
        out = os.path.join(build, "msi-e2e")
        for name, exe in (("older", "dadado_older.exe"), ("newer", "dadado.exe")):
            exe = os.path.join(build, "src", "app", exe)
            made = subprocess.run([os.path.join(ROOT, "tools", "package"), "--msi-from", exe,
                                   os.path.join(out, name)], capture_output=True, text=True, check=True)
            packages[name] = (exe, made.stdout.strip().splitlines()[-1])
        wine = Wine(os.path.join(build, "wineprefix-msi-" + loc), build)
        wine.setup()
    except Exception:
        print("FAIL setup [%s]" % loc)
        traceback.print_exc()
        return 1
    machine = Machine(wine)
    failures = 0
    failures_past = 0
    try:
        for step in STEPS:
            started = time.time()
            if failures:
                # Each step starts where the one before left the machine.
                print("FAIL %s [%s]: not reached" % (step.__name__, loc), flush=True)
                failures += 1
                continue
            try:
                del shortfalls[:]
                step(machine, packages)
                for what in shortfalls:
                    print("FAIL %s [%s]: %s" % (step.__name__, loc, what), flush=True)
                    failures_past += 1
                if not shortfalls:
                    print("PASS %s [%s] (%.1f s)" % (step.__name__, loc, time.time() - started), flush=True)
            except Exception:
                failures += 1
                print("FAIL %s [%s]" % (step.__name__, loc), flush=True)
                traceback.print_exc()
    finally:
        wine.stop(restart=False)  # leave no wineserver behind
    return 1 if failures or failures_past else 0


if __name__ == "__main__":
    sys.exit(main())
