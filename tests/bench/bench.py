#!/usr/bin/env python3
"""Benchmarks of the real dadado.exe under Wine; they print figures and never
fail on a slow machine.

  precision  a daily schedule a few seconds ahead, many trials, with and
             without two processes keeping both cores busy: the share of
             trials whose exit call came within the scheduled second, and the
             latency distribution
  idle       CPU time and peak memory of dadado.exe idling for a minute with a
             schedule set, against a minimal Win32 program with a one-second
             timer under the same Wine
  startup    time from process start to the window shown, against the same
             minimal program

Usage: bench.py --build build/win [--trials N] [--idle-seconds S] [which ...]"""

import argparse
import datetime
import multiprocessing
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from run_e2e import Wine, write_ini  # noqa: E402


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
          % (label, trials, inside, 100.0 * inside / trials, trials - len(got)))
    if got:
        got.sort()
        q = lambda f: got[min(len(got) - 1, int(f * len(got)))]
        print("  latency after the second starts: min %.3f s, median %.3f s, 90%% %.3f s, max %.3f s"
              % (got[0], statistics.median(got), q(0.9), got[-1]))


def find_pid(name):
    out = subprocess.run(["pgrep", "-f", name], capture_output=True, text=True).stdout.split()
    for pid in out:
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
            if cmd.strip().endswith(name) and not cmd.startswith("wine "):
                return int(pid)
        except OSError:
            pass
    return int(out[0]) if out else None


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


def cpu_seconds(pid):
    # The scheduler's own count, in nanoseconds: finer than clock ticks.
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0]) / 1e9


def cpu_and_peak(pid):
    peak = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                peak = int(line.split()[1])
    return cpu_seconds(pid), peak


def idle(wine, seconds):
    results = {}
    for name, exe in (("dadado.exe", wine.dadado_exe), ("minimal_timer.exe", os.path.join(wine.build, "tests", "win32", "minimal_timer.exe"))):
        folder = wine.folder("idle")
        if name == "dadado.exe":
            due = datetime.datetime.now() + datetime.timedelta(hours=3)
            write_ini(folder, "[常规设置]\n频率= 0\n定时时间=%s\n操作方式= 3\n启动后隐藏界面= 1\n" % due.strftime("%Y/%m/%d %H:%M:%S"))
        else:
            subprocess.run(["cp", exe, folder])
        proc = subprocess.Popen(["wine", os.path.join(folder, name)], cwd=folder, env=wine.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(5)  # past start-up
        pid = find_pid(name)
        server = find_server(wine.prefix)
        cpu0, _ = cpu_and_peak(pid)
        server0 = cpu_seconds(server) if server else 0.0
        time.sleep(seconds)
        cpu1, peak = cpu_and_peak(pid)
        server1 = cpu_seconds(server) if server else 0.0
        results[name] = (cpu1 - cpu0, peak)
        print("idle %s for %d s: CPU %.4f s (wineserver %.4f s), peak memory %d KiB"
              % (name, seconds, cpu1 - cpu0, server1 - server0, peak))
        wine.stop()
        proc.wait(timeout=30)
    d, m = results["dadado.exe"], results["minimal_timer.exe"]
    print("idle ratios dadado/minimal: CPU %.2f, peak memory %.2f" % (d[0] / max(m[0], 1e-6), d[1] / max(m[1], 1)))


def startup(wine, trials):
    for name, title in (("dadado.exe", "^dadado$"), ("minimal_timer.exe", "^minimal$")):
        times = []
        for trial in range(trials + 1):
            folder = wine.folder("startup")
            if name != "dadado.exe":
                subprocess.run(["cp", os.path.join(wine.build, "tests", "win32", "minimal_timer.exe"), folder])
            started = time.time()
            subprocess.Popen(["wine", os.path.join(folder, name)], cwd=folder, env=wine.env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            while time.time() - started < 30:
                out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title], capture_output=True).stdout
                if out.strip():
                    break
                time.sleep(0.02)
            if trial > 0:  # the first start only warms the prefix up
                times.append(time.time() - started)
            wine.stop()
        print("start-up %s: median %.2f s over %d starts (min %.2f, max %.2f)"
              % (name, statistics.median(times), trials, min(times), max(times)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--trials", type=int, default=20)
    ap.add_argument("--idle-seconds", type=int, default=60)
    ap.add_argument("which", nargs="*", default=["precision", "idle", "startup"])
    args = ap.parse_args()
    wine = Wine(os.path.join(os.path.abspath(args.build), "wineprefix-bench"), os.path.abspath(args.build))
    wine.setup()
    print("machine: %d cores; %s" % (os.cpu_count(), subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()))
    if "precision" in args.which:
        precision(wine, args.trials, False)
        precision(wine, args.trials, True)
    if "idle" in args.which:
        idle(wine, args.idle_seconds)
    if "startup" in args.which:
        startup(wine, max(3, args.trials // 4))
    wine.stop(restart=False)


if __name__ == "__main__":
    main()
