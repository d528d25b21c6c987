#!/usr/bin/env python3
"""End-to-end scenarios: the real dadado.exe under Wine, each in a fresh folder
with a fresh wineserver, all those a worker runs under one locale in one fresh
Wine prefix, looked at only from outside: its windows and their texts
(through probe.exe), its settings file, and the exit call that Wine's relay
trace records. Prints PASS or FAIL per scenario as it ends; exits non-zero on
a failure. One worker runs on DISPLAY; with --jobs N each of N workers starts
a virtual X display of its own."""

import argparse
import datetime
import glob
import hashlib
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import traceback

# What every prefix of the scenarios holds beyond a new one, as `wine reg add`
# arguments: the calls the relay trace shows, and the program's and the
# shell's windows placed by Wine itself. Xvfb runs no window manager, and Wine
# waits two seconds for one each time a window it leaves to the window manager
# is hidden; the program sees no difference.
PREFIX_SETTINGS = [
    [r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ", "/d",
     "user32.ExitWindowsEx;advapi32.ReportEventW;advapi32.InitiateShutdownW;wtsapi32.WTSLogoffSession"],
] + [[r"HKCU\Software\Wine\AppDefaults\%s\X11 Driver" % exe, "/v", "Managed", "/t", "REG_SZ", "/d", "N"]
     for exe in ("dadado.exe", "explorer.exe")]


class Interrupted(Exception):
    """The run was interrupted: its Wine starts nothing more."""


class Wine:
    """One prefix and its wineserver, under one locale and on one X display
    (the run's own unless another is given)."""

    def __init__(self, prefix, build, locale=None, display=None):
        self.prefix = prefix
        self.build = build
        self.locale = locale or run_locale()
        self._env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        if locale:
            self._env["LC_ALL"] = locale
        if display:
            self._env["DISPLAY"] = display
        self.probe_exe = os.path.join(build, "tests", "win32", "probe.exe")
        self.dadado_exe = os.path.join(build, "src", "app", "dadado.exe")
        self.procs = []
        self.made_from = None  # the template the prefix was copied from
        self.scratch = None  # the folder that holds the scenarios' folders
        self.closed = False

    @property
    def env(self):
        # Every Wine process a scenario starts takes this environment: once
        # the run is closed, a worker still inside a scenario can start no
        # wineserver that would outlive the run.
        if self.closed:
            raise Interrupted("the run was interrupted")
        return self._env

    def setup(self):
        """A fresh prefix: a copy of the one made for this locale, this Wine
        and these settings (making one takes Wine about 20 seconds, copying
        it a few)."""
        self.made_from = self.template()
        shutil.rmtree(self.prefix, ignore_errors=True)
        subprocess.run(["cp", "-a", self.made_from, self.prefix], check=True, timeout=300)
        self.server()

    def template(self):
        """The prefix every run under this locale starts from, made when it is
        missing or was made under another locale, Wine or settings."""
        wine_version = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
        made_for = "%s %s %s" % (self.locale, wine_version,
                                 hashlib.sha1(repr(PREFIX_SETTINGS).encode()).hexdigest()[:12])
        template = os.path.join(self.build, "wineprefix-template-" + self.locale)
        mark = os.path.join(template, ".dadado-template")
        if os.path.exists(mark):
            with open(mark) as f:
                if f.read() == made_for:
                    return template
        # Made aside and then put in place: an interrupted run leaves no
        # half-made template behind.
        making = template + ".making"
        shutil.rmtree(making, ignore_errors=True)
        env = dict(self.env, WINEPREFIX=making, WINEARCH="win64")
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        for args in PREFIX_SETTINGS:
            subprocess.run(["wine", "reg", "add"] + args + ["/f"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
        with open(os.path.join(making, ".dadado-template"), "w") as f:
            f.write(made_for)
        shutil.rmtree(template, ignore_errors=True)
        os.rename(making, template)
        return template

    def folder(self, name):
        if not self.scratch:
            self.scratch = tempfile.mkdtemp(prefix="dadado-e2e-")
        d = tempfile.mkdtemp(prefix=name + "-", dir=self.scratch)
        shutil.copy(self.dadado_exe, os.path.join(d, "dadado.exe"))
        return d

    def start(self, folder):
        """Starts dadado.exe with the relay trace on; returns a Run."""
        env = dict(self.env, WINEDEBUG="+relay")
        proc = subprocess.Popen(["wine", "dadado.exe"], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        run = Run(proc)
        self.procs.append(proc)
        return run

    def probe(self, *args):
        # Output goes through a file: Wine's helper processes may inherit a
        # pipe and keep it open long after the probe has ended.
        with tempfile.TemporaryFile() as out:
            subprocess.run(["wine", self.probe_exe] + list(args), env=self.env, stdout=out,
                           stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=60)
            out.seek(0)
            return out.read().decode("utf-8", "replace")

    def server(self, log=None):
        """A persistent wineserver that holds none of our pipes, once it takes
        connections; with `log`, an open file, it writes each request there."""
        args = ["wineserver", "-p"] + (["-f", "-d1"] if log else [])
        subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=log or subprocess.DEVNULL)
        # Its socket lies in a folder named after the prefix's device and
        # inode, under /tmp/.wine-UID, or under /tmp/wine-XXXXXX as Debian's
        # Wine makes it.
        st = os.stat(self.prefix)
        server = "server-%x-%x" % (st.st_dev, st.st_ino)
        sockets = [os.path.join("/tmp", ".wine-%d" % os.getuid(), server, "socket"),
                   os.path.join("/tmp", "wine-*", server, "socket")]
        wait_for(lambda: any(glob.glob(pattern) for pattern in sockets), 2, step=0.02)

    def reg(self, *args):
        """wine reg ...; the machine policy lives in the 64-bit view."""
        subprocess.run(["wine", "reg"] + list(args) + ["/reg:64"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=60)

    def set_policy(self, values):
        for name, value in values.items():
            kind, data = ("REG_DWORD", str(value)) if isinstance(value, int) else ("REG_SZ", value)
            self.reg("add", r"HKLM\Software\Policies\dadado", "/v", name, "/t", kind, "/d", data, "/f")

    def clear_policy(self):
        self.reg("delete", r"HKLM\Software\Policies\dadado", "/f")

    def windows(self):
        wins = []
        for line in self.probe("dump").splitlines():
            if line.startswith("WINDOW "):
                wins.append({"head": parse_fields(line[7:]), "controls": []})
            elif line.startswith("  CTRL ") and wins:
                wins[-1]["controls"].append(parse_fields(line[7:]))
        return wins

    def stop(self, restart=True, fresh_registry=False):
        """Ends every process of the prefix; with fresh_registry its registry
        is the template's again, as for the run's first scenario: what a
        scenario leaves there (a policy, a service, the guard's record of
        what it did) would govern the next one, and which scenario comes next
        depends on the workers' pace."""
        subprocess.run(["wineserver", "-k"], env=self._env, stderr=subprocess.DEVNULL)
        procs, self.procs = self.procs, []
        for p in procs:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        # Until the server has gone: a new one would find the old one's socket.
        subprocess.run(["wineserver", "-w"], env=self._env, stderr=subprocess.DEVNULL, timeout=60)
        if fresh_registry:
            for name in ("system.reg", "user.reg", "userdef.reg"):
                shutil.copy2(os.path.join(self.made_from, name), os.path.join(self.prefix, name))
        if restart:
            self.server()
        else:
            self.kill_leftovers()

    def close(self):
        """Ends everything of this prefix, for good, and removes the
        scenarios' folders."""
        self.closed = True
        self.stop(restart=False)
        if self.scratch:
            shutil.rmtree(self.scratch, ignore_errors=True)

    def kill_leftovers(self):
        """Wine's own helpers of this prefix that outlived its server (an
        exit call starts a shutdown helper that may wait for ever)."""
        mark = ("WINEPREFIX=" + self.prefix).encode()
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or int(pid) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if mark in f.read().split(b"\0"):
                        os.kill(int(pid), 9)
            except OSError:
                pass


def parse_fields(text):
    """key=value pairs; the last field, title= or text=, runs to the end."""
    fields = {}
    for last in ("title=", "text="):
        at = text.find(" " + last) if not text.startswith(last) else 0
        if at >= 0:
            fields[last[:-1]] = text[at + len(last) + (1 if at else 0):]
            text = text[:at]
            break
    for part in text.split():
        if "=" in part:
            k, v = part.split("=", 1)
            fields[k] = v
    return fields


class Run:
    """A started dadado.exe; the relay trace is read as it comes."""

    def __init__(self, proc):
        self.proc = proc
        self.exit_calls = []  # (wall time, line)
        self.events = []  # (wall time, event id) of every ReportEventW call
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for raw in self.proc.stderr:
            line = raw.decode("utf-8", "replace")
            if "Call user32.ExitWindowsEx" in line:
                self.exit_calls.append((time.time(), line.strip()))
            elif "Call advapi32.ReportEventW(" in line:
                # handle, type, category, event id, ...
                args = line.split("ReportEventW(", 1)[1].split(",")
                self.events.append((time.time(), int(args[3], 16)))

    def wait_exit_call(self, timeout):
        end = time.time() + timeout
        while time.time() < end and not self.exit_calls:
            time.sleep(0.05)
        return self.exit_calls[0] if self.exit_calls else None


def wait_for(fn, timeout, step=0.5):
    end = time.time() + timeout
    while time.time() < end:
        v = fn()
        if v:
            return v
        time.sleep(step)
    return fn()


def window(wins, title=None, cls="DadadoWindow"):
    for w in wins:
        if w["head"].get("class") == cls and (title is None or w["head"].get("title") == title):
            return w
    return None


def control(win, ctrl_id, text=None):
    for c in win["controls"]:
        if c.get("id") == str(ctrl_id) and (text is None or c.get("text") == text):
            return c
    raise AssertionError("no control %s in %s" % (ctrl_id, win["head"]))


def read_ini(folder):
    path = os.path.join(folder, "dadado.ini")
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read().decode("gbk")


def write_ini(folder, text):
    with open(os.path.join(folder, "dadado.ini"), "wb") as f:
        f.write(text.replace("\n", "\r\n").encode("gbk"))


def countdown_window(wine):
    for w in wine.windows():
        if w["head"].get("class") == "DadadoWindow" and any(c.get("id") == "300" for c in w["controls"]):
            return w
    return None


def form1(wine):
    """The settings window as start-up, or what a click set off, leaves it: it
    shows a moment before the last of its controls is set (Apply, say), so
    it counts once two looks in a row find it the same."""
    def settled():
        first = window(wine.windows(), "dadado")
        if not first:
            return None
        again = window(wine.windows(), "dadado")
        return again if again == first else None
    return wait_for(settled, 30)


def run_locale():
    """The Unix locale this run is under, as Wine reads it."""
    for name in ("LC_ALL", "LC_CTYPE", "LANG"):
        if os.environ.get(name):
            return os.environ[name]
    return "C"


# The ANSI code page Wine gives a program under each locale we run under.
EXPECTED_ACP = {"zh_CN": "936", "en_US": "1252", "C": "1252", "POSIX": "1252"}


# ---- scenarios --------------------------------------------------------------------

def code_page(wine):
    # Every other scenario means what it claims only if Wine gave the program
    # the code page of the locale, and Chinese text crosses from Linux whole.
    # Wine takes the code page from the locale's name even when the machine
    # lacks the locale, but non-ASCII text in command lines and file names
    # then arrives mangled, without a word.
    loc = wine.locale
    want = EXPECTED_ACP.get(loc.split(".")[0])
    got = wine.probe("codepage", "中文测试").strip()
    assert want, "no code page known for the locale %s (%s)" % (loc, got)
    assert got.startswith("ACP=%s " % want), "under %s Wine gave %s, not ACP=%s" % (loc, got, want)
    assert got.endswith(" ARG=中文测试"), "under %s a Chinese argument arrived as %r: is the locale generated?" % (loc, got)


def first_start(wine):
    folder = wine.folder("first")
    wine.start(folder)
    w = form1(wine)
    assert w, "the settings window did not appear"
    assert w["head"]["visible"] == "1"
    assert control(w, 223)["checked"] == "1", "取消定时 is not selected"
    assert control(w, 262)["text"] == "不进行任何操作"
    assert control(w, 208)["checked"] == "1", "强制 is not set"
    assert control(w, 209)["checked"] == "1", "提示 is not set"
    assert control(w, 103)["enabled"] == "0", "应用 is enabled"
    ini = read_ini(folder)
    lines = ini.split("\r\n")
    today = datetime.date.today()
    assert lines[0] == "[常规设置]", lines
    assert lines[1].startswith("定时时间=%d/%d/%d " % (today.year, today.month, today.day)), lines[1]
    assert lines[2] == "间隔起始时间=%d/%d/%d" % (today.year, today.month, today.day), lines[2]
    assert lines[3] == "[时间控制]", lines
    assert lines[4].startswith("密码=") and len(lines[4]) == len("密码=") + 25, lines[4]
    assert lines[5:12] == ["%dweek=24:00" % n for n in range(7)], lines[5:12]
    assert lines[12:] == [""], lines[12:]


def second_copy(wine):
    folder = wine.folder("second")
    wine.start(folder)
    assert form1(wine), "the first copy did not start"
    second = wine.start(folder)
    box = wait_for(lambda: window(wine.windows(), "dadado", "#32770"), 30)
    assert box, "no message box from the second copy"
    texts = [c.get("text") for c in box["controls"]]
    assert "程序已运行，请检查窗口是否被最小化！" in texts, texts
    wine.probe("click", "#class:#32770", "2")  # the OK button of a message box answers IDOK/IDCANCEL
    wine.probe("command", "#class:#32770", "1")
    second.proc.wait(timeout=30)
    assert window(wine.windows(), "dadado"), "the first copy ended too"


def scheduled_shutdown(wine):
    folder = wine.folder("schedule")
    due = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(seconds=12)
    write_ini(folder, "[常规设置]\n频率= 0\n定时时间=%s\n操作方式= 1\n强制操作= 0\n启动后隐藏界面= 1\n关机画面= 0\n"
              % due.strftime("%Y/%m/%d %H:%M:%S"))
    run = wine.start(folder)
    call = run.wait_exit_call(40)
    assert call, "no exit call"
    when, line = call
    assert "ExitWindowsEx(0000000d" in line, line
    late = when - due.timestamp()
    assert 0 <= late < 1.5, "the exit call came %.2f s after the scheduled second" % late


def time_control(wine):
    folder = wine.folder("timecontrol")
    write_ini(folder, "[时间控制]\n启用= 1\n")
    run = wine.start(folder)
    w = wait_for(lambda: countdown_window(wine), 30)
    assert w, "no countdown"
    remaining = control(w, 301)["text"]
    assert remaining in ("时间剩余30秒", "时间剩余29秒", "时间剩余28秒"), remaining
    assert control(w, 302)["text"] == "操作: 关闭计算机[定时]"
    assert window(wine.windows(), "请输入权限密码："), "no password dialog"
    # The right password cancels.
    assert "no window" not in wine.probe("settext", "#has:300", "300", "mossgate")
    wine.probe("command", "#has:300", "1")
    assert wait_for(lambda: countdown_window(wine) is None, 10), "the countdown stayed"
    time.sleep(3)
    assert not run.exit_calls, run.exit_calls
    wine.stop()

    # Without the password the forced shutdown follows after 30 seconds.
    run = wine.start(folder)
    started = time.time()
    call = run.wait_exit_call(60)
    assert call, "no exit call"
    assert "ExitWindowsEx(0000000d" in call[1], call[1]
    assert 25 <= call[0] - started <= 45, "exit call after %.1f s" % (call[0] - started)


def apply_and_cancel(wine):
    folder = wine.folder("apply")
    wine.start(folder)
    assert form1(wine)
    wine.probe("click", "dadado", "220")  # 每天定时
    wine.probe("click", "dadado", "103")  # 应用
    ini = wait_for(lambda: (read_ini(folder) or "") if "频率= 0" in (read_ini(folder) or "") else None, 10)
    assert ini, read_ini(folder)
    for key in ["频率= 0", "定时时间=", "定时每周= 0", "定时间隔= 0", "操作方式= 3", "移除系统图标= 0",
                "启动后隐藏界面= 0", "启动后锁定计算机= 0", "强制操作= 1", "关机画面= 1", "密码保护= 0",
                "[高级设置]", "自动登录= 0", "启用= 0", "6week=24:00"]:
        assert key in ini, "missing %s in\n%s" % (key, ini)
    w = form1(wine)
    assert control(w, 103)["enabled"] == "0"
    # A change, then Cancel: the file's values come back.
    wine.probe("click", "dadado", "209")  # 提示 off
    w = form1(wine)
    assert control(w, 209)["checked"] == "0"
    assert control(w, 103)["enabled"] == "1"
    wine.probe("click", "dadado", "2")  # 取消
    w = wait_for(lambda: window(wine.windows(), "dadado"), 10)
    assert w["head"]["visible"] == "0", "the window was not hidden"
    assert control(w, 209)["checked"] == "1", "提示 was not restored"
    assert read_ini(folder) == ini, "Cancel changed the file"


def all_day():
    return "+".join("%02d:00" % h for h in range(24))


def today_weekday():
    return (datetime.date.today().weekday() + 1) % 7  # 0 Sunday


def policy_schedule(wine):
    # The file says 取消定时; the machine policy sets a daily shutdown a few
    # seconds ahead, which runs without Apply.
    folder = wine.folder("policy-schedule")
    due = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(seconds=14)
    write_ini(folder, "[常规设置]\n频率= 3\n操作方式= 3\n启动后隐藏界面= 1\n")
    wine.set_policy({"ScheduleFrequency": 0, "ScheduleTime": due.strftime("%H:%M:%S"), "Action": 1, "ShowWarning": 0})
    try:
        run = wine.start(folder)
        call = run.wait_exit_call(40)
        assert call, "no exit call"
        assert "ExitWindowsEx(0000000d" in call[1], call[1]
        late = call[0] - due.timestamp()
        assert 0 <= late < 1.5, "the exit call came %.2f s after the policy's second" % late
        assert "频率= 3" in read_ini(folder), "the policy's value was written into the file"
    finally:
        # Once Wine is stopped: the shutdown the exit call began ends the
        # reg.exe that would delete the policy, and the policy would then
        # govern the next scenario in this prefix.
        wine.stop()
        wine.clear_policy()


def policy_window(wine):
    # Each group of values shows in its control, greyed out.
    groups = [
        ({"ScheduleFrequency": 1, "ScheduleWeekday": 4, "Action": 2, "ShowWarning": 0, "ForceImmediate": 0,
          "LockAtStart": 0, "PasswordProtection": 0, "CatchUpMissed": 1, "HideTrayIcon": 1, "StartWithWindows": 1,
          "ScheduleIntervalDays": 5, "ScheduleTime": "06:07:08", "IntervalStart": "2026-12-01", "PostponeMinutes": 30},
         [("221", "checked", "1"), ("262", "text", "注销用户"), ("260", "text", "星期四"), ("261", "text", "间隔四天"),
          ("209", "checked", "0"), ("208", "checked", "0"), ("205", "checked", "0"), ("275", "checked", "1"),
          ("201", "checked", "1"), ("202", "checked", "1"), ("277", "text", "30")],
         ["221", "262", "260", "261", "263", "209", "208", "205", "210", "275", "201", "202", "277"]),
        ({"TimeControl": 1, "AllowedHoursSunday": all_day(), "AllowedHoursMonday": all_day(),
          "AllowedHoursTuesday": all_day(), "AllowedHoursWednesday": all_day(), "AllowedHoursThursday": all_day(),
          "AllowedHoursFriday": all_day(), "AllowedHoursSaturday": all_day(), "DailyLimitWednesday": 50,
          "Password": "abcdefghijklmnopqrstuvwxy"},
         [("204", "checked", "1"), ("253", "text", all_day()), ("283", "text", "50")],
         ["204", "250", "253", "283", "270"]),
        ({"HideWindowAtStart": 1, "SettingsReadOnly": 1}, [("207", "checked", "1")],
         ["207", "103", "209", "266", "270", "264"]),
    ]
    for values, shown, greyed in groups:
        folder = wine.folder("policy-window")
        wine.set_policy(values)
        try:
            wine.start(folder)

            # The window exists a moment before start-up has set its controls.
            def as_the_policy_says():
                w = window(wine.windows(), "dadado")
                if not w:
                    return None
                try:
                    ok = all(control(w, cid).get(field) == want for cid, field, want in shown) and \
                        all(control(w, cid)["enabled"] == "0" for cid in greyed)
                except AssertionError:  # not all its controls made yet
                    return None
                return w if ok else None

            w = wait_for(as_the_policy_says, 30) or window(wine.windows(), "dadado")
            assert w, "no settings window"
            for cid, field, want in shown:
                got = control(w, cid).get(field)
                assert got == want, "control %s %s is %r, the policy says %r" % (cid, field, got, want)
            for cid in greyed:
                assert control(w, cid)["enabled"] == "0", "control %s is not greyed out under %s" % (cid, values)
            if values.get("HideWindowAtStart"):
                assert w["head"]["visible"] == "0", "the window shows although the policy hides it"
        finally:
            wine.stop()
            wine.clear_policy()


def daily_limit(wine):
    # A limit of one minute, used up: the countdown with its own line, then
    # the forced shutdown about 30 seconds later.
    folder = wine.folder("limit")
    today = datetime.date.today()
    n = today_weekday()
    ini = ("[常规设置]\n频率= 3\n[时间控制]\n启用= 1\n%dweek=%s\n%dlimit= 1\n[使用记录]\n日期=%d/%d/%d\n已用分钟=1\n"
           % (n, all_day(), n, today.year, today.month, today.day))
    write_ini(folder, ini)
    run = wine.start(folder)
    started = time.time()
    w = wait_for(lambda: countdown_window(wine), 30)
    assert w, "no countdown"
    assert control(w, 302)["text"] == "操作: 关闭计算机[限时]", control(w, 302)["text"]
    call = run.wait_exit_call(60)
    assert call and "ExitWindowsEx(0000000d" in call[1], call
    assert 25 <= call[0] - started <= 45, "exit call after %.1f s" % (call[0] - started)
    wine.stop()

    # The password with Enter, and the password with 推迟(&D): no exit call.
    for how in ("enter", "postpone"):
        folder = wine.folder("limit-" + how)
        write_ini(folder, ini)
        run = wine.start(folder)
        assert wait_for(lambda: countdown_window(wine), 30), "no countdown"
        wine.probe("settext", "#has:300", "300", "mossgate")
        if how == "enter":
            wine.probe("command", "#has:300", "1")
        else:
            wine.probe("click", "#has:300", "304")
        assert wait_for(lambda: countdown_window(wine) is None, 10), "the countdown stayed (%s)" % how
        time.sleep(40)
        assert not run.exit_calls, "an exit call after %s: %s" % (how, run.exit_calls)
        wine.stop()


def event_log(wine):
    folder = wine.folder("events")
    due = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(seconds=12)
    write_ini(folder, "[常规设置]\n频率= 0\n定时时间=%s\n操作方式= 1\n启动后隐藏界面= 1\n关机画面= 0\n"
              % due.strftime("%Y/%m/%d %H:%M:%S"))
    run = wine.start(folder)
    assert wait_for(lambda: any(e == 1000 for _, e in run.events), 20), "no start-up entry: %s" % run.events
    call = run.wait_exit_call(40)
    assert call, "no exit call; the entries, in seconds from the due second: %s" % [
        (round(t - due.timestamp(), 2), e) for t, e in run.events]
    assert wait_for(lambda: any(e == 1100 for _, e in run.events), 5), "no entry of the action: %s" % run.events


def catch_up(wine):
    # 错过补做 on and a daily time ten minutes ago: the countdown at once, the
    # action 121 seconds after the start.
    folder = wine.folder("catchup")
    missed = datetime.datetime.now().replace(microsecond=0) - datetime.timedelta(minutes=10)
    write_ini(folder, "[常规设置]\n频率= 0\n定时时间=%s\n操作方式= 1\n错过补做= 1\n启动后隐藏界面= 1\n"
              % missed.strftime("%Y/%m/%d %H:%M:%S"))
    run = wine.start(folder)
    started = time.time()
    w = wait_for(lambda: countdown_window(wine), 30)
    assert w, "no countdown"
    assert control(w, 301)["text"] in ("时间剩余120秒", "时间剩余119秒", "时间剩余118秒"), control(w, 301)["text"]
    call = run.wait_exit_call(160)
    assert call and "ExitWindowsEx(0000000d" in call[1], call
    assert 115 <= call[0] - started <= 130, "exit call after %.1f s" % (call[0] - started)
    stored = "上次定时=%d/%d/%d %d:%02d:%02d" % (missed.year, missed.month, missed.day, missed.hour, missed.minute,
                                                 missed.second)
    assert stored in read_ini(folder), "the missed instant was not stored before the exit call:\n" + read_ini(folder)


def wine_cmd(wine, args, folder=None, timeout=120):
    with tempfile.TemporaryFile() as out:
        r = subprocess.run(["wine"] + args, cwd=folder, env=wine.env, stdout=out, stderr=subprocess.DEVNULL,
                           stdin=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        return r.returncode, out.read().decode("utf-8", "replace")


def program_pid(wine):
    w = window(wine.windows(), "dadado")
    return w["head"].get("pid") if w else None


class TraceTail:
    """Follows a relay trace file as Wine writes it, noting when each call
    of interest appears."""

    def __init__(self, path, call):
        self.path, self.call = path, call
        self.seen = []  # wall time of each call
        self.stop = False
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        at, partial = 0, b""
        while not self.stop:
            try:
                with open(self.path, "rb") as f:
                    f.seek(at)
                    chunk = f.read()
            except OSError:
                chunk = b""
            if chunk:
                at += len(chunk)
                lines = (partial + chunk).split(b"\n")
                partial = lines.pop()
                now = time.time()
                self.seen.extend(now for l in lines if self.call.encode() in l)
            time.sleep(0.02)

    def since(self, t):
        return [x for x in self.seen if x >= t]


def guard_ini(due, prompt, action=1):
    return ("[常规设置]\n频率= 0\n定时时间=%s\n操作方式= %d\n启动后隐藏界面= 0\n关机画面= %d\n"
            % (due.strftime("%Y/%m/%d %H:%M:%S"), action, prompt))


def guard_state(wine, name):
    """A value of the guard's state (HKLM\\SOFTWARE\\dadado\\Guard), or None."""
    out = wine_cmd(wine, ["reg", "query", r"HKLM\SOFTWARE\dadado\Guard", "/v", name, "/reg:64"])[1]
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) >= 2 and parts[0] == name and parts[1] == "REG_SZ":
            return parts[2].strip() if len(parts) > 2 else ""
    return None


def admin_edit(folder, text):
    """What an administrator does by hand: the settings file rewritten, the
    service's own section kept."""
    old = read_ini(folder) or ""
    keep = old[old.find("[守护服务]"):] if "[守护服务]" in old else ""
    write_ini(folder, text + keep.replace("\r\n", "\n"))


def guard_service(wine):
    folder = wine.folder("guard")
    exe = os.path.join(folder, "dadado.exe")
    far = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(hours=3)
    write_ini(folder, guard_ini(far, 1))
    # Under Wine every file is the current user's own, so /install-guard
    # refuses the folder: a box names what users could change, and it ends
    # with 3, having installed nothing. The service is then registered as an
    # administrator's own tool would, with the command the program writes.
    refused = subprocess.Popen(["wine", "dadado.exe", "/install-guard"], cwd=folder, env=wine.env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    box = wait_for(lambda: window(wine.windows(), "dadado", "#32770"), 30)
    assert box, "no message box from /install-guard"
    texts = [c.get("text") or "" for c in box["controls"]]
    assert any(t.startswith("无法安装守护服务：") and "dadado.exe”" in t and "只有管理员才能修改的文件夹" in t
               for t in texts), texts
    wine.probe("click", "#class:#32770", "2")
    wine.probe("command", "#class:#32770", "1")
    assert refused.wait(timeout=30) == 3, "/install-guard ended with %s" % refused.returncode
    assert "STATE" not in wine_cmd(wine, ["sc", "query", "dadadoGuard"])[1], "installed all the same"
    # A folder without spaces, so the command needs no quotes for Wine's sc.
    windows_exe = "Z:" + exe.replace("/", "\\")
    assert " " not in windows_exe, windows_exe
    code, out = wine_cmd(wine, ["sc", "create", "dadadoGuard", "binPath=", windows_exe + " /guard-service",
                                "start=", "auto"])
    assert code == 0, "sc create ended with %s: %s" % (code, out)
    trace_path = os.path.join(folder, "guard-trace.log")
    tail = None
    try:
        # Booted afresh with the relay trace on, the service writes its calls
        # into this file.
        wine.stop()
        with open(trace_path, "wb") as trace:
            subprocess.run(["wine", "sc", "start", "dadadoGuard"], env=dict(wine.env, WINEDEBUG="+relay"),
                           stdout=subprocess.DEVNULL, stderr=trace, stdin=subprocess.DEVNULL, timeout=120)
        tail = TraceTail(trace_path, "Call advapi32.InitiateShutdownW(")
        assert wait_for(lambda: "RUNNING" in wine_cmd(wine, ["sc", "query", "dadadoGuard"])[1], 30), "not running"
        # The service starts its face, which opens nothing without the
        # password, and pins the time zone it judges time in: in its own
        # state, not in the settings file.
        gate = wait_for(lambda: window(wine.windows(), "请输入权限密码："), 30)
        assert gate, "the guard did not start its face"
        assert guard_state(wine, "TimeZone") is not None, "no time zone pinned"
        assert "[守护服务]" not in (read_ini(folder) or ""), read_ini(folder)

        # A countdown the service starts shows in the face and is cancelled
        # with the password, which the service checks.
        due = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(seconds=126)
        admin_edit(folder, guard_ini(due, 1))
        w = wait_for(lambda: countdown_window(wine), 30)
        assert w, "no countdown in the face"
        assert control(w, 302)["text"] == "操作: 关闭计算机", control(w, 302)["text"]
        wine.probe("settext", "#has:300", "300", "mossgate")
        wine.probe("command", "#has:300", "1")
        assert wait_for(lambda: countdown_window(wine) is None, 15), "the countdown stayed"
        wait_for(lambda: time.time() > due.timestamp() + 3, 200, step=1)
        assert not tail.seen, "an action after the countdown was cancelled"

        # Apply through the service: the face has the password checked by the
        # service and sends the settings; the service writes them.
        wine.probe("settext", "请输入权限密码：", "310", "mossgate")
        wine.probe("command", "请输入权限密码：", "1")
        w = wait_for(lambda: (lambda f: f if f and f["head"]["visible"] == "1" else None)(window(wine.windows(), "dadado")), 15)
        assert w, "the settings window did not open with the password: %s" % [x["head"] for x in wine.windows()]
        assert control(w, 202)["checked"] == "1" and control(w, 202)["enabled"] == "0", "随系统自动启动 is not the guard's"
        wine.probe("select", "dadado", "262", "0")
        wine.probe("click", "dadado", "103")
        assert wait_for(lambda: "操作方式= 0" in (read_ini(folder) or ""), 15), read_ini(folder)

        # The face killed seconds before the due second: the service acts in
        # that very second, once.
        due = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(seconds=20)
        admin_edit(folder, guard_ini(due, 0, action=1))
        time.sleep(14)
        pid = program_pid(wine)
        assert pid, "no face running"
        wine_cmd(wine, ["taskkill", "/f", "/pid", pid])
        wait_for(lambda: time.time() > due.timestamp() + 6, 60, step=0.5)
        calls = tail.since(due.timestamp() - 5)
        assert len(calls) == 1, "the service's shutdown calls: %s" % [c - due.timestamp() for c in calls]
        late = calls[0] - due.timestamp()
        assert 0 <= late < 1.5, "the service acted %.2f s after the due second" % late
        print("  the service acted %.2f s into the due second" % late)
    finally:
        if tail:
            tail.stop = True
        code, _ = wine_cmd(wine, ["dadado.exe", "/uninstall-guard"], folder)
        assert code == 0, "/uninstall-guard ended with %s" % code
    assert "RUNNING" not in wine_cmd(wine, ["sc", "query", "dadadoGuard"])[1], "still there after /uninstall-guard"


def status_command(wine):
    # /status as administrators' scripts run it: the JSON on standard output
    # (a file here, as in wine_cmd) and an exit code that says whether the
    # control is in force; it writes nothing.
    folder = wine.folder("status")
    exe = os.path.join(folder, "dadado.exe")
    due = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(hours=3)
    write_ini(folder, guard_ini(due, 1))
    ini = read_ini(folder)
    next_at = due.strftime("%Y-%m-%dT%H:%M:%S")

    def status(*extra):
        code, out = wine_cmd(wine, ["dadado.exe", "/status"] + list(extra), folder)
        return code, (json.loads(out) if out.strip() else None)

    code, s = status()
    assert code == 1, "no program running, yet /status ended with %s" % code
    assert s["enforcing"] == "none" and s["guard"] == {"installed": False, "running": False}, s
    assert s["next"] == {"at": next_at, "action": "关闭计算机"}, s["next"]
    assert s["settings"]["Action"] == {"value": 1, "policy": False}, s["settings"]["Action"]
    assert s["settings"]["ScheduleTime"] == {"value": due.strftime("%H:%M:%S"), "policy": False}
    assert s["version"] == "1.0.0", s["version"]
    assert read_ini(folder) == ini, "/status changed the settings file"
    code, s = status("/now")
    assert code == 2 and s is None, "a usage error ended with %s and wrote %s" % (code, s)

    wine.start(folder)
    assert form1(wine), "the program did not start"
    code, s = status()
    assert code == 0, "the program runs, yet /status ended with %s" % code
    assert s["enforcing"] == "program", s["enforcing"]
    assert s["next"] == {"at": next_at, "action": "关闭计算机"}, s["next"]
    wine.stop()

    windows_exe = "Z:" + exe.replace("/", "\\")
    assert " " not in windows_exe, windows_exe
    code, out = wine_cmd(wine, ["sc", "create", "dadadoGuard", "binPath=", windows_exe + " /guard-service",
                                "start=", "demand"])
    assert code == 0, "sc create ended with %s: %s" % (code, out)
    try:
        wine_cmd(wine, ["sc", "start", "dadadoGuard"])
        assert wait_for(lambda: status()[0] == 0, 30), "the guard's status never came: %s" % (status(),)
        code, s = status()
        assert code == 0, "the guard runs, yet /status ended with %s: %s" % (code, s)
        assert s["enforcing"] == "guard" and s["guard"] == {"installed": True, "running": True}, s
        assert s["next"] == {"at": next_at, "action": "关闭计算机"}, s["next"]
        assert s["settings"]["GuardService"]["value"] is True, s["settings"]["GuardService"]
        assert s["service"]["pid"] > 0, s["service"]

        # Any user may hold the files beside the program open without
        # sharing: the status does not lie there, and /status still answers.
        holder = subprocess.Popen(["wine", os.path.join(wine.build, "tests", "win32", "hold_files.exe"),
                                   "dadado.status.json", "dadado.ini"], cwd=folder, env=wine.env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        assert holder.stdout.readline().strip() == b"held", "the files could not be held"
        code, s = status()
        assert code == 0 and s["enforcing"] == "guard", "with the files held, /status ended with %s: %s" % (code, s)
        holder.kill()
        holder.wait(timeout=30)

        # Stopped, the guard takes its status with it.
        wine_cmd(wine, ["sc", "stop", "dadadoGuard"])
        assert wait_for(lambda: "STOPPED" in wine_cmd(wine, ["sc", "query", "dadadoGuard"])[1], 30), "still running"
        assert guard_state(wine, "Status") is None, "the stopped guard left its status"
        code, s = status()
        assert code == 1, "the guard stopped, yet /status ended with %s" % code
        assert s["guard"] == {"installed": True, "running": False} and s["enforcing"] != "guard", s
    finally:
        code, _ = wine_cmd(wine, ["dadado.exe", "/uninstall-guard"], folder)
        assert code == 0, "/uninstall-guard ended with %s" % code
    assert guard_state(wine, "Status") is None, "the guard's status stayed after /uninstall-guard"


def plans(wine):
    # Two plans each in its own second (the screens off: what leaves the
    # program running under Wine); a working-day shutdown on a day the
    # calendar marks as a holiday does nothing, while a rest-day plan of the
    # same second acts. Each action done is event 1104 in the relay trace.
    folder = wine.folder("plans")
    t1 = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(seconds=12)
    t2, t3 = t1 + datetime.timedelta(seconds=3), t1 + datetime.timedelta(seconds=6)
    today = datetime.date.today()

    def at(t):
        return "%d:%02d:%02d" % (t.hour, t.minute, t.second)

    write_ini(folder, "[常规设置]\n启动后隐藏界面= 1\n[计划]\n计划1=1,7,1,,%s,0\n计划2=1,7,1,,%s,0\n"
                      "计划3=1,1,4,,%s,0\n计划4=1,7,5,,%s,0\n[节假日]\n假日=%d/%d/%d\n"
              % (at(t1), at(t2), at(t3), at(t3), today.year, today.month, today.day))
    run = wine.start(folder)
    wait_for(lambda: time.time() > t3.timestamp() + 4, 60, step=0.5)
    done = [when for when, event in run.events if event == 1104]
    late = [round(d - t.timestamp(), 2) for d, t in zip(done, (t1, t2, t3))]
    assert len(done) == 3, "plans done at %s (wanted three): %s" % (late, run.events)
    assert all(0 <= x < 1.5 for x in late), "each plan in its own second: %s s late" % late
    assert not run.exit_calls, "the working-day shutdown came on a holiday: %s" % run.exit_calls


def console_user(wine):
    """The account the program runs as under Wine: the Unix user."""
    return wine_cmd(wine, ["cmd", "/c", "echo %USERNAME%"])[1].strip()


def started_and_checked(run):
    # Event 1000 is written once start-up has read the settings; the first
    # time-control check follows within the same start-up.
    return wait_for(lambda: any(e == 1000 for _, e in run.events), 30)


def account_rules(wine):
    # [时间控制] allows every hour of today; a section of the account the
    # program runs as (its name in another case) forbids them all: the
    # countdown comes. The same section under another name: none.
    user = console_user(wine)
    n = today_weekday()
    for owner, countdown in ((user.upper(), True), ("someone-else", False)):
        folder = wine.folder("accounts")
        write_ini(folder, "[常规设置]\n启动后隐藏界面= 1\n[时间控制]\n启用= 1\n%dweek=%s\n[时间控制:%s]\n启用= 1\n%dweek=24:00\n"
                  % (n, all_day(), owner, n))
        run = wine.start(folder)
        assert started_and_checked(run), "the program did not start: %s" % run.events
        w = wait_for(lambda: countdown_window(wine), 10) if countdown else countdown_window(wine)
        if countdown:
            assert w, "no countdown for the section of %s" % owner
            assert control(w, 301)["text"] in ("时间剩余30秒", "时间剩余29秒", "时间剩余28秒"), control(w, 301)["text"]
        else:
            assert w is None, "a countdown for another account's section"
        wine.stop()


def administrators_exempt(wine):
    # Under Wine the user is an administrator: with 管理员不受限=1 a day that
    # forbids every hour brings no countdown.
    folder = wine.folder("exempt")
    write_ini(folder, "[常规设置]\n启动后隐藏界面= 1\n[时间控制]\n启用= 1\n管理员不受限= 1\n")
    run = wine.start(folder)
    assert started_and_checked(run), "the program did not start: %s" % run.events
    time.sleep(3)
    assert countdown_window(wine) is None, "a countdown for an exempt administrator"
    assert not run.exit_calls, run.exit_calls


def usage_history(wine):
    # 记录使用时间=1: after the first minute counted the history holds
    # today's row for the account, and /usage prints it while the program runs.
    user = console_user(wine)
    folder = wine.folder("usage")
    write_ini(folder, "[常规设置]\n启动后隐藏界面= 1\n[高级设置]\n记录使用时间= 1\n")
    code, _ = wine_cmd(wine, ["dadado.exe", "/usage"], folder)
    assert code == 1, "no history kept yet, yet /usage ended with %s" % code
    run = wine.start(folder)
    assert started_and_checked(run), "the program did not start: %s" % run.events
    path = os.path.join(folder, "dadado-usage.csv")
    today = datetime.date.today().strftime("%Y-%m-%d")

    def row():
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
        return [l for l in text.split("\r\n") if l.startswith(today + "," + user + ",")] and text

    text = wait_for(row, 150, step=2)
    assert text, "no row of today for %s in the history" % user
    assert text.startswith("\ufeff日期,账户,分钟\r\n"), repr(text[:40])
    code, out = wine_cmd(wine, ["dadado.exe", "/usage"], folder)
    assert code == 0, "/usage ended with %s" % code
    assert out.startswith("\ufeff日期,账户,分钟"), repr(out[:40])
    assert (today + "," + user + ",") in out, out
    code, _ = wine_cmd(wine, ["dadado.exe", "/usage", "/all"], folder)
    assert code == 2, "a usage error ended with %s" % code



def idle_plan_withdrawn(wine):
    # A scheduled log-off whose countdown an idle shutdown (stronger, due
    # after it) joins: the idle plan, which the mouse may still call off, must
    # not make the log-off pass, or the mouse moved after 150 s leaves neither
    # done. No input before: idle counts from the program's start.
    folder = wine.folder("idlewithdrawn")
    started = datetime.datetime.now().replace(microsecond=0)
    due = started + datetime.timedelta(seconds=150)
    write_ini(folder, "[常规设置]\n频率= 0\n定时时间=%s\n操作方式= 2\n关机画面= 1\n启动后隐藏界面= 1\n"
                      "[计划]\n计划1=1,1,6,1,,1\n" % due.strftime("%Y/%m/%d %H:%M:%S"))
    run = wine.start(folder)

    def strongest_shown():
        w = countdown_window(wine)
        return w and control(w, 302)["text"] == "操作: 关闭计算机"
    assert wait_for(strongest_shown, due.timestamp() - time.time() - 5, step=2), \
        "the idle shutdown did not join the log-off's countdown"
    call = run.wait_exit_call(due.timestamp() - time.time() + 2)
    if not call:
        wine.probe("mousemove")  # someone is back: the idle shutdown is off
        call = run.wait_exit_call(60)
    assert call, "neither the log-off nor the shutdown came"
    when, line = call
    assert "ExitWindowsEx(00000004" in line, line
    late = when - due.timestamp()
    assert 0 <= late < 1.5, "the log-off came %.2f s after its second" % late
def duration_text(minutes):
    h, m = divmod(minutes, 60)
    return "%d分钟" % m if h == 0 else "%d小时" % h + ("%d分钟" % m if m else "")


def usage_tab(wine):
    # Two weeks of a child's history in the folder: the 使用记录 tab shows
    # them as a chart with today's figures, the week's and the average, and a
    # picture of the window has the bars and today's bar in their colours.
    folder = wine.folder("usage")
    today = datetime.date.today()
    days = [(today - datetime.timedelta(days=i), 30 + 10 * i) for i in range(13, -1, -1)]
    with open(os.path.join(folder, "dadado-usage.csv"), "wb") as f:
        f.write(("\ufeff日期,账户,分钟\r\n" + "".join("%s,小明,%d\r\n" % (d.isoformat(), m) for d, m in days))
                .encode("utf-8"))
    write_ini(folder, "[高级设置]\n记录使用时间= 1\n")
    wine.start(folder)
    assert form1(wine), "the settings window did not appear"
    wine.probe("tab", "dadado", "110", "4")
    wine.probe("select", "dadado", "510", "小明")
    monday = today - datetime.timedelta(days=today.weekday())
    want = {"512": "今天：" + duration_text(days[-1][1]),
            "513": "本周：" + duration_text(sum(m for d, m in days if d >= monday)),
            "514": "近30天日均：" + duration_text(sum(m for d, m in days) // len(days))}

    def shown():
        w = window(wine.windows(), "dadado")
        return w if w and all(control(w, i)["text"] == t for i, t in want.items()) else None
    w = wait_for(shown, 20)
    assert w, "the figures are not %s" % want
    chart = control(w, 511)
    assert chart["class"] == "DadadoUsageChart" and chart["visible"] == "1", chart
    assert chart["text"] == "最近14天的使用时间", chart["text"]
    xid = subprocess.run(["xdotool", "search", "--name", "^dadado$"], env=wine.env, capture_output=True,
                         text=True).stdout.split()
    assert xid, "no X window of the settings window"
    geometry = dict(line.split("=", 1) for line in subprocess.run(
        ["xdotool", "getwindowgeometry", "--shell", xid[0]], env=wine.env, capture_output=True, text=True).stdout.split())
    shot = os.path.join(wine.build, "e2e-usage-tab-%s.png" % wine.locale.split(".")[0])
    subprocess.run(["import", "-window", "root", "-crop", "%sx%s+%s+%s" % (geometry["WIDTH"], geometry["HEIGHT"],
                    geometry["X"], geometry["Y"]), "+repage", shot], env=wine.env, check=True, timeout=60)
    colours = subprocess.run(["convert", shot, "-format", "%c", "histogram:info:-"], capture_output=True,
                             text=True, timeout=60).stdout.upper()
    assert "#4682C4" in colours, "no bar in the picture %s" % shot
    assert "#EC8024" in colours, "no bar of today in the picture %s" % shot


SCENARIOS = [code_page, first_start, second_copy, scheduled_shutdown, time_control, apply_and_cancel, policy_schedule,
             policy_window, daily_limit, event_log, catch_up, guard_service, status_command, plans,
             idle_plan_withdrawn, account_rules, administrators_exempt, usage_history, usage_tab]
# The scenarios that run again under the second locale (code page 1252): those
# whose checks come out differently when text crosses between bytes and
# characters through the ANSI code page instead of as the program means it.
# The others reach the same crossings only on their way to what they check
# (a second, exit flags, event ids, a window's state), and one check of each
# crossing under 1252 is enough.
CODE_PAGE_SCENARIOS = {
    code_page,         # the code page Wine gave, and Chinese on the command line arriving whole
    first_start,       # the settings file written in GBK byte for byte, the window's Chinese texts
    apply_and_cancel,  # the window's values written into the GBK file and read back from it
    status_command,    # Chinese read from the GBK file leaves as \u escapes, whatever the console's code page
}


# About how long each scenario takes, in seconds, mostly waiting on real
# time (countdowns, minutes counted, the service's retries). The workers take
# the longest first, so that none is left alone with a long one at the end;
# a scenario not named here takes a few seconds.
EXPECTED_SECONDS = {
    guard_service: 170, idle_plan_withdrawn: 150, catch_up: 125, daily_limit: 120, usage_history: 65,
    time_control: 42, plans: 22, policy_window: 20, policy_schedule: 14, status_command: 13,
    scheduled_shutdown: 12, event_log: 12, account_rules: 10, apply_and_cancel: 9, usage_tab: 8, second_copy: 6,
    administrators_exempt: 5,
}


class KeptOutput:
    """Stands for sys.stdout and sys.stderr while the workers run: what a
    worker writes during a scenario (its log, a failure's traceback) is kept
    and printed as one block when the scenario ends, not line by line among
    another worker's."""

    kept = threading.local()  # .lines: the worker's scenario's output, or None

    def __init__(self, stream):
        self.stream = stream

    def write(self, text):
        lines = getattr(self.kept, "lines", None)
        if lines is None:
            return self.stream.write(text)
        lines.append(text)
        return len(text)

    def flush(self):
        if getattr(self.kept, "lines", None) is None:
            self.stream.flush()

    def __getattr__(self, name):
        return getattr(self.stream, name)


class Jobs:
    """The (scenario, locale) pairs not yet taken, longest first."""

    def __init__(self, pairs):
        self.pairs = sorted(pairs, key=lambda p: -EXPECTED_SECONDS.get(p[0], 5))
        self.lock = threading.Lock()
        self.stopping = threading.Event()

    def take(self):
        with self.lock:
            return self.pairs.pop(0) if self.pairs and not self.stopping.is_set() else None


class Worker:
    """Runs scenarios one after another, each locale in a prefix of its own.
    With more than one worker each has an X display of its own: scenarios
    move the mouse, and measure the machine's idle time and the focus."""

    def __init__(self, number, build, own_display, out, out_lock):
        self.number = number
        self.build = build
        self.own_display = own_display
        self.out, self.out_lock = out, out_lock
        self.xvfb = None
        self.display = None  # the run's DISPLAY
        self.wines = {}  # locale: Wine
        self.lock = threading.Lock()
        self.passed = self.failed = 0

    def start_display(self):
        if not self.own_display:
            return
        # Xvfb picks a free display itself and names it once it takes
        # connections: no race with another run choosing the same number.
        ready, told = os.pipe()
        try:
            self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(told), "-screen", "0", "1280x1024x24",
                                          "-nolisten", "tcp"], pass_fds=(told,), stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(told)
            told = None
            number = b""
            end = time.time() + 30
            while not number.endswith(b"\n") and time.time() < end:
                if select.select([ready], [], [], 0.5)[0]:
                    got = os.read(ready, 16)
                    if not got:
                        break
                    number += got
            if not number.strip().isdigit():
                raise RuntimeError("Xvfb named no display (%r)" % number)
            self.display = ":" + number.decode().strip()
        finally:
            os.close(ready)
            if told is not None:
                os.close(told)

    def wine(self, locale):
        """This worker's prefix for the locale, copied from the locale's
        template at its first scenario."""
        with self.lock:
            if locale in self.wines:
                return self.wines[locale]
            name = "wineprefix-e2e-" + locale + ("-%d" % self.number if self.own_display else "")
            wine = Wine(os.path.join(self.build, name), self.build, locale, self.display)
            self.wines[locale] = wine
        started = time.time()
        wine.setup()
        print("  the prefix %s ready in %.1f s" % (name, time.time() - started), flush=True)
        return wine

    def run(self, jobs):
        while True:
            job = jobs.take()
            if not job:
                return
            scenario, locale = job
            KeptOutput.kept.lines = lines = []
            try:
                go_on = self.run_one(scenario, locale)
            except Exception:
                print("FAIL ending the Wine of %s [%s]" % (scenario.__name__, locale), flush=True)
                traceback.print_exc()
                go_on = False
            finally:
                KeptOutput.kept.lines = None
            if jobs.stopping.is_set():  # an interrupted scenario's failure says nothing
                return
            self.publish(lines)
            if not go_on:
                return  # the others take the rest

    def run_one(self, scenario, locale):
        try:
            wine = self.wine(locale)
        except Exception:
            print("FAIL setup [%s]: %s not run" % (locale, scenario.__name__), flush=True)
            traceback.print_exc()
            return False
        started = time.time()
        try:
            scenario(wine)
            print("PASS %s [%s] (%.1f s)" % (scenario.__name__, locale, time.time() - started), flush=True)
        except Exception:
            print("FAIL %s [%s]" % (scenario.__name__, locale), flush=True)
            traceback.print_exc()
        finally:
            wine.stop(fresh_registry=True)
        return True

    def publish(self, lines):
        # Counted as tools/test counts them.
        for line in "".join(lines).splitlines():
            self.passed += line.startswith("PASS ")
            self.failed += line.startswith("FAIL ")
        with self.out_lock:
            self.out.write("".join(lines))
            self.out.flush()

    def close(self):
        """Ends this worker's wineservers, Wine processes and X display, and
        removes its scenarios' folders; again and again if need be."""
        with self.lock:
            wines = list(self.wines.values())
        for wine in wines:
            try:
                wine.close()
            except Exception:
                traceback.print_exc()
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True, help="the Windows build folder")
    ap.add_argument("--only", help="run one scenario")
    ap.add_argument("--jobs", type=int, default=1,
                    help="workers that share the scenarios, each on an X display of its own (1: on $DISPLAY)")
    ap.add_argument("--locales", help="comma-separated locales to run under (by default the run's own): "
                                      "all scenarios under zh_CN, those of the code page under another")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    locales = args.locales.split(",") if args.locales else [run_locale()]
    count = 1 if args.only else max(1, args.jobs)
    if count == 1 and not os.environ.get("DISPLAY"):
        print("FAIL setup: no DISPLAY")
        return 1
    pairs = [(scenario, loc) for loc in locales for scenario in SCENARIOS
             if (scenario.__name__ == args.only if args.only
                 else scenario in CODE_PAGE_SCENARIOS or loc.startswith("zh_CN"))]
    if not pairs:
        print("FAIL setup: no scenario named %s" % args.only)
        return 1
    jobs = Jobs(pairs)

    def interrupt(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupt)
    out, err, out_lock = sys.stdout, sys.stderr, threading.Lock()
    workers = [Worker(n + 1, build, count > 1, out, out_lock) for n in range(count)]
    threads = []
    interrupted = False
    started = time.time()
    sys.stdout, sys.stderr = KeptOutput(sys.stdout), KeptOutput(sys.stderr)
    try:
        for worker in workers:
            worker.start_display()
        # A prefix per locale, made under it: Wine keeps the regional settings
        # and system fonts of the locale a prefix was made under. Its template
        # is made once, before any worker copies it.
        for loc in locales:
            Wine(os.path.join(build, "wineprefix-e2e-" + loc), build, loc, workers[0].display).template()
        for worker in workers:
            threads.append(threading.Thread(target=worker.run, args=(jobs,), daemon=True))
            threads[-1].start()
        while any(t.is_alive() for t in threads):
            time.sleep(0.2)
    except KeyboardInterrupt:
        interrupted = True
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        jobs.stopping.set()
        for worker in workers:
            worker.close()
        if interrupted:
            # A worker still inside a scenario may have started a Wine
            # process a moment before its prefix was closed.
            for t in threads:
                t.join(timeout=5)
            for worker in workers:
                worker.close()
        sys.stdout, sys.stderr = out, err
    passed = sum(w.passed for w in workers)
    failed = sum(w.failed for w in workers)
    for scenario, loc in ([] if interrupted else jobs.pairs):
        failed += 1
        print("FAIL %s [%s]: not run, no worker left" % (scenario.__name__, loc))
    print("  the scenarios took %.1f s with %d worker%s: %d passed, %d failed%s"
          % (time.time() - started, count, "" if count == 1 else "s", passed, failed,
             ", interrupted" if interrupted else ""), flush=True)
    if interrupted:
        return 130
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
