#!/usr/bin/python3
"""Live captions and alerts with the recorder writing: brannock records a
simulated station into the folder that oneseg-archive serve watches. A word
said during the run is found before its recording ends; a watch saved before
the run gets its alert exactly once in the Atom feed (read by Debian's
feedparser) and once through --on-alert; the swap of the lines read live for
the analyser's .sub leaves the hits and the alert as they were.

    live_alerts_test.py --bin BUILD/bin --scenarios simulator/scenarios
"""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

import feedparser

ARGS = None
WORD = "先制点"            # said once, at 18:04:27 (stamped with the time packet of 18:04:25)
RECORDING = "261207180_Ch27"
NEXT = "261207181_Ch27"
SPEED = 30


def wait_for(what, check, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = check()
        if found:
            return found
        time.sleep(0.2)
    raise AssertionError("waited %d s for %s" % (seconds, what))


class LiveAlerts(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="archive_live_alerts_")
        self.children, self.logs = [], []
        w = lambda *p: os.path.join(self.work, *p)
        for sub in ("streams", "cfg", "run", "rec"):
            os.makedirs(w(sub))
        with open(os.path.join(ARGS.scenarios, "hibari_ch27_day.json"), encoding="utf-8") as f:
            scenario = json.load(f)
        for event in scenario["events"]:
            # The match's lines once each, from 18:04 on: the tuner may take a
            # few minutes of the accelerated broadcast to start receiving.
            if event["start"] == "2026-12-07T18:00:00":
                event["caption_repeat_s"] = 7200
                for caption in event["captions"]:
                    caption["offset_s"] += 240
        with open(w("ch27.json"), "w", encoding="utf-8") as f:
            json.dump(scenario, f, ensure_ascii=False)
        subprocess.run([self.program("oneseg-synth"), w("ch27.json"), "-o", w("streams", "ch27.ts"),
                        "--start", "2026-12-07T17:58:30", "--duration", "00:13:00"],
                       check=True, stdout=subprocess.DEVNULL)
        with open(w("cfg", "OneSeg_Config.ini"), "w") as f:
            f.write("[Config]\nTSFolder=%s\nRecDays=3650\n[TunerA0001]\nChannel=27\n" % w("rec"))
        with open(w("sim.json"), "w") as f:
            json.dump({"speed": SPEED, "start": "2026-12-07 17:58:30",
                       "stations": [{"channel": 27, "stream": "streams/ch27.ts", "bitrate": 416000}],
                       "devices": [{"model": "A", "serial": "A0001", "queue_bytes": 67108864}]}, f)
        # The program --on-alert runs: what it was given, one line per run.
        with open(w("on_alert.sh"), "w") as f:
            f.write('#!/bin/sh\nprintf "%%s|%%s|%%s|%%s|%%s|%%s|%%s\\n" "$ONESEG_ALERT_ID" "$ONESEG_ALERT_WATCH" '
                    '"$ONESEG_ALERT_TIME" "$ONESEG_ALERT_STATION" "$ONESEG_ALERT_TEXT" "$ONESEG_ALERT_URL" '
                    '"$(cat)" >> %s\n' % w("runs.txt"))
        os.chmod(w("on_alert.sh"), 0o755)
        self.w = w

    def tearDown(self):
        for child in self.children:
            if child.poll() is None:
                child.terminate()
                child.wait(30)
            if child.stdout:
                child.stdout.close()
        for log in self.logs:
            log.close()
        if not os.environ.get("ONESEG_KEEP"):
            shutil.rmtree(self.work, ignore_errors=True)

    def log(self, name):
        self.logs.append(open(self.w(name), "w"))
        return self.logs[-1]

    def program(self, name):
        return os.path.join(ARGS.bin, name)

    def get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=30) as answer:
            return answer.read()

    def hits(self):
        found = json.loads(self.get("/api/search?q=" + urllib.parse.quote(WORD)))["hits"]
        return sorted((h["time"], h["offset"], h["name"], h["text"], h["programme"]) for h in found)

    def feed(self):
        return feedparser.parse(self.get("/feed.atom"))

    def read(self, name):
        if not os.path.exists(self.w(name)):
            return ""
        with open(self.w(name), encoding="utf-8") as f:
            return f.read()

    def runs(self):
        return self.read("runs.txt").splitlines()

    def test_said_found_alerted_once_and_kept_through_the_swap(self):
        db = self.w("archive.sqlite")
        added = subprocess.run([self.program("oneseg-archive"), "watch", "add", WORD, "--name", "試合", "--db", db],
                               check=True, capture_output=True, text=True)
        watch = added.stdout.strip()
        env = dict(os.environ, ONESEG_TIME_SCALE="0.01", XDG_RUNTIME_DIR=self.w("run"))
        server = subprocess.Popen([self.program("oneseg-archive"), "serve", "--root", self.w("rec"), "--db", db,
                                   "--listen", "127.0.0.1:0", "--on-alert", self.w("on_alert.sh")],
                                  stdout=subprocess.PIPE, stderr=self.log("serve.log"), text=True, env=env)
        self.children.append(server)
        self.base = re.search(r"(http://[^/ ]+)/", server.stdout.readline()).group(1)
        recorder = subprocess.Popen([self.program("brannock"), "--headless", "--simulate", self.w("sim.json"),
                                     "--config-dir", self.w("cfg")], stdout=self.log("brannock.log"),
                                    stderr=subprocess.STDOUT, env=env)
        self.children.append(recorder)

        # Found while its recording is still being written.
        live = wait_for("the word in the index", self.hits, 60)
        day = self.w("rec", "261207")
        self.assertFalse(os.path.exists(os.path.join(day, NEXT + ".ts")), "the recording had ended already")
        self.assertFalse(os.path.exists(os.path.join(day, RECORDING + ".sub")))
        self.assertEqual([(h[0], h[2]) for h in live], [("2026-12-07 18:04:25", RECORDING)])
        moment = self.base + "/recording/261207/%s?t=%d" % (RECORDING, live[0][1])

        wait_for("the recorder past 18:10:20",
                 lambda: "A0001：放送受信：26/12/07 18:10:2" in self.read("brannock.log"), 120)
        recorder.send_signal(signal.SIGTERM)
        self.assertEqual(recorder.wait(60), 0)

        feed = wait_for("the alert in the feed", lambda: self.feed().entries, 30)
        self.assertFalse(self.feed().bozo)
        self.assertEqual(len(feed), 1)
        entry = feed[0]
        self.assertIn(WORD, entry.title)
        self.assertEqual(entry.link, moment)
        self.assertEqual(entry.updated, "2026-12-07T18:04:25+09:00")
        # The pages show it: the line with the word marked, and the watch with its last alert.
        self.assertIn("<mark>%s</mark>" % WORD, self.get("/alerts").decode())
        watches = self.get("/watches").decode()
        self.assertIn('value="試合"', watches)
        self.assertIn("<mark>%s</mark>" % WORD, watches)
        runs = wait_for("the --on-alert run", self.runs, 30)
        fields = runs[0].split("|")
        self.assertEqual(fields[1:6], [watch, "2026-12-07 18:04:25", "ひばりテレビ", live[0][3], moment])
        self.assertEqual(json.loads(fields[6])["id"], int(fields[0]))

        # The analyser's .sub replaces the lines read live: hits and alert stay.
        def swapped():
            try:
                return self.get("/files/261207/%s.sub" % RECORDING)
            except urllib.error.HTTPError:
                return None
        wait_for("the .sub indexed", swapped, 120)
        self.assertEqual(self.hits(), live)
        self.assertEqual([e.id for e in self.feed().entries], [entry.id])
        time.sleep(3)
        self.assertEqual(len(self.runs()), 1)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--scenarios", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[__file__] + rest)
