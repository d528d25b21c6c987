#!/usr/bin/env python3
"""Benchmarks of the real dadado.exe under Wine; they print figures and never
fail on a slow machine.

  precision  a daily schedule a few seconds ahead, many trials, with and
             without two processes keeping both cores busy: the share of
             trials whose exit call came within the scheduled second, and the
             latency distribution
  idle       wake-ups (voluntary context switches of all the process's
             threads), CPU time and peak memory of dadado.exe hidden in the
             tray for five minutes with a daily schedule hours away, against
             a minimal Win32 program with a one-second timer under the same
             Wine in the same run
  guard      the guard service registered and started under Wine with a daily
             schedule hours away: the wake-ups and CPU of its process over five
             minutes, against the same minimal program in the same run; the
             face it starts in the session is shown for information; then the
             same window again while another process holds the old status file
             and the settings file open without sharing, as any user may, and
             whether /status still answers
  pipe       the round trip of a request from the face through the pipes to a
             real guard host and back (pipe_roundtrip.exe): cancel with the
             password while a countdown is open, and check, N of each
  startup    from the launch to the first paint of the settings window, with
             no settings file and with a full one, against a minimal program
             with the common controls, a tab control and three buttons; then
             one start of each under a wineserver that logs its requests:
             how many each start makes, which the time follows under Wine
  soak       the program over the test fakes for a simulated year (natively,
             --native-build), and the real windows under Wine for ten
             minutes, a countdown opened and cancelled every 30 seconds: the
             memory and the objects they hold, which should stay flat

Usage: bench.py --build build/win [--native-build build/bench] [--trials N]
                [--idle-seconds S] [--soak-seconds S] [--roundtrips N] [--starts N]
                [which ...]"""

import argparse
import datetime
import json
import multiprocessing
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from run_e2e import Wine, guard_state, read_ini, run_locale, wait_for, wine_cmd, write_ini  # noqa: E402


def busy(stop_at):
    while time.time() < stop_at:
        pass


def load(seconds):
    procs = [multiprocessing.Process(target=busy, args=(time.time() + seconds,)) for _ in range(2)]
    for p in procs:
        p.start()
    return procs


def precision(wine, trials, loaded):
    lat = []
    for _ in range(trials):
        folder = wine.folder("bench")
        due = datetime.datetime.now().replace(microsecond=0) + datetime.timedelta(seconds=6)
        write_ini(folder, "[常规设置]\n频率= 0\n定时时间=%s\n操作方式= 1\n启动后隐藏界面= 1\n关机画面= 0\n"
                  % due.strftime("%Y/%m/%d %H:%M:%S"))
        hogs = load(12) if loaded else []
        run = wine.start(folder)
        call = run.wait_exit_call(15)
        lat.append(call[0] - due.timestamp() if call else None)
        for p in hogs:
            p.terminate()
        wine.stop()
    got = [x for x in lat if x is not None]
    inside = sum(1 for x in got if 0 <= x < 1.0)
    label = "two cores busy" if loaded else "idle machine"
    print("precision, %s: %d trials, exit call within the scheduled second in %d (%.0f%%), missed %d"
          % (label, trials, inside, 100.0 * inside / trials, trials - len(got)), flush=True)
    if got:
        got.sort()
        q = lambda f: got[min(len(got) - 1, int(f * len(got)))]
        print("  latency after the second starts: min %.3f s, median %.3f s, 90%% %.3f s, max %.3f s"
              % (got[0], statistics.median(got), q(0.9), got[-1]), flush=True)


def in_prefix(pid, prefix):
    """Whether a process belongs to this Wine prefix: other runs on a shared
    machine have programs of the same names under prefixes of their own."""
    try:
        with open("/proc/%s/environ" % pid, "rb") as f:
            return ("WINEPREFIX=" + prefix).encode() in f.read().split(b"\0")
    except OSError:
        return False


def command_line(pid):
    try:
        with open("/proc/%s/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
    except OSError:
        return None


def find_pid(name, prefix, matches=None):
    """The Wine process of this prefix whose command line ends with `name`
    (or that `matches` accepts), not the launcher that started it."""
    matches = matches or (lambda cmd: cmd.endswith(name))
    others = []
    for pid in subprocess.run(["pgrep", "-f", name], capture_output=True, text=True).stdout.split():
        cmd = command_line(pid)
        if cmd is None or not in_prefix(pid, prefix):
            continue
        if matches(cmd) and not cmd.startswith("wine "):
            return int(pid)
        others.append(int(pid))
    return others[0] if others else None


def find_server(prefix):
    """The wineserver of this prefix (another prefix may have its own)."""
    for pid in subprocess.run(["pgrep", "wineserver"], capture_output=True, text=True).stdout.split():
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                env = f.read().split(b"\0")
            if ("WINEPREFIX=" + prefix).encode() in env:
                return int(pid)
        except OSError:
            pass
    return None


def tasks(pid):
    try:
        return os.listdir("/proc/%d/task" % pid)
    except OSError:
        return []


def cpu_seconds(pid):
    # The scheduler's own count, in nanoseconds, of every thread: finer than
    # the clock ticks of utime and stime.
    total = 0
    for tid in tasks(pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


def utime_stime(pid):
    """utime + stime of the whole process, in seconds (clock ticks)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wakeups(pid):
    """The voluntary context switches of all the process's threads: each is a
    sleep the process woke up from."""
    total = 0
    for tid in tasks(pid):
        try:
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def status_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def sample(pid):
    return {"wake": wakeups(pid), "ticks": utime_stime(pid), "cpu": cpu_seconds(pid), "threads": len(tasks(pid))}


IDLE_GOAL_WAKEUPS = 0.05  # of the minimal program's
IDLE_GOAL_CPU = 0.2
GUARD_GOAL_WAKEUPS = 0.05  # of the minimal program's

# Wine finishes loading and laying out well after a window shows, and that
# one-off work is no idle cost: the window of measurement opens this long
# after the start.
SETTLE_SECONDS = 30


class CannotRun(Exception):
    """A benchmark that could not be run: what was missing."""


def watch(wine, pids, seconds):
    """Each process's wake-ups, CPU and peak memory over `seconds`, and the
    wineserver's beside them (it does part of the kernel's work under Wine
    and serves every process of the prefix alike)."""
    server = find_server(wine.prefix)
    a = {name: sample(pid) for name, pid in pids.items()}
    server0 = (wakeups(server), cpu_seconds(server)) if server else (0, 0.0)
    time.sleep(seconds)
    server1 = (wakeups(server), cpu_seconds(server)) if server else (0, 0.0)
    results = {}
    for name, pid in pids.items():
        b = sample(pid)
        if not b["threads"]:
            raise CannotRun("%s (pid %d) ended while it was measured" % (name, pid))
        results[name] = {"wake": b["wake"] - a[name]["wake"], "ticks": b["ticks"] - a[name]["ticks"],
                         "cpu": b["cpu"] - a[name]["cpu"], "peak": status_kib(pid, "VmHWM"), "threads": b["threads"]}
    return results, (server1[0] - server0[0], server1[1] - server0[1])


def figures_line(label, name, seconds, r, server):
    return ("%s %s for %d s: %d wake-ups (%.2f a second, %d threads), CPU %.3f s by utime+stime, %.4f s by the "
            "scheduler; wineserver %d wake-ups, %.4f s CPU; peak memory %d KiB"
            % (label, name, seconds, r["wake"], r["wake"] / seconds, r["threads"], r["ticks"], r["cpu"], server[0],
               server[1], r["peak"]))


def minimal_timer(wine, label, seconds):
    """The yardstick: the one-second timer program, alone in the prefix."""
    folder = wine.folder(label)
    subprocess.run(["cp", os.path.join(wine.build, "tests", "win32", "minimal_timer.exe"), folder])
    proc = subprocess.Popen(["wine", os.path.join(folder, "minimal_timer.exe")], cwd=folder, env=wine.env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(SETTLE_SECONDS)
    pid = find_pid("minimal_timer.exe", wine.prefix)
    if not pid:
        raise CannotRun("minimal_timer.exe is not running")
    results, server = watch(wine, {"minimal_timer.exe": pid}, seconds)
    print(figures_line(label, "minimal_timer.exe", seconds, results["minimal_timer.exe"], server), flush=True)
    wine.stop()
    proc.wait(timeout=30)
    return results["minimal_timer.exe"]


def idle(wine, seconds):
    folder = wine.folder("idle")
    # Hidden in the tray; the daily shutdown three hours away.
    due = datetime.datetime.now() + datetime.timedelta(hours=3)
    write_ini(folder, "[常规设置]\n频率= 0\n定时时间=%s\n操作方式= 1\n启动后隐藏界面= 1\n关机画面= 1\n"
              % due.strftime("%Y/%m/%d %H:%M:%S"))
    proc = subprocess.Popen(["wine", os.path.join(folder, "dadado.exe")], cwd=folder, env=wine.env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(SETTLE_SECONDS)
    pid = find_pid("dadado.exe", wine.prefix)
    if not pid:
        raise CannotRun("dadado.exe is not running")
    results, server = watch(wine, {"dadado.exe": pid}, seconds)
    d = results["dadado.exe"]
    print(figures_line("idle", "dadado.exe", seconds, d, server), flush=True)
    wine.stop()
    proc.wait(timeout=30)
    m = minimal_timer(wine, "idle", seconds)
    print("idle ratios dadado/minimal: wake-ups %.3f (goal at most %.2f), CPU %.3f by utime+stime, %.3f by the "
          "scheduler (goal at most %.1f), peak memory %.2f"
          % (d["wake"] / max(m["wake"], 1), IDLE_GOAL_WAKEUPS, d["ticks"] / max(m["ticks"], 1e-6),
             d["cpu"] / max(m["cpu"], 1e-6), IDLE_GOAL_CPU, d["peak"] / max(m["peak"], 1)), flush=True)


def service_state(wine):
    out = wine_cmd(wine, ["sc", "query", "dadadoGuard"])[1]
    for line in out.splitlines():
        if "STATE" in line:
            return line.split()[-1]
    return None


def guard(wine, seconds):
    # The yardstick first: once the service is registered to start with the
    # prefix, every later start of the prefix starts it too.
    m = minimal_timer(wine, "guard", seconds)
    folder = wine.folder("guard")
    exe = os.path.join(folder, "dadado.exe")
    # The only schedule a daily shutdown three hours away; a schedule leaves
    # the time control off.
    due = datetime.datetime.now() + datetime.timedelta(hours=3)
    write_ini(folder, "[常规设置]\n频率= 0\n定时时间=%s\n操作方式= 1\n启动后隐藏界面= 1\n关机画面= 1\n"
              % due.strftime("%Y/%m/%d %H:%M:%S"))
    # Registered as the end-to-end scenario does it: /install-guard refuses
    # under Wine, where every file is the user's own. Wine's sc takes the
    # command unquoted, so the folder must have no spaces.
    windows_exe = "Z:" + exe.replace("/", "\\")
    if " " in windows_exe:
        raise CannotRun("the temporary folder has a space in it: %s" % windows_exe)
    code, out = wine_cmd(wine, ["sc", "create", "dadadoGuard", "binPath=", windows_exe + " /guard-service",
                                "start=", "auto"])
    if code != 0:
        raise CannotRun("sc create ended with %s: %s" % (code, out.strip()))
    try:
        # The prefix started afresh, as a machine starts: the service starts
        # with it, and starts its face.
        wine.stop()
        wine_cmd(wine, ["sc", "start", "dadadoGuard"])
        if not wait_for(lambda: service_state(wine) == "RUNNING", 30):
            raise CannotRun("the service is not running: %s" % service_state(wine))
        time.sleep(SETTLE_SECONDS)
        # The service has started and pinned its time zone in its state.
        if guard_state(wine, "TimeZone") is None:
            raise CannotRun("the service pinned no time zone")
        service = find_pid("/guard-service", wine.prefix)
        face = find_pid("/face", wine.prefix, lambda cmd: " /face " in cmd + " ")
        if not service:
            raise CannotRun("no process of this prefix has /guard-service in its command line")
        pids = {"service": service}
        if face:
            pids["face"] = face
        else:
            print("guard: the service started no face (the figures are the service's alone)", flush=True)
        results, server = watch(wine, pids, seconds)
        s = results["service"]
        print(figures_line("guard", "service (dadado.exe /guard-service)", seconds, s, server), flush=True)
        if face:
            print(figures_line("guard", "face (dadado.exe /face, for information)", seconds, results["face"], server),
                  flush=True)
        print("guard ratios service/minimal: wake-ups %.3f (goal at most %.2f), CPU %.3f by utime+stime, %.3f by the "
              "scheduler, peak memory %.2f"
              % (s["wake"] / max(m["wake"], 1), GUARD_GOAL_WAKEUPS, s["ticks"] / max(m["ticks"], 1e-6),
                 s["cpu"] / max(m["cpu"], 1e-6), s["peak"] / max(m["peak"], 1)), flush=True)
        held_files(wine, folder, service, seconds, m)
    finally:
        # Later benchmarks share the prefix: nothing of the service stays.
        code, _ = wine_cmd(wine, ["dadado.exe", "/uninstall-guard"], folder)
        if code != 0 or service_state(wine):
            wine_cmd(wine, ["sc", "stop", "dadadoGuard"])
            wine_cmd(wine, ["sc", "delete", "dadadoGuard"])
        wine.stop()


def held_files(wine, folder, service, seconds, m):
    """What a user who holds the files beside the program open costs the
    service: an earlier version's status file (the holder makes it if it is
    missing) and the settings file, held without sharing, while a change of
    the machine policy changes what the status says (an earlier version then
    tried to write its status file again at every turn of its loop); and
    /status asked while they are."""
    holder = subprocess.Popen(["wine", os.path.join(wine.build, "tests", "win32", "hold_files.exe"),
                               "dadado.status.json", "dadado.ini"], cwd=folder, env=wine.env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        if holder.stdout.readline().strip() != b"held":
            raise CannotRun("hold_files.exe could not hold the files")
        wine.set_policy({"PostponeMinutes": 30})
        time.sleep(5)
        results, server = watch(wine, {"service": service}, seconds)
        h = results["service"]
        print(figures_line("guard, files held", "service (dadado.exe /guard-service)", seconds, h, server),
              flush=True)
        print("guard, files held, ratios service/minimal: wake-ups %.3f (goal at most %.2f), CPU %.3f by the scheduler"
              % (h["wake"] / max(m["wake"], 1), GUARD_GOAL_WAKEUPS, h["cpu"] / max(m["cpu"], 1e-6)), flush=True)
        started = time.time()
        code, out = wine_cmd(wine, ["dadado.exe", "/status"], folder)
        enforcing = json.loads(out)["enforcing"] if out.strip() else None
        print("guard, files held: /status ended with %s in %.1f s, enforcing %s" % (code, time.time() - started, enforcing),
              flush=True)
    finally:
        holder.kill()
        holder.wait(timeout=30)
        wine.clear_policy()


PIPE_ROWS = {
    "cancel": "cancel with the password, a countdown open, settings in memory",
    "check": "check (the settings gate), settings in memory",
    "cancel_file": "cancel with the password, a countdown open, settings file on the disk, state in the registry",
}


def pipe(wine, roundtrips):
    folder = wine.folder("pipe")
    subprocess.run(["cp", os.path.join(wine.build, "tests", "win32", "pipe_roundtrip.exe"), folder])
    with tempfile.TemporaryFile() as out:
        # Output through a file: Wine's helpers may inherit a pipe and hold it.
        code = subprocess.run(["wine", os.path.join(folder, "pipe_roundtrip.exe"), str(roundtrips)], cwd=folder,
                              env=wine.env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                              timeout=1800).returncode
        out.seek(0)
        lines = out.read().decode("utf-8", "replace").splitlines()
    wine.stop()
    rows = 0
    for line in lines:
        if not line.startswith("ROUNDTRIP "):
            if line.startswith("FAILED"):
                raise CannotRun("pipe_roundtrip.exe: " + line)
            continue
        parts = line.split()
        f = dict(part.split("=", 1) for part in parts[2:])
        print("pipe round trip, %s: %s requests, median %s µs, 90%% %s µs, worst %s µs (fastest %s µs; the first "
              "request, unmeasured, %s µs)" % (PIPE_ROWS.get(parts[1], parts[1]), f["n"], f["median_us"], f["p90_us"],
                                              f["worst_us"], f["min_us"], f["first_us"]), flush=True)
        rows += 1
    if code != 0 or rows == 0:
        raise CannotRun("pipe_roundtrip.exe ended with %s and printed %r" % (code, lines[-3:]))


def fd_count(pid):
    try:
        return len(os.listdir("/proc/%d/fd" % pid))
    except OSError:
        return -1


def soak(wine, native_build, seconds):
    if native_build:
        exe = os.path.join(native_build, "tests", "soak")
        for mode in ("schedule", "timecontrol"):
            subprocess.run([exe, mode], check=False)
            sys.stdout.flush()
    folder = wine.folder("soak")
    subprocess.run(["cp", os.path.join(wine.build, "tests", "win32", "soak_win.exe"), folder])
    print("soak under Wine: the real windows for %d s, a countdown opened and cancelled every 30 s" % seconds, flush=True)
    proc = subprocess.Popen(["wine", os.path.join(folder, "soak_win.exe"), str(seconds), "30"], cwd=folder,
                            env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    pid = None
    rows = []
    for raw in proc.stdout:
        line = raw.decode("utf-8", "replace").strip()
        if not (line.startswith("MINUTE") or line.startswith("END")):
            print("  " + line, flush=True)
            if line.startswith("DONE") or line.startswith("FAILED"):
                break
            continue
        pid = pid or find_pid("soak_win.exe", wine.prefix)
        fields = dict(part.split("=", 1) for part in line.split()[2:])
        fields["label"] = " ".join(line.split()[:2])
        if pid:
            fields["rss"] = status_kib(pid, "VmRSS")
            fields["fds"] = fd_count(pid)
            fields["threads"] = len(tasks(pid))
        rows.append(fields)
        print("  %-9s countdowns %3s | USER objects %s, GDI objects %s, windows %s, handles %s | private %d KiB, "
              "working set %d KiB | Linux: RSS %s KiB, %s open files, %s threads"
              % (fields["label"], fields["countdowns"], fields["user_objects"], fields["gdi_objects"], fields["windows"],
                 fields["handles"], int(fields["private_bytes"]) // 1024, int(fields["working_set"]) // 1024,
                 fields.get("rss", "?"), fields.get("fds", "?"), fields.get("threads", "?")), flush=True)
    try:
        proc.wait(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
    wine.stop()
    if rows and all(r["user_objects"] == "0" and r["gdi_objects"] == "0" for r in rows):
        print("  (this Wine answers 0 for GetGuiResources: it does not count USER and GDI objects; the windows "
              "counted by hand, the memory and the open files stand in for them)")
    if rows and all(r["handles"] == "0" for r in rows):
        print("  (this Wine answers 0 for GetProcessHandleCount: the process's handles are not counted)")
    if len(rows) >= 3:
        first, last = rows[1], rows[-1]  # after the first minute, when what is kept has been made
        print("soak under Wine, minute 1 to the end: windows %s -> %s, handles %s -> %s, private %d -> %d KiB, "
              "RSS %s -> %s KiB, open files %s -> %s (goal: flat)"
              % (first["windows"], last["windows"], first["handles"], last["handles"],
                 int(first["private_bytes"]) // 1024, int(last["private_bytes"]) // 1024, first.get("rss"),
                 last.get("rss"), first.get("fds"), last.get("fds")), flush=True)


STARTUP_GOAL = 1.3  # dadado's time to its window at most this many times the minimal program's


def full_settings(password):
    """A settings file as a user's who has set everything: a daily shutdown
    three hours away, allowed hours and limits for each weekday, sixteen
    plans (a few hours away, each kind of repetition) and a holiday list."""
    now = datetime.datetime.now()
    d = now.date()
    due = now + datetime.timedelta(hours=3)
    lines = ["[常规设置]", "频率= 0", "定时时间=%d/%d/%d %s" % (d.year, d.month, d.day, due.strftime("%H:%M:%S")),
             "定时每周= 1", "定时间隔= 0", "间隔起始时间=%d/%d/%d" % (d.year, d.month, d.day), "操作方式= 1",
             "移除系统图标= 0", "启动后隐藏界面= 0", "启动后锁定计算机= 0", "强制操作= 1", "关机画面= 1", "密码保护= 0",
             "错过补做= 1", "[高级设置]", "自动登录= 0", "推迟分钟数= 10", "[时间控制]", "启用= 0", "密码=" + password]
    for w in range(7):
        lines += ["%dweek=%s" % (w, "+".join("%02d:00" % h for h in range(7, 22))),
                  "%dlimit= %d" % (w, 120 if w in (0, 6) else 90)]
    lines.append("[计划]")
    kinds = [(1, 1, ""), (6, 2, "12345"), (7, 4, ""), (0, 5, ""), (8, 1, ""),
             (1, 3, "3@%d/%d/%d" % (d.year, d.month, d.day)), (4, 2, "06"), (2, 0, "%d/1/5" % (d.year + 1))]
    for i in range(16):
        action, repeat, parameter = kinds[i % len(kinds)]
        at = (now + datetime.timedelta(hours=4, minutes=7 * i)).strftime("%H:%M:%S")
        lines.append("计划%d=%d,%d,%d,%s,%s,%d" % (i + 1, 1 if i % 5 else 0, action, repeat, parameter, at, i % 2))
    y = d.year
    lines += ["[节假日]", "假日=%d/1/1,%d/2/16-%d/2/22,%d/4/5,%d/5/1-%d/5/5,%d/6/19,%d/10/1-%d/10/8" % ((y,) * 9),
              "调休=%d/2/15,%d/2/28,%d/4/27,%d/9/28,%d/10/11" % ((y,) * 5)]
    return "\n".join(lines) + "\n"


def read_trace(path):
    """The start-up trace's lines: (microseconds since the process was created,
    microseconds since 1970, what)."""
    try:
        with open(path) as f:
            rows = [line.split(None, 2) for line in f.read().splitlines()]
    except OSError:
        return []
    return [(int(r[0]), int(r[1]), r[2]) for r in rows if len(r) == 3]


def start_once(wine, exe, ini):
    """Starts `exe` in a folder of its own (with `ini` as its settings file)
    and waits for its window's first paint; returns (seconds from the launch
    to the paint, the trace, the settings file afterwards), or None when it
    never painted. The program is ended again afterwards: dadado as an
    installer asks it to, so that its tray icon goes with it (Wine's shell
    stalls the next program for seconds over an icon whose program was
    killed); the minimal program is killed."""
    folder = wine.folder("startup")
    name = os.path.basename(exe)
    if name != "dadado.exe":
        shutil.copy(exe, folder)
    if ini is not None:
        write_ini(folder, ini)
    trace = os.path.join(folder, "trace.txt")
    env = dict(wine.env, DADADO_TRACE="Z:" + trace.replace("/", "\\"))
    launched = time.time()
    proc = subprocess.Popen(["wine", os.path.join(folder, name)], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    painted = None
    while time.time() - launched < 30 and painted is None and proc.poll() is None:
        # Looked at gently: the program says when it painted, it is not watched.
        time.sleep(0.1)
        painted = next((unix for _, unix, what in read_trace(trace) if what.endswith("painted")), None)
    time.sleep(1.0)  # what the program does once its window is up, in the trace too
    rows = read_trace(trace)
    settings = read_ini(folder)
    if name == "dadado.exe":
        wine.probe("endsession", "dadado", "0")
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pid = find_pid(name, wine.prefix)
        if pid:
            os.kill(pid, 9)
        proc.wait(timeout=30)
    shutil.rmtree(folder, ignore_errors=True)
    return (painted / 1e6 - launched, rows, settings) if painted else None


def requests_of_start(log_path):
    """From the wineserver's log of one start (`wineserver -d1`): the requests
    of the program's main thread before `main` and from `main` to its first
    paint, and how many of the latter were Wine's look whether the display
    configuration changed (get_process_winstation, then two more). The
    program's trace marks are the requests that name "dadado-trace-...";
    they and the close of their handle are not counted."""
    with open(log_path, errors="replace") as f:
        lines = f.read().splitlines()
    marks = [i for i, line in enumerate(lines) if 'name=L"dadado-trace-' in line and "open_event(" in line]
    if not marks:
        return None
    tid = lines[marks[0]].split(":", 1)[0]
    painted = next((i for i in marks if lines[i].startswith(tid + ": ") and 'painted"' in lines[i]), None)
    if painted is None:
        return None
    def own_requests(start, end):
        got, skip = [], False
        for line in lines[start:end]:
            if not line.startswith(tid + ": ") or "() = " in line or "(" not in line:
                continue
            if 'name=L"dadado-trace-' in line:
                skip = True  # and the close of the handle it did not get
                continue
            if skip and line.startswith(tid + ": close_handle("):
                skip = False
                continue
            skip = False
            got.append(line[len(tid) + 2:line.index("(")])
        return got
    own = own_requests(marks[0], painted)
    return len(own_requests(0, marks[0])), len(own), own.count("get_process_winstation")


def startup_requests(wine, kinds):
    """One start of each program under a wineserver that logs every request
    (slower, so not timed): the requests counted by requests_of_start. Under
    Wine nearly every call of the window system is such a request, and the
    time of a start follows their number; unlike the time, the number does
    not move with the machine's load."""
    log_path = os.path.join(wine.build, "startup-requests.log")
    wine.stop(restart=False)
    with open(log_path, "ab") as log:
        wine.server(log)
    wine_cmd(wine, ["sc", "query", "dadadoGuard"])
    wine.probe("dump")
    counts = {}
    try:
        for label, exe, ini in kinds:
            os.truncate(log_path, 0)  # the server appends: it writes from the start again
            if start_once(wine, exe, ini()):
                counts[label] = requests_of_start(log_path)
    finally:
        wine.stop()
        os.remove(log_path)
    minimal = counts.get("minimal_window.exe")
    for label, _, _ in kinds:
        c = counts.get(label)
        if not c:
            print("requests %s: not counted (no paint, or no marks in the log)" % label, flush=True)
            continue
        ratio = ("; the whole start %.2f times the minimal program's" % ((c[0] + c[1]) / (minimal[0] + minimal[1]))
                 if minimal and not label.startswith("minimal") else "")
        print("requests to the wineserver, %s: %d before main, %d from main to the first paint (%d of them Wine's "
              "%d looks whether the display configuration changed)%s"
              % (label, c[0], c[1], 3 * c[2], c[2], ratio), flush=True)


def startup(wine, trials):
    """From the launch to the first paint of the settings window, against the
    minimal program with the common controls, a tab control and three buttons
    (tests/bench/minimal_window.cpp), started in turn under the same Wine: the
    median of `trials` starts each, after one start each that is not counted.
    The Wine session is up as a desktop's is (its shell and service manager
    running) and stays up between the starts."""
    minimal = os.path.join(wine.build, "tests", "win32", "minimal_window.exe")
    wine.stop()
    wine_cmd(wine, ["sc", "query", "dadadoGuard"])
    wine.probe("dump")
    # A first start gives the stored form of the default password for the full file.
    first = start_once(wine, wine.dadado_exe, None)
    password = next((line.split("=", 1)[1] for line in (first[2] if first else "").splitlines()
                     if line.startswith("密码=")), None)
    if not password:
        raise CannotRun("dadado.exe showed no window or wrote no password on its first start")
    kinds = [("dadado.exe, first start (no settings file)", wine.dadado_exe, lambda: None),
             ("dadado.exe, full settings file (16 plans, holidays)", wine.dadado_exe, lambda: full_settings(password)),
             ("minimal_window.exe", minimal, lambda: None)]
    runs = {label: [] for label, _, _ in kinds}
    for trial in range(trials + 1):
        for label, exe, ini in kinds:
            got = start_once(wine, exe, ini())
            if not got:
                # Once more before giving up: a busy machine may hold a start up.
                got = start_once(wine, exe, ini())
            if not got:
                raise CannotRun("%s showed no window in 30 s, twice" % label)
            if trial > 0:  # the first start of each only warms up
                runs[label].append(got)
    minimal_median = statistics.median(r[0] for r in runs["minimal_window.exe"])
    for label, _, _ in kinds:
        t = [r[0] for r in runs[label]]
        ratio = ("" if label.startswith("minimal") else "; ratio to the minimal program %.2f (goal at most %.1f)"
                 % (statistics.median(t) / minimal_median, STARTUP_GOAL))
        print("start-up %s: median %.3f s over %d starts (min %.3f, max %.3f)%s"
              % (label, statistics.median(t), len(t), min(t), max(t), ratio), flush=True)
    for label, _, _ in kinds:
        # The start nearest the median, step by step.
        ordered = sorted(runs[label], key=lambda r: r[0])
        rows = ordered[len(ordered) // 2][1]
        print("  trace of the median start, %s (ms since the process was created):" % label)
        previous = 0
        for us, _, what in rows:
            print("    %8.1f  +%6.1f  %s" % (us / 1000, (us - previous) / 1000, what))
            previous = us
    startup_requests(wine, kinds)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--trials", type=int, default=20)
    ap.add_argument("--idle-seconds", type=int, default=300, help="the window of the idle and guard benchmarks")
    ap.add_argument("--soak-seconds", type=int, default=600)
    ap.add_argument("--roundtrips", type=int, default=1000, help="requests of each kind in the pipe benchmark")
    ap.add_argument("--starts", type=int, default=7, help="starts of each program in the start-up benchmark")
    ap.add_argument("--native-build", help="the native build with the benchmarks (DADADO_BENCH=ON)")
    ap.add_argument("which", nargs="*", default=["precision", "idle", "guard", "pipe", "startup", "soak"])
    args = ap.parse_args()
    # A prefix of the locale we run under, made afresh: Wine keeps the regional
    # settings and system fonts of the locale a prefix was made under.
    wine = Wine(os.path.join(os.path.abspath(args.build), "wineprefix-bench-" + run_locale()), os.path.abspath(args.build))
    wine.setup()
    commit = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(__file__)), "describe", "--always", "--dirty"],
                            capture_output=True, text=True).stdout.strip()
    print("machine: %d cores; %s; locale %s (%s); commit %s" % (
        os.cpu_count(), subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip(),
        run_locale(), wine.probe("codepage").strip(), commit or "?"), flush=True)
    benchmarks = [
        ("precision", lambda: (precision(wine, args.trials, False), precision(wine, args.trials, True))),
        ("idle", lambda: idle(wine, args.idle_seconds)),
        ("guard", lambda: guard(wine, args.idle_seconds)),
        ("pipe", lambda: pipe(wine, args.roundtrips)),
        ("startup", lambda: startup(wine, args.starts)),
        ("soak", lambda: soak(wine, args.native_build and os.path.abspath(args.native_build), args.soak_seconds)),
    ]
    unknown = set(args.which) - {name for name, _ in benchmarks}
    if unknown:
        ap.error("no benchmark named %s" % ", ".join(sorted(unknown)))
    failed = []
    for name, run in benchmarks:
        if name not in args.which:
            continue
        try:
            run()
        except CannotRun as e:
            # A benchmark that cannot run says why; the others still run.
            print("FAILED %s: %s" % (name, e), flush=True)
            failed.append(name)
            wine.stop()
    wine.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
