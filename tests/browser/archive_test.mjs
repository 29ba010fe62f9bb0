// The archive's search page in Debian's Chromium (headless), as a user meets
// it: type a word the synthesised broadcast said, see its hit with the right
// time, station and picture, click it and watch the clip play, open the
// shared link to the moment, and see hostile requests refused.
//   node archive_test.mjs BASE_URL TRUTH.json [SCREENSHOT.png]
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import puppeteer from "puppeteer-core";

const [base, truthFile, screenshot] = process.argv.slice(2);
const truth = JSON.parse(readFileSync(truthFile, "utf8"));
const word = "先制点";
const moments = truth.captions.filter((c) => c.text.includes(word)).map((c) => c.time).sort().reverse();

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--autoplay-policy=no-user-gesture-required", "--lang=ja"],
});

async function playing(page) {
  // currentTime must advance without a media error.
  await page.waitForFunction(() => {
    const video = document.querySelector(".player video");
    return video.error || video.currentTime > 1.0;
  }, { timeout: 20000 });
  return page.evaluate(() => {
    const video = document.querySelector(".player video");
    // The clip is fed through a Media Source: the element's source is a blob.
    return { error: video.error && video.error.code, time: video.currentTime, src: video.dataset.clip };
  });
}

try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 800 });
  const dialogs = [];
  page.on("dialog", async (dialog) => { dialogs.push(dialog.message()); await dialog.dismiss(); });

  // Search by typing, as a user does.
  await page.goto(base + "/", { waitUntil: "load" });
  await page.type("input[name=q]", word);
  await Promise.all([page.waitForNavigation(), page.keyboard.press("Enter")]);
  assert.ok(page.url().includes("/search?q=" + encodeURIComponent(word)), page.url());
  const hits = await page.$$eval(".hit", (nodes) => nodes.map((hit) => ({
    when: hit.querySelector(".when").textContent,
    marked: hit.querySelector(".line mark") && hit.querySelector(".line mark").textContent,
    station: hit.closest("section").querySelector("h3").textContent,
  })));
  assert.equal(hits.length, Math.min(20, moments.length));
  assert.deepEqual(hits.map((h) => h.when), moments.slice(0, hits.length));
  for (const hit of hits) {
    assert.equal(hit.marked, word);
    assert.ok(hit.station.includes("ひばりテレビ") && hit.station.includes("27 ch"), hit.station);
  }

  // The hit at 18:00:25: its picture, then its clip in the page's player.
  const index = moments.indexOf("18:00:25");
  assert.ok(index >= 0);
  const pictureWidth = await page.$$eval(".hit img", async (images, i) => {
    const image = images[i];
    image.loading = "eager";
    image.scrollIntoView();
    if (!image.complete) await new Promise((done) => { image.onload = image.onerror = done; });
    return image.naturalWidth;
  }, index);
  assert.ok(pictureWidth >= 160, "thumbnail width " + pictureWidth);
  const links = await page.$$(".hit a.play");
  await links[index].click();
  const played = await playing(page);
  assert.equal(played.error, null);
  assert.ok(played.time > 1.0);
  const clip = await page.$eval(".hit.active a.play", (a) => a.dataset.clip);
  assert.match(clip, /^\/clip\/261207\/261207180_Ch27\.mp4\?t=\d+$/);
  const share = await page.$eval(".player .share input", (input) => input.value);
  assert.ok(share.startsWith(base + "/recording/261207/261207180_Ch27?t="), share);
  assert.equal(share.split("t=")[1], clip.split("t=")[1]);
  if (screenshot) {
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: screenshot });
  }

  // The shared link, opened later, plays the same moment.
  const shared = await browser.newPage();
  await shared.goto(share, { waitUntil: "load" });
  const again = await playing(shared);
  assert.equal(again.error, null);
  assert.ok(again.src.endsWith(clip), again.src + " vs " + clip);
  assert.ok(await shared.$eval(".transcript", (list) => list.textContent.includes("先制点です")));

  // Hostile input stays text; traversal is refused.
  const hostile = '<img src=x onerror=alert(1)><script>alert(2)</script>';
  const answer = await page.goto(base + "/search?q=" + encodeURIComponent(hostile));
  assert.equal(await page.$eval("input[name=q]", (input) => input.value), hostile);
  assert.equal(await page.$$eval("main img[src=x], main script", (nodes) => nodes.length), 0);
  assert.ok(answer.status() < 500);
  const refused = await page.evaluate(async () => {
    const statuses = [];
    for (const path of ["/files/261207/..%2F..%2F..%2Fetc%2Fpasswd", "/files/261207/261207180_Ch27.ts%2F..%2F..%2Fx",
                        "/api/search?q=" + "x".repeat(300)]) {
      statuses.push((await fetch(path)).status);
    }
    return statuses;
  });
  assert.deepEqual(refused.map((s) => Math.floor(s / 100)), [4, 4, 4]);
  assert.deepEqual(dialogs, []);
  console.log(`browser: ${hits.length} hits, clip ${clip} playing at ${played.time.toFixed(1)} s, shared link plays too`);
} finally {
  await browser.close();
}
