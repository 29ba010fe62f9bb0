#!/usr/bin/env python3
"""The archive's server as a client meets it: the real oneseg-archive over
recordings synthesised and analysed by the suite's own programs, real ffmpeg
for clips and pictures, plain HTTP from here.

    api_test.py --bin BUILD/bin --material DIR   (made by make_material.sh)
"""
import argparse
import http.client
import json
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

ARGS = None
DAY = "261207"
FIRST, SECOND, OTHER = "261207180_Ch27", "261207181_Ch27", "261207180_Ch22"
FPS = 15  # the synthesiser's picture


def start_server(root, db, *extra):
    server = subprocess.Popen([os.path.join(ARGS.bin, "oneseg-archive"), "serve", "--root", root, "--db", db, *extra],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    server.said = ""  # what it said before its address
    for _ in range(10):
        line = server.stdout.readline()
        match = re.search(r"http://([^/]+):(\d+)/(\?token=(\w+))?", line)
        if match:
            return server, int(match.group(2)), match.group(4)
        server.said += line
    server.kill()
    raise AssertionError("serve printed no address: " + server.said + server.stdout.read())


def stop_server(server):
    server.terminate()
    try:
        server.wait(timeout=20)
    except subprocess.TimeoutExpired:
        server.kill()
        raise
    finally:
        server.stdout.close()


def video_frames(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                          "stream=nb_read_packets", "-of", "csv=p=0", path], capture_output=True, text=True, check=True)
    return int(re.search(r"\d+", out.stdout).group())


def children_of(pid):
    found = []
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/children") as f:
            found += f.read().split()
    return found


def linked_root(cls, prefix, *folders):
    """A work folder with a root of the material's recordings (hard links)."""
    cls.work = tempfile.mkdtemp(prefix=prefix)
    cls.root = os.path.join(cls.work, "rec")
    day = os.path.join(cls.root, DAY)
    os.makedirs(day)
    for folder in folders:
        for name in os.listdir(os.path.join(ARGS.material, folder, DAY)):
            os.link(os.path.join(ARGS.material, folder, DAY, name), os.path.join(day, name))
    cls.db = os.path.join(cls.work, "db", "archive.sqlite")
    return day


def index_and_serve(cls):
    subprocess.run([os.path.join(ARGS.bin, "oneseg-archive"), "index", "--root", cls.root, "--db", cls.db],
                   check=True, stdout=subprocess.DEVNULL)
    cls.server, cls.port, _ = start_server(cls.root, cls.db, "--listen", "127.0.0.1:0")


class Served(unittest.TestCase):
    """A server over a root of its own, asked over plain HTTP."""

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.server)
        shutil.rmtree(cls.work, ignore_errors=True)

    def get(self, path, headers=None, port=None):
        connection = http.client.HTTPConnection("127.0.0.1", port or self.port, timeout=60)
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        body = response.read()
        connection.close()
        return response, body


class Server(Served):
    @classmethod
    def setUpClass(cls):
        day = linked_root(cls, "archive_api_", "rec")
        # A page builder's picture, and a page that is a link out of the root.
        os.makedirs(os.path.join(day, SECOND + "thm"))
        with open(os.path.join(day, SECOND + "thm", "30.jpg"), "wb") as f:
            f.write(b"\xff\xd8page builder picture\xff\xd9")
        os.symlink("/etc/hostname", os.path.join(day, FIRST + ".html"))
        cls.day_files = sorted(os.listdir(day))
        index_and_serve(cls)
        with open(os.path.join(ARGS.material, "ch27.truth.json"), encoding="utf-8") as f:
            cls.truth = json.load(f)


    def search(self, **query):
        response, body = self.get("/api/search?" + urllib.parse.urlencode(query))
        return response.status, json.loads(body)

    def test_search_finds_every_moment_a_word_was_said(self):
        word = "先制点"
        said = sorted({"2026-12-07 " + c["time"] for c in self.truth["captions"] if word in c["text"]}, reverse=True)
        self.assertGreater(len(said), 10)
        status, result = self.search(q=word)
        self.assertEqual(status, 200)
        self.assertEqual(result["total"], len(said))
        hits = result["hits"]
        self.assertEqual([h["time"] for h in hits], said[:len(hits)])  # newest first
        for hit in hits:
            self.assertIn(word, hit["text"])
            self.assertEqual((hit["station"], hit["channel"], hit["day"]), ("ひばりテレビ", 27, DAY))
            name = FIRST if hit["time"] < "2026-12-07 18:10:00" else SECOND
            self.assertEqual(hit["recording"], f"{DAY}/{name}.ts")
            self.assertEqual(hit["clip"], f"/clip/{DAY}/{name}.mp4?t={hit['offset']}")
            self.assertEqual(hit["thumbnail"], f"/thumbnail/{DAY}/{name}.jpg?t={hit['offset']}")
            self.assertEqual(hit["page"], f"/recording/{DAY}/{name}?t={hit['offset']}")
        # Filters and paging.
        self.assertEqual(self.search(q=word, station="みなとテレビ")[1]["total"], 0)
        self.assertEqual(self.search(q=word, channel=27, **{"from": "2026-12-08"})[1]["total"], 0)
        second_page = self.search(q=word, page=2)[1]
        self.assertEqual(len(second_page["hits"]), max(0, min(20, len(said) - 20)))

    def test_browse_recordings_and_stats(self):
        response, body = self.get("/api/recordings?day=" + DAY)
        self.assertEqual(response.status, 200)
        recordings = {r["name"]: r for r in json.loads(body)["recordings"]}
        self.assertEqual(set(recordings), {FIRST, SECOND, OTHER})
        self.assertEqual(recordings[OTHER]["station"], "みなとテレビ")
        self.assertGreater(recordings[FIRST]["captions"], 40)
        self.assertEqual(json.loads(self.get("/api/recordings")[1])["days"], [DAY])
        stats = json.loads(self.get("/api/stats")[1])
        self.assertEqual((stats["recordings"], stats["days"], stats["stations"]), (3, 1, 2))
        for path in ("/", "/browse", f"/recording/{DAY}/{FIRST}", f"/recording/{DAY}/{FIRST}?t=25",
                     "/search?q=" + urllib.parse.quote("ゴール")):
            response, body = self.get(path)
            self.assertEqual(response.status, 200, path)
            self.assertIn("text/html; charset=UTF-8", response.getheader("Content-Type"))
        page = self.get(f"/recording/{DAY}/{FIRST}")[1].decode()
        self.assertIn(f'href="/recording/{DAY}/{SECOND}"', page)  # the next recording
        self.assertIn("先制点です", page)

    def test_clip_starts_at_the_keyframe_before_the_moment_and_runs_on(self):
        hit = next(h for h in self.search(q="先制点")[1]["hits"] if h["time"] == "2026-12-07 18:00:25")
        shown = next(c for c in self.truth["captions"] if c["time"] == "18:00:25")
        first = os.path.join(self.root, DAY, FIRST + ".ts")
        joined = f"concat:{first}|{os.path.join(self.root, DAY, SECOND + '.ts')}"
        total = video_frames(joined)
        for moment, running_on in ((hit["offset"], True), (595, True)):
            begun = time.monotonic()
            connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
            connection.request("GET", f"/clip/{DAY}/{FIRST}.mp4?t={moment}", headers={"Range": "bytes=0-"})
            response = connection.getresponse()
            head = response.read(4096)
            print(f"clip t={moment}: first {len(head)} bytes after {1000 * (time.monotonic() - begun):.0f} ms",
                  file=sys.stderr)
            body = head + response.read()
            connection.close()
            self.assertEqual(response.status, 200)
            self.assertEqual(response.getheader("Content-Type"), "video/mp4")
            self.assertEqual(body[4:8], b"ftyp")
            clip = os.path.join(self.work, "clip.mp4")
            with open(clip, "wb") as f:
                f.write(body)
            start = (total - video_frames(clip)) / FPS  # seconds into the first recording
            self.assertLessEqual(start, moment + 0.01)
            self.assertGreaterEqual(start, moment - 2.01)
            if moment == hit["offset"]:
                self.assertLess(start, shown["offset_s"])  # before the caption appears
        self.assertGreater(video_frames(clip), 60 * FPS)  # from 9:55 on into the next recording

    def test_an_abandoned_clip_ends_its_ffmpeg(self):
        with socket.create_connection(("127.0.0.1", self.port)) as s:
            s.sendall(f"GET /clip/{DAY}/{FIRST}.mp4?t=10 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode())
            got = b""
            while len(got) < 200000:
                got += s.recv(65536)
            self.assertTrue(children_of(self.server.pid))  # ffmpeg is still at work
        deadline = time.monotonic() + 15
        while children_of(self.server.pid) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(children_of(self.server.pid), [])

    def test_pictures_from_the_page_builder_or_made_once(self):
        response, body = self.get(f"/thumbnail/{DAY}/{SECOND}.jpg?t=33")
        self.assertEqual((response.status, body), (200, b"\xff\xd8page builder picture\xff\xd9"))
        response, body = self.get(f"/thumbnail/{DAY}/{FIRST}.jpg?t=25")
        self.assertEqual(response.status, 200)
        self.assertEqual(body[:2], b"\xff\xd8")
        cached = os.path.join(os.path.dirname(self.db), "thumbnails-archive", DAY, FIRST, "25.jpg")
        made = os.stat(cached).st_mtime_ns
        self.assertEqual(self.get(f"/thumbnail/{DAY}/{FIRST}.jpg?t=25")[1], body)
        self.assertEqual(os.stat(cached).st_mtime_ns, made)
        self.assertEqual(sorted(os.listdir(os.path.join(self.root, DAY))), self.day_files)  # nothing written there
        self.assertEqual(self.get(f"/thumbnail/{DAY}/{OTHER}.jpg?t=25")[0].status, 404)  # no picture in that stream

    def test_only_known_files_inside_the_root_are_served(self):
        response, body = self.get(f"/files/{DAY}/{FIRST}.ts", headers={"Range": "bytes=188-375"})
        self.assertEqual(response.status, 206)
        self.assertEqual(len(body), 188)
        self.assertEqual(body[0], 0x47)
        self.assertEqual(self.get(f"/files/{DAY}/{SECOND}thm/30.jpg")[0].status, 200)
        for path in (f"/files/{DAY}/{FIRST}.html",  # a link out of the root
                     f"/files/{DAY}/{SECOND}thm/35.jpg", f"/files/{DAY}/261207190_Ch27.ts",
                     f"/files/{DAY}/..%2F..%2F..%2Fetc%2Fpasswd", "/files/../../etc/passwd",
                     f"/files/{DAY}/{FIRST}.ts%00.sub", f"/recording/{DAY}/261207190_Ch27", "/etc/passwd"):
            self.assertEqual(self.get(path)[0].status, 404, path)

    def test_byte_ranges_as_http_says(self):
        path = f"/files/{DAY}/{SECOND}thm/30.jpg"
        whole = self.get(path)[1]
        size = len(whole)
        response, body = self.get(path, headers={"Range": f"bytes={size}-"})
        self.assertEqual((response.status, response.getheader("Content-Range")), (416, f"bytes */{size}"))
        response, body = self.get(path, headers={"Range": "bytes=0-,0-,0-"})
        self.assertEqual((response.status, response.getheader("Content-Range"), body),
                         (206, f"bytes 0-{size - 1}/{size}", whole))
        response, body = self.get(path, headers={"Range": "bytes=-3,0-1"})
        self.assertEqual(response.status, 206)
        boundary = re.fullmatch(r"multipart/byteranges; boundary=(\S+)", response.getheader("Content-Type")).group(1)
        self.assertEqual(int(response.getheader("Content-Length")), len(body))
        parts = body.split(b"--" + boundary.encode())
        self.assertEqual(parts[-1], b"--\r\n")
        got = [(re.search(rb"Content-Range: bytes (\d+)-(\d+)/(\d+)", p).groups(), p.split(b"\r\n\r\n", 1)[1][:-2])
               for p in parts[1:-1]]
        self.assertEqual(got, [((b"0", b"1", str(size).encode()), whole[:2]),
                               ((str(size - 3).encode(), str(size - 1).encode(), str(size).encode()), whole[-3:])])
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        connection.request("HEAD", path)
        response = connection.getresponse()
        self.assertEqual((response.status, int(response.getheader("Content-Length")), response.read()), (200, size, b""))
        connection.close()

    def test_slow_clients_hold_up_no_one(self):
        # 40 connections from another loopback address trickle a request a
        # byte a second; each may take 10 s in all for its head, and an address
        # holds 32 connections at most.
        request = b"GET /api/stats HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        slow = []
        for _ in range(40):
            s = socket.socket()
            s.bind(("127.0.0.2", 0))
            s.connect(("127.0.0.1", self.port))
            slow.append(s)
        began = time.monotonic()
        closed = {}
        try:
            for step in range(14):
                for s in slow:
                    if s not in closed:
                        try:
                            s.send(request[step:step + 1])
                        except OSError:
                            closed[s] = time.monotonic() - began
                readable = select.select([s for s in slow if s not in closed], [], [], 0)[0]
                for s in readable:
                    try:
                        s.recv(1000)
                    except OSError:
                        pass
                    closed[s] = time.monotonic() - began
                asked = time.monotonic()
                response, _ = self.get("/api/stats")
                self.assertEqual(response.status, 200)
                self.assertLess(time.monotonic() - asked, 1.0, f"{step} s into the trickle")
                time.sleep(max(0.0, began + step + 1 - time.monotonic()))
        finally:
            for s in slow:
                s.close()
        self.assertGreaterEqual(sum(1 for t in closed.values() if t < 5), 8)  # over the address's share: at once
        self.assertEqual(len(closed), 40)
        self.assertLess(max(closed.values()), 12.5)  # the head's deadline, though bytes kept coming

    def test_hostile_and_malformed_requests_get_4xx(self):
        for path in ("/api/search?q=" + urllib.parse.quote("あ" * 100), "/api/search?q=" + urllib.parse.quote("!!! ... ???"),
                     "/api/search?q=a&page=0", "/api/search?q=a&from=2026-02-30x", "/api/search",
                     f"/clip/{DAY}/{FIRST}.mp4?t=-5", f"/clip/{DAY}/{FIRST}.mp4", "/api/recordings?day=../../",
                     "/browse?day=abc", f"/recording/{DAY}/{FIRST}?t=x", "/api/live/27/captions?after=x",
                     "/api/live/27/captions?after=-1", "/api/live/99/captions", "/live/99",
                     "/live/99/stream.mp4"):
            response, body = self.get(path)
            self.assertTrue(400 <= response.status < 500, f"{path}: {response.status}")
        response, body = self.get("/api/search?q=" + urllib.parse.quote("!!!"))
        self.assertIn("error", json.loads(body))
        # Errors speak of the request, not of the command line; the API's are JSON whatever the status.
        response, body = self.get("/api/search?q=a&from=2026-02-30")
        self.assertEqual(response.status, 400)
        self.assertNotIn("--", json.loads(body)["error"])
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        connection.request("DELETE", "/api/stats")
        response = connection.getresponse()
        self.assertEqual((response.status, response.getheader("Allow")), (405, "GET, HEAD"))
        self.assertIn("error", json.loads(response.read()))
        connection.close()
        page = self.get("/search?q=" + urllib.parse.quote('<script>alert(1)</script>"'))[1].decode()
        self.assertNotIn("<script>alert", page)
        self.assertEqual(self.get("/search?q=%FF%FE%80")[0].status // 100 in (2, 4), True)
        self.assertEqual(self.get("/api/stats", headers={"Host": "evil.example"})[0].status, 403)
        for raw in (b"GARBAGE\r\n\r\n", b"GET /" + b"a" * 10000 + b" HTTP/1.1\r\nHost: x\r\n\r\n",
                    b"GET / HTTP/9.9\r\n\r\n", b"DELETE /api/stats HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                    b"\x00\xff\r\n\r\n"):
            with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
                s.sendall(raw)
                answer = s.recv(100)
            self.assertRegex(answer, rb"^HTTP/1\.1 4\d\d", raw[:20])
        self.assertEqual(self.get("/api/stats")[0].status, 200)  # still serving

    def test_a_read_only_copy_is_searched_and_left_alone(self):
        folder = os.path.join(self.work, "copy")
        os.makedirs(folder)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs", folder],
                                 capture_output=True).returncode == 0
        try:
            shutil.copy(self.db, folder)
            if mounted:
                subprocess.run(["mount", "-o", "remount,ro", folder], check=True)
            else:
                os.chmod(folder, 0o555)
            if os.access(folder, os.W_OK):
                self.skipTest("no folder this user cannot write")
            before = sorted(os.listdir(folder))
            server, port, _ = start_server(self.root, os.path.join(folder, "archive.sqlite"), "--listen", "127.0.0.1:0")
            try:
                self.assertIn("cannot be written: the index is read as it is", server.said)
                response, body = self.get("/api/search?q=" + urllib.parse.quote("先制点"), port=port)
                self.assertEqual(response.status, 200)
                self.assertGreater(json.loads(body)["total"], 10)
                self.assertEqual(self.get("/api/stats", port=port)[0].status, 200)
            finally:
                stop_server(server)
            self.assertEqual(sorted(os.listdir(folder)), before)
        finally:
            if mounted:
                subprocess.run(["umount", folder], check=True)
            else:
                os.chmod(folder, 0o755)

    def test_elsewhere_than_the_loopback_every_request_needs_the_token(self):
        server, port, token = start_server(self.root, os.path.join(self.work, "db2", "a.sqlite"), "--listen", "0.0.0.0:0")
        try:
            self.assertRegex(token or "", r"^[0-9a-f]{32}$")
            self.assertEqual(self.get("/api/stats", port=port)[0].status, 401)
            self.assertEqual(self.get("/?token=" + "0" * 32, port=port)[0].status, 401)
            response, _ = self.get("/?token=" + token, port=port)
            self.assertEqual(response.status, 200)
            cookie = response.getheader("Set-Cookie").split(";")[0]
            self.assertEqual(self.get("/api/stats", headers={"Cookie": cookie}, port=port)[0].status, 200)
            self.assertEqual(self.get("/api/stats", headers={"Authorization": "Bearer " + token}, port=port)[0].status, 200)
        finally:
            stop_server(server)


def sub_lines(path):
    """The (time, text) lines of a .sub file."""
    with open(path, encoding="euc-jp") as f:
        return [(line[:8], line[9:].rstrip("\r\n")) for line in f if line[2:3] == ":"]


class Programmes(Served):
    """The programme of 18:00 on UHF 27 ran through three recordings (the
    third after a gap): one page, one transcript, a player that runs on."""

    @classmethod
    def setUpClass(cls):
        linked_root(cls, "archive_programmes_", "rec", "programme")
        index_and_serve(cls)

    def page(self, path, status=200):
        response, body = self.get(path)
        self.assertEqual(response.status, status, path)
        return body.decode()

    def test_a_programme_across_three_recordings_is_one(self):
        page = self.page("/programme/27/2612071800")
        self.assertIn("サッカー中継", page)
        self.assertIn("18:00–19:00", page)
        parts = re.findall(r'data-clip="/clip/261207/(\w+)\.mp4\?t=(\d+)" data-label="[^"]*" data-part="(\d)"(?: data-then="(\d)")?', page)
        self.assertEqual(parts, [(FIRST, "0", "0", "2"), (SECOND, "0", "1", "2"), ("261207182_Ch27", "0", "2", "")])
        said = []
        for name in (FIRST, SECOND, "261207182_Ch27"):
            said += [t for t, _ in sub_lines(os.path.join(self.root, DAY, name + ".sub")) if "18:00:00" <= t < "19:00:00"]
        transcript = page[page.index('class="transcript'):]
        self.assertEqual(re.findall(r'<span class="t">([\d:]+)</span>', transcript), said)
        self.assertIn(f"字幕（{len(said)} 行）", page)
        picture = re.search(r'<img loading="lazy" alt="" src="(/thumbnail/261207/261207182_Ch27\.jpg\?t=60)"', page)
        response, body = self.get(picture.group(1))
        self.assertEqual((response.status, body[:2]), (200, b"\xff\xd8"))
        self.page("/programme/27/2612071801", 404)  # nothing begins then
        self.page("/programme/22/2612071800", 404)

    def test_programmes_are_found_and_each_day_is_a_grid(self):
        for query in ("サッカー", "ひばりFC", "第30節"):  # a title, its full-width letters typed half-width, a description
            found = re.findall(r'href="(/programme/[^"]+)"', self.page("/programmes?q=" + urllib.parse.quote(query)))
            self.assertEqual(found, ["/programme/27/2612071800"], query)
        self.assertNotIn('href="/programme/', self.page("/programmes?q=" + urllib.parse.quote("台風")))
        self.page("/programmes?q=" + "x" * 300, 400)

        grid = self.page("/browse")
        self.assertEqual(grid, self.page("/browse?date=2026-12-07"))
        counts = {r["name"]: r["captions"] for r in json.loads(self.get("/api/recordings?day=" + DAY)[1])["recordings"]}
        chips = re.findall(r'href="/recording/261207/(\w+)"[^>]*>\d\d<small>(\d+)</small>', grid)
        self.assertEqual({name: int(n) for name, n in chips}, counts)
        self.assertEqual(len(counts), 4)
        self.assertIn('href="/programme/27/2612071800"', grid)
        self.assertIn('href="/programme/22/2612071700"', grid)  # on the air since before the hour
        self.assertIn("この日の録画はありません", self.page("/browse?day=261208"))
        for bad in ("/browse?day=261399", "/browse?date=2026-1207", "/browse?day=x"):
            self.page(bad, 400)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--material", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
