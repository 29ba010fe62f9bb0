// The recording view's player in Debian's Chromium (headless): captions on
// the picture timed against the clip, the transcript that follows, the scene
// strip, the exported range (ffprobe), a saved clip across a restart of the
// server, and every page on a 390 px phone.
//   node viewer_test.mjs BASE_URL TRUTH.json [SCREENSHOT.png]
// ONESEG_ARCHIVE_SERVE: the command line of a second server on the same
// database (the restart).
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { launchChromium } from "./chromium.mjs";

const [base, , screenshot] = process.argv.slice(2);
const work = mkdtempSync(join(tmpdir(), "viewer-test-"));
const view = "/recording/261207/261207180_Ch27";

// A busy machine may take long over one step.
const browser = await launchChromium({ protocolTimeout: 120000 });

function ffprobe(file, entries) {
  return execFileSync("ffprobe", ["-v", "error", "-show_entries", entries, "-of", "csv=p=0", file], { encoding: "utf8" }).trim();
}

async function download(path) {
  const answer = await fetch(base + path);
  assert.equal(answer.status, 200, path);
  const file = join(work, "download.mp4");
  writeFileSync(file, Buffer.from(await answer.arrayBuffer()));
  return { file, headers: answer.headers };
}

// The player's moment on the recording's timeline once its captions came.
async function recordingTime(page) {
  await page.waitForFunction(() => {
    const video = document.querySelector(".player video");
    return OnesegPlayer.current.now() !== null && OnesegPlayer.current.startAt === null && !video.seeking &&
      video.readyState >= 2 && video.textTracks[0]?.cues?.length > 0;
  }, { timeout: 60000 });
  return page.evaluate(() => OnesegPlayer.current.now());
}

async function seekPaused(page, seconds) {
  const reached = await page.evaluate(async (at) => {
    const video = document.querySelector(".player video");
    video.pause();
    const seeked = new Promise((done) => video.addEventListener("seeked", done, { once: true }));
    video.currentTime = at - OnesegPlayer.current.origin;
    await Promise.race([seeked, new Promise((done) => setTimeout(done, 15000))]);
    return OnesegPlayer.current.now();
  }, seconds);
  assert.ok(Math.abs(reached - seconds) < 0.1, `sought ${seconds}, at ${reached}`);
}

try {
  // Where the clip begins: its length by ffprobe and the origin the captions
  // are timed against add up to the recording's own length.
  const clipAt = 150;
  const origin = Number((await fetch(base + "/captions/261207/261207181_Ch27.vtt?t=" + clipAt)).headers.get("X-Clip-Origin"));
  const clip = await download("/clip/261207/261207181_Ch27.mp4?t=" + clipAt);
  const clipLength = Number(ffprobe(clip.file, "format=duration"));
  assert.ok(origin <= clipAt && origin > clipAt - 4, "origin " + origin);
  assert.ok(Math.abs(origin + clipLength - 180) < 0.5, `origin ${origin} + clip ${clipLength}`);

  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  await page.goto(base + view + "?t=25", { waitUntil: "load" });
  await recordingTime(page);
  const track = await page.$eval(".player video", (video) => ({ tracks: video.textTracks.length, mode: video.textTracks[0].mode }));
  assert.deepEqual(track, { tracks: 1, mode: "showing" });

  // The cue on the picture at a line's moment is that line of the .sub.
  const lines = await page.$$eval(".transcript li", (items) => items.map((li) => ({
    at: Number(/t=(\d+)/.exec(li.querySelector("a").dataset.clip)[1]), text: li.querySelector(":scope > span").textContent,
  })));
  const sub = execFileSync("iconv", ["-f", "EUC-JP", "-t", "UTF-8", process.env.ONESEG_MATERIAL + "/rec/261207/261207180_Ch27.sub"], { encoding: "utf8" });
  for (const line of lines.slice(2, 6)) {
    assert.ok(sub.includes(line.text), line.text);
    await seekPaused(page, line.at + 0.5);
    const cue = await page.$eval(".player video", (video) => Array.from(video.textTracks[0].activeCues || []).map((c) => c.text).join("|"));
    assert.equal(cue, line.text, "cue at " + line.at);
  }
  // The toggle hides them.
  await page.click(".player .controls button[aria-pressed]");
  assert.equal(await page.$eval(".player video", (video) => video.textTracks[0].mode), "hidden");
  await page.click(".player .controls button[aria-pressed]");

  // The marked line follows currentTime.
  const marked = () => page.$eval(".transcript li.current", (li) => Number(/t=(\d+)/.exec(li.querySelector("a").dataset.clip)[1]));
  await seekPaused(page, lines[3].at + 0.5);
  await page.waitForFunction((at) => document.querySelector(`.transcript li.current a[data-clip$="t=${at}"]`), {}, lines[3].at);
  await seekPaused(page, lines[8].at + 0.5);
  await page.waitForFunction((at) => document.querySelector(`.transcript li.current a[data-clip$="t=${at}"]`), {}, lines[8].at);
  assert.equal(await marked(), lines[8].at);
  if (screenshot) {
    // Playing, with the pointer away, so that the controls give the caption room.
    await seekPaused(page, lines[4].at + 0.2);
    await page.evaluate(() => { window.scrollTo(0, 0); return document.querySelector(".player video").play(); });
    await page.mouse.move(5, 790);
    await new Promise((done) => setTimeout(done, 3500));
    await page.screenshot({ path: screenshot });
  }

  // The strip: only what the recording covers; a click plays that moment.
  const strip = await page.$$eval(".strip button[data-t]", (buttons) => buttons.map((b) => Number(b.dataset.t)));
  assert.equal(strip[0], 0);
  assert.ok(strip.at(-1) <= 600 && strip.at(-1) >= 590, "strip ends at " + strip.at(-1));
  await page.click('.strip button[data-t="300"]');
  await page.waitForFunction(() => Math.abs(OnesegPlayer.current.now() - 300) < 3, { timeout: 60000 });
  const shortRecording = await page.evaluate(async () => {
    const html = await (await fetch("/recording/261207/261207180_Ch22")).text();
    return Array.from(new DOMParser().parseFromString(html, "text/html").querySelectorAll(".strip button[data-t]")).map((b) => Number(b.dataset.t)).at(-1);
  });
  assert.ok(shortRecording >= 170 && shortRecording <= 180, "a three-minute recording's strip ends at " + shortRecording);

  // Marks across the boundary into the next recording, the export of that range.
  await seekPaused(page, 595);
  await page.keyboard.press("i");
  await seekPaused(page, 625);
  await page.keyboard.press("o");
  const exportUrl = await page.$eval(".player .controls a[download]", (a) => a.getAttribute("href"));
  assert.equal(exportUrl, "/export/261207/261207180_Ch27.mp4?from=595&to=625");
  const exported = await download(exportUrl);
  assert.ok(Math.abs(Number(ffprobe(exported.file, "format=duration")) - 30) < 1);
  const bytes = readFileSync(exported.file);
  assert.ok(bytes.indexOf("moov") > 0 && bytes.indexOf("moov") < bytes.indexOf("mdat"), "moov before mdat");
  assert.equal(bytes.indexOf("moof"), -1, "not fragmented");
  assert.match(exported.headers.get("content-disposition"),
               /filename="Ch27_20261207_180955\.mp4"; filename\*=UTF-8''%E3%81%B2%E3%81%B0%E3%82%8A%E3%83%86%E3%83%AC%E3%83%93_20261207_180955\.mp4/);

  // The share link plays exactly the range.
  const share = await page.$eval(".player .share input", (input) => input.value);
  assert.equal(share, base + view + "?t=595&end=625");
  const shared = await browser.newPage();
  await shared.goto(share, { waitUntil: "load" });
  const startedAt = await recordingTime(shared);
  assert.ok(Math.abs(startedAt - 595) < 1, "shared range starts at " + startedAt);
  await shared.evaluate(() => { document.querySelector(".player video").currentTime += 28; });
  await shared.waitForFunction(() => document.querySelector(".player video").paused, { timeout: 60000 });
  const stoppedAt = await shared.evaluate(() => OnesegPlayer.current.now());
  assert.ok(stoppedAt >= 625 && stoppedAt < 626.5, "shared range stops at " + stoppedAt);

  // Saved with a title and a note; still there for a server started anew.
  await shared.close();
  await page.bringToFront();
  await page.click(".player .controls button:not([aria-pressed]):last-of-type");
  await page.type(".player form.save input[name=title]", "先制点の場面");
  await page.type(".player form.save textarea", "後半の<b>実況</b>");
  await page.click(".player form.save button[type=submit]");
  await page.waitForSelector(".player .message a[href='/clips']");
  // Another site's page cannot post one through the user's browser.
  const forged = await fetch(base + "/api/clips?day=261207&name=261207180_Ch27&from=1&to=2&title=x&note=",
                             { method: "POST", headers: { Origin: "http://elsewhere.example" } });
  assert.equal(forged.status, 403);
  const restarted = spawn("sh", ["-c", 'exec ' + process.env.ONESEG_ARCHIVE_SERVE + " --listen 127.0.0.1:0"], { stdio: ["ignore", "pipe", "inherit"] });
  try {
    const address = await new Promise((found, failed) => {
      restarted.stdout.on("data", (data) => { const m = /http:\/\/[^/\s]+/.exec(String(data)); if (m) found(m[0]); });
      restarted.on("exit", () => failed(new Error("the second server ended")));
    });
    const { clips } = await (await fetch(address + "/api/clips")).json();
    assert.equal(clips.length, 1);
    assert.deepEqual([clips[0].title, clips[0].note, clips[0].from, clips[0].to, clips[0].recording],
                     ["先制点の場面", "後半の<b>実況</b>", 595, 625, true]);
    const list = await browser.newPage();
    await list.goto(address + "/clips", { waitUntil: "load" });
    assert.equal(await list.$eval(".clips li .note", (p) => p.textContent), "後半の<b>実況</b>");
  } finally {
    restarted.kill("SIGTERM");
  }

  // A phone: no page scrolls sideways, the player is the screen's width, fingers' targets.
  const phone = await browser.newPage();
  await phone.emulate({ viewport: { width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 2 },
                        userAgent: "Mozilla/5.0 (Linux; Android 14) Mobile" });
  await phone.goto(base + "/programmes", { waitUntil: "load" });
  const programme = await phone.$eval('a[href^="/programme/"]', (a) => a.getAttribute("href")).catch(() => null);
  for (const path of ["/", "/search?q=" + encodeURIComponent("先制点"), "/browse", view + "?t=25", "/clips", "/live",
                      "/live/27", "/programmes", programme, "/alerts", "/watches", "/trends"].filter(Boolean)) {
    const answer = await phone.goto(base + path, { waitUntil: "load" });
    if (answer.status() === 404) continue;  // a page this archive does not have
    const width = await phone.evaluate(() => document.documentElement.scrollWidth);
    assert.ok(width <= 390, `${path} is ${width} px wide`);
    const player = await phone.$eval(".player video", (video) => video.getBoundingClientRect().width).catch(() => null);
    if (player !== null) assert.ok(player >= 350, `${path}: player ${player} px`);
    const small = await phone.$$eval(".player button, .player .button, .clips button, .clips .button, header.top a",
      (nodes) => nodes.filter((n) => n.offsetParent && n.getBoundingClientRect().height < 40).map((n) => n.textContent));
    assert.deepEqual(small, [], path + ": targets under 40 px");
  }
  console.log(`viewer: origin ${origin} s, cues and transcript follow, export 30 s, saved clip kept, phone pages fit`);
} finally {
  await browser.close();
}
