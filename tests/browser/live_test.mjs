// A station watched live in Debian's Chromium (headless): this script plays
// the recorder's part, writing a synthesised broadcast into a recording at
// the real rate (its caption file growing with it, as an analysed recording's
// would), then cutting over to the next recording. The live page must play
// (currentTime advancing) and go on playing across the cut, show a caption
// line said after it opened, fit a phone's width, and leaving it must end its
// ffmpeg.
//   node live_test.mjs BASE_URL MATERIAL/ch27.truth.json
// MATERIAL holds source.ts and source.sub (a recording and its captions) and
// the served root MATERIAL/rec, empty at the start.
import assert from "node:assert/strict";
import { appendFileSync, readFileSync, readdirSync } from "node:fs";
import { dirname, join } from "node:path";
import { launchChromium } from "./chromium.mjs";

const [base, truthFile] = process.argv.slice(2);
const material = dirname(truthFile);
const day = join(material, "rec", "261207");
const root = join(material, "rec");
const stream = readFileSync(join(material, "source.ts"));
const bytesPerSecond = 52000;  // 416 kbit/s
const secondsOf = (hhmmss) => hhmmss.split(":").reduce((s, part) => s * 60 + Number(part), 0) - 18 * 3600;
const captions = readFileSync(join(material, "source.sub")).toString("latin1").split("\r\n")
  .filter((line) => /^\d\d:\d\d:\d\d /.test(line)).map((line) => ({ at: secondsOf(line.slice(0, 8)), line }));

// The recorder: a burst of 10 s, then a quarter of a second every quarter of
// a second; from `cutAt` seconds of broadcast on, into the next recording.
const cutAt = 40;
let written = 0;
let captionsWritten = 0;
const recordingAt = (second) => (second < cutAt ? "261207180_Ch27" : "261207181_Ch27");
function write(seconds) {
  const end = Math.min(stream.length, written + Math.round(seconds * bytesPerSecond / 188) * 188);
  while (written < end) {
    const name = recordingAt(written / bytesPerSecond);
    const upTo = name === "261207180_Ch27" ? Math.min(end, Math.round(cutAt * bytesPerSecond / 188) * 188) : end;
    appendFileSync(join(day, name + ".ts"), stream.subarray(written, upTo));
    written = upTo;
  }
  while (captionsWritten < captions.length && captions[captionsWritten].at <= written / bytesPerSecond) {
    const { at, line } = captions[captionsWritten++];
    appendFileSync(join(day, recordingAt(at) + ".sub"), Buffer.from(line + "\r\n", "latin1"));
  }
}
write(10);
const recorder = setInterval(() => write(0.25), 250);
const broadcastSecond = () => written / bytesPerSecond;

// The server's live ffmpeg runs (children of the oneseg-archive serving this root).
function liveFfmpegs() {
  const found = [];
  for (const pid of readdirSync("/proc").filter((name) => /^\d+$/.test(name))) {
    try {
      const command = readFileSync(`/proc/${pid}/cmdline`, "utf8");
      if (!command.startsWith("ffmpeg") || !command.includes("pipe:0")) continue;
      const parent = readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ")[1];
      if (readFileSync(`/proc/${parent}/cmdline`, "utf8").includes(root)) found.push(pid);
    } catch { /* gone meanwhile */ }
  }
  return found;
}

async function until(what, check, seconds) {
  const deadline = Date.now() + seconds * 1000;
  for (;;) {
    const value = await check();
    if (value) return value;
    assert.ok(Date.now() < deadline, "timed out: " + what);
    await new Promise((done) => setTimeout(done, 250));
  }
}

const browser = await launchChromium();
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 390, height: 844 });
  // Listed once the index has the growing recording (serve follows every 5 s).
  await until("the station listed on /live", async () => {
    await page.goto(base + "/live", { waitUntil: "load" });
    return page.$('a[href="/live/27"]');
  }, 30);
  const fits = () => page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth);
  assert.ok(await fits(), "/live scrolls sideways at 390 px");

  await page.goto(base + "/live/27", { waitUntil: "load" });
  assert.ok(await fits(), "/live/27 scrolls sideways at 390 px");
  const opened = broadcastSecond();
  const firstId = Number(await page.$eval(".live-view", (view) => view.dataset.after));
  const video = () => page.evaluate(() => {
    const v = document.querySelector(".live-view video");
    return { time: v.currentTime, error: v.error && v.error.code, src: v.currentSrc };
  });
  await until("the live picture playing", async () => (await video()).time > 2, 40);

  // A line said after the page opened appears beside the picture.
  const shown = await until("a new caption line", () => page.$$eval(".live-captions li", (items, after) => {
    const added = items.filter((li) => Number(li.dataset.id) > after).map((li) => li.querySelector(".t").textContent);
    return added.length ? added : null;
  }, firstId), 40);
  const said = captions.filter((c) => c.at > opened - 10 && c.at <= broadcastSecond()).map((c) => c.line.slice(0, 8));
  assert.ok(shown.every((time) => said.includes(time)), `shown ${shown} not among ${said}`);

  // Across the cut into the next recording the picture plays on, in the same stream.
  await until("the cut", () => broadcastSecond() >= cutAt, 60);
  const atCut = await video();
  await until("playing on past the cut", async () => (await video()).time > atCut.time + 12, 60);
  const after = await video();
  assert.equal(after.error, null);
  assert.equal(after.src, atCut.src);  // not started again
  assert.ok(!after.src.includes("again="), after.src);

  // Leaving the page ends its ffmpeg.
  assert.ok(liveFfmpegs().length > 0, "no live ffmpeg while watching");
  await page.close();
  await until("the live ffmpeg ended", () => liveFfmpegs().length === 0, 20);
  console.log(`live: playing ${after.time.toFixed(1)} s across the cut at ${cutAt} s; new lines ${shown}`);
} finally {
  clearInterval(recorder);
  await browser.close();
}
