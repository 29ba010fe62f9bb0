#!/usr/bin/python3
"""Benchmark of the live archive: brannock records one simulated station at
SPEED times broadcast speed into a folder that oneseg-archive serve follows.
Reports, per caption line, the time from its broadcast to being searchable
and to its alert (/api/alerts; one watch per line of the station's loop),
the serve process's CPU share, and its memory and open files at the start
and at the end.

    live_latency.py --bin BUILD/bin --scenarios simulator/scenarios [--speed 1] [--minutes 3] [--cpu-only]
"""
import argparse
import json
import os
import re
import signal
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request


def proc(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    with open("/proc/%d/status" % pid) as f:
        rss = int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))
    return cpu, rss, len(os.listdir("/proc/%d/fd" % pid))


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))] if values else float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--scenarios", required=True)
    parser.add_argument("--speed", type=float, default=1)
    parser.add_argument("--minutes", type=float, default=3)
    # Without the searches that time the lines, which cost the server CPU of their own.
    parser.add_argument("--cpu-only", action="store_true")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="live_latency_")
    w = lambda *p: os.path.join(work, *p)
    for sub in ("cfg", "run", "rec"):
        os.makedirs(w(sub))
    start = "2026-12-07T18:00:40"
    length = int(args.minutes * 60) + 120
    subprocess.run([os.path.join(args.bin, "oneseg-synth"), os.path.join(args.scenarios, "hibari_ch27_day.json"),
                    "-o", w("ch27.ts"), "--start", start, "--duration", "00:%02d:%02d" % (length // 60, length % 60)],
                   check=True, stdout=subprocess.DEVNULL)
    with open(w("ch27.truth.json"), encoding="utf-8") as f:
        truth = json.load(f)["captions"]
    with open(w("cfg", "OneSeg_Config.ini"), "w") as f:
        f.write("[Config]\nTSFolder=%s\nRecDays=3650\n[TunerA0001]\nChannel=27\n" % w("rec"))
    with open(w("sim.json"), "w") as f:
        json.dump({"speed": args.speed, "start": start.replace("T", " "),
                   "stations": [{"channel": 27, "stream": "ch27.ts", "bitrate": 416000}],
                   "devices": [{"model": "A", "serial": "A0001", "queue_bytes": 67108864}]}, f)
    db = w("archive.sqlite")
    texts = sorted({c["text"] for c in truth if "{" not in c["source_text"] and "\x0c" not in c["source_text"]})
    for text in texts:
        subprocess.run([os.path.join(args.bin, "oneseg-archive"), "watch", "add", '"%s"' % text, "--db", db],
                       check=True, stdout=subprocess.DEVNULL)
    env = dict(os.environ, XDG_RUNTIME_DIR=w("run"))
    server = subprocess.Popen([os.path.join(args.bin, "oneseg-archive"), "serve", "--root", w("rec"), "--db", db,
                               "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    base = re.search(r"(http://[^/ ]+)/", server.stdout.readline()).group(1)
    log = open(w("brannock.log"), "w")
    recorder = subprocess.Popen([os.path.join(args.bin, "brannock"), "--headless", "--simulate", w("sim.json"),
                                 "--config-dir", w("cfg")], stdout=log, stderr=subprocess.STDOUT, env=env)
    time.sleep(1)
    first = proc(server.pid)
    began = time.monotonic()
    clock = {}      # broadcast "HH:MM:SS" of a time packet -> when the recorder said it received it
    searchable, alerted = {}, {}
    seen_alerts = 0
    while time.monotonic() - began < args.minutes * 60:
        now = time.monotonic()
        if args.cpu_only:
            time.sleep(60)
            print("after %3.0f s: RSS %d kB, open files %d" % (time.monotonic() - began, *proc(server.pid)[1:]), flush=True)
            continue
        with open(w("brannock.log"), encoding="utf-8") as f:
            for t in re.findall(r"放送受信：26/12/07 (\d\d:\d\d:\d\d)", f.read()):
                clock.setdefault(t, now)
        for text in texts:
            found = json.loads(urllib.request.urlopen(base + "/api/search?limit=50&q=" +
                                                      urllib.parse.quote('"%s"' % text)).read())
            for h in found["hits"]:
                searchable.setdefault(h["time"][11:], now)
        alerts = json.loads(urllib.request.urlopen(base + "/api/alerts?since=%d" % seen_alerts).read())["alerts"]
        for a in alerts:
            alerted.setdefault(a["time"][11:], now)
            seen_alerts = a["id"]
        time.sleep(0.25)
    last = proc(server.pid)
    wall = time.monotonic() - began
    recorder.send_signal(signal.SIGTERM)
    recorder.wait(60)
    server.send_signal(signal.SIGTERM)
    server.wait(60)

    def broadcast_wall(hms):
        # the recorder's report of the time packet stamped like the line
        return clock.get(hms)

    def delays(seen):
        out = []
        for hms, at in seen.items():
            said = broadcast_wall(hms)
            if said is not None and said > began:
                out.append(at - said)
        return out

    s, a = delays(searchable), delays(alerted)
    print("speed %.0f, %.0f s: %d lines searchable, delay p50 %.1f s p95 %.1f s; %d alerts, delay p50 %.1f s p95 %.1f s"
          % (args.speed, wall, len(s), percentile(s, 50), percentile(s, 95), len(a), percentile(a, 50), percentile(a, 95)))
    print("serve CPU %.2f %% of one core; RSS %d -> %d kB; open files %d -> %d"
          % (100 * (last[0] - first[0]) / wall, first[1], last[1], first[2], last[2]))


if __name__ == "__main__":
    main()
