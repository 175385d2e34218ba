#!/usr/bin/env python3
"""Measures the idle CPU of the composed program: the real TervoloNG
(offscreen, a private home, every server a closed port on 127.0.0.1) left
alone on its map, once with a scripted position source giving one fix a
second (TERVOLO_NMEA_FILE, a track from make-nmea-track.py) and once without.
The rounds alternate (none, fix, none, fix, ...) so both see the same
machine; each round lets the program settle, then counts its user and system
CPU time from /proc over the window.

    scripts/measure-idle-cpu.py build/app/TervoloNG [--seconds 30] [--rounds 3]

Prints each round and, per mode, the median and the spread (min-max) in
percent of one core, and the ratio of the medians.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    # utime, stime: fields 14 and 15 of the whole line (12, 13 after the name).
    return (int(fields[11]) + int(fields[12])) / ticks


def environment(home, track):
    env = dict(os.environ)
    env["QT_QPA_PLATFORM"] = "offscreen"
    env["HOME"] = home
    for name, sub in (("XDG_DATA_HOME", "data"), ("XDG_CONFIG_HOME", "config"),
                      ("XDG_CACHE_HOME", "cache"), ("XDG_STATE_HOME", "state"),
                      ("XDG_RUNTIME_DIR", "runtime")):
        os.makedirs(os.path.join(home, sub), mode=0o700, exist_ok=True)
        env[name] = os.path.join(home, sub)
    for key in ("QuovaAPIHost", "QuovaProductWebHost", "QuovaAnalyticsHost", "QuovaGeocoderHost"):
        env["TERVOLO_" + key] = "http://127.0.0.1:9"
    env["TERVOLO_QuovaTileServerScheme"] = "http"
    env["TERVOLO_QuovaTileServerHost"] = "tiles.idle.localhost:9"
    env["TERVOLO_QuovaSeaMarkTileServerScheme"] = "http"
    env["TERVOLO_QuovaSeaMarkTileServerHost"] = "seamarks.idle.localhost:9"
    env["TERVOLO_QuovaTilePreloadHost"] = ""
    env.pop("TERVOLO_NMEA_FILE", None)
    if track:
        env["TERVOLO_NMEA_FILE"] = track
    return env


def one_round(program, with_fix, seconds, settle, log_path):
    home = tempfile.mkdtemp(prefix="tervolo-idle-")
    try:
        track = None
        if with_fix:
            track = os.path.join(home, "track.nmea")
            # Standing still: every fix the same place, one a second, for the whole round.
            count = int(settle + seconds + 15)
            subprocess.run([sys.executable, os.path.join(HERE, "make-nmea-track.py"), track,
                            "--count", str(count), "--step", "1", "--speed", "0"], check=True)
        with open(log_path, "wb") as log:
            process = subprocess.Popen([program],
                                       env=environment(home, track), stdout=log, stderr=log)
        try:
            time.sleep(settle)
            if process.poll() is not None:
                raise RuntimeError("the program ended early; see " + log_path)
            start_cpu = cpu_seconds(process.pid)
            start = time.monotonic()
            time.sleep(seconds)
            used = cpu_seconds(process.pid) - start_cpu
            wall = time.monotonic() - start
        finally:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        return 100.0 * used / wall
    finally:
        shutil.rmtree(home, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("--seconds", type=float, default=30.0, help="measured window per round")
    parser.add_argument("--settle", type=float, default=10.0, help="seconds after start before measuring")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    results = {"none": [], "1 Hz fix": []}
    log_path = os.path.join(tempfile.gettempdir(), "tervolo-idle-%d.log" % os.getpid())
    for index in range(args.rounds):
        for mode in ("none", "1 Hz fix"):
            percent = one_round(args.program, mode != "none", args.seconds, args.settle, log_path)
            results[mode].append(percent)
            print("round %d %-8s %5.2f %% of a core over %.0f s" % (index + 1, mode, percent, args.seconds),
                  flush=True)
    medians = {}
    for mode, values in results.items():
        medians[mode] = statistics.median(values)
        print("%-8s median %.2f %% (spread %.2f-%.2f %%)" % (mode, medians[mode], min(values), max(values)))
    if medians["none"] > 0:
        print("ratio 1 Hz fix / none: %.2f" % (medians["1 Hz fix"] / medians["none"]))
    os.unlink(log_path)


if __name__ == "__main__":
    main()
