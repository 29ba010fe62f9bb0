// Whole programmes in Debian's Chromium (headless): the programme of 18:00 on
// UHF 27 ran through three recordings, the third after a gap. Its player runs
// through them (when a clip ends the next part plays), and the day grid, the
// programme search and the programme page fit a phone's width.
//   node programme_test.mjs BASE_URL TRUTH.json
import assert from "node:assert/strict";
import { launchChromium } from "./chromium.mjs";

const [base] = process.argv.slice(2);
const browser = await launchChromium();

try {
  const page = await browser.newPage();
  await page.setViewport({ width: 390, height: 844 });
  for (const path of ["/browse", "/programmes?q=" + encodeURIComponent("サッカー"), "/programme/27/2612071800", "/live"]) {
    const answer = await page.goto(base + path, { waitUntil: "load" });
    assert.equal(answer.status(), 200, path);
    const width = await page.evaluate(() => document.documentElement.scrollWidth);
    assert.ok(width <= 390, `${path} is ${width} px wide at 390`);
  }
  // From the grid to the programme, as a user goes.
  await page.goto(base + "/browse", { waitUntil: "load" });
  await Promise.all([page.waitForNavigation(), page.click('a.prog[href="/programme/27/2612071800"]')]);
  assert.equal(await page.$$eval(".parts li", (parts) => parts.length), 3);

  // The clip of the second part's last line ends (the third recording does
  // not carry on from it): the third part plays next.
  await page.setViewport({ width: 1280, height: 800 });
  const last = await page.$$eval('.transcript a[data-clip*="261207181_Ch27"]', (links) => {
    const link = links[links.length - 1];
    link.scrollIntoView();
    return { then: link.dataset.then, clip: link.dataset.clip, index: links.length - 1 };
  });
  assert.equal(last.then, "2");
  await (await page.$$('.transcript a[data-clip*="261207181_Ch27"]'))[last.index].click();
  await page.waitForFunction(() => {
    const v = document.querySelector(".player video");
    return v.error || (v.dataset.clip.includes("261207182_Ch27.mp4?t=0") && v.currentTime > 1);  // the clip is fed through a Media Source
  }, { timeout: 60000 });
  assert.equal(await page.$eval(".player video", (v) => v.error), null);
  assert.equal(await page.$eval(".parts li.active a.play", (a) => a.dataset.part), "2");
  console.log(`programme: ${last.clip} ran on into part 2`);
} finally {
  await browser.close();
}
