// A search's timeline in Debian's Chromium: the chart's bars carry the
// counts the timeline API gives, and clicking one narrows the search to
// that station and bucket; the facets and the day's words narrow it too.
//   node insight_test.mjs BASE_URL TRUTH.json
import assert from "node:assert/strict";
import puppeteer from "puppeteer-core";

const [base] = process.argv.slice(2);
const word = "す";
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--lang=ja"],
});

const total = (page) => page.$eval(".summary", (p) => Number(p.textContent.match(/^(\d+) 件/)[1]));

try {
  const page = await browser.newPage();
  await page.goto(`${base}/search?q=${encodeURIComponent(word)}&by=hour`, { waitUntil: "load" });
  const bars = await page.$$eval("svg.timeline rect.bar", (rects) => rects.map((r) => ({
    bucket: r.dataset.bucket, station: r.dataset.station, value: Number(r.dataset.value),
    height: r.getBoundingClientRect().height,
  })));
  const api = await (await fetch(`${base}/api/timeline?q=${encodeURIComponent(word)}&by=hour`)).json();
  const expected = api.series.flatMap((s) => s.counts.map((n, b) => ({ bucket: api.buckets[b], station: s.station, value: n })))
    .filter((bar) => bar.value > 0);
  assert.ok(expected.length >= 2, JSON.stringify(api));
  assert.deepEqual(bars.map(({ bucket, station, value }) => ({ bucket, station, value })), expected);
  // Drawn to scale: heights in the ratio of the values.
  const [a, b] = bars;
  assert.ok(Math.abs(a.height / b.height - a.value / b.value) < 0.02, JSON.stringify(bars));
  assert.equal(await total(page), expected.reduce((sum, bar) => sum + bar.value, 0));

  // A click on the smaller station's part narrows to it and to its hour.
  const smaller = bars.reduce((x, y) => (y.value < x.value ? y : x));
  await Promise.all([
    page.waitForNavigation(),
    page.$$eval("svg.timeline rect.bar", (rects, station) => {
      rects.find((r) => r.dataset.station === station).dispatchEvent(new MouseEvent("click", { bubbles: true }));
    }, smaller.station),
  ]);
  const url = new URL(page.url());
  assert.equal(url.searchParams.get("station"), smaller.station);
  assert.ok(url.searchParams.get("q").includes(`from:${smaller.bucket}`), page.url());
  assert.equal(await total(page), smaller.value);
  const stations = await page.$$eval(".recording h3", (hs) => hs.map((h) => h.textContent));
  assert.ok(stations.length > 0 && stations.every((s) => s.includes(smaller.station)), stations.join());

  // The programme facet narrows to the lines of that programme.
  await page.goto(`${base}/search?q=${encodeURIComponent(word)}`, { waitUntil: "load" });
  const facet = await page.$$eval(".facet", (fs) => fs.find((f) => f.querySelector("h3").textContent === "番組")
    .querySelector("li").textContent);
  const [title, count] = [facet.slice(0, facet.lastIndexOf(" ")), Number(facet.slice(facet.lastIndexOf(" ") + 1))];
  await Promise.all([page.waitForNavigation(), page.click(".facet li a")]);  // the station facet comes first
  assert.ok(new URL(page.url()).searchParams.get("station"), page.url());
  await page.goBack({ waitUntil: "load" });
  await Promise.all([page.waitForNavigation(),
    page.$$eval(".facet", (fs) => fs.find((f) => f.querySelector("h3").textContent === "番組").querySelector("a").click())]);
  assert.ok(new URL(page.url()).searchParams.get("q").includes("programme:"), page.url());
  assert.equal(await total(page), count, title);

  // The day's words: each links to its search on that day, which finds it.
  await page.goto(`${base}/trends`, { waitUntil: "load" });
  const first = await page.$eval(".trend ol li a", (a) => a.textContent);
  await Promise.all([page.waitForNavigation(), page.click(".trend ol li a")]);
  assert.ok(await total(page) > 0, page.url());
  assert.equal(await page.$eval(".hit .line mark", (m) => m.textContent), first);
  assert.equal((await fetch(`${base}/trends?day=261399`)).status, 400);
  console.log(`insight: ${bars.length} bars as the API counts them; a bar, a facet and the day's word ${first} narrow the search`);
} finally {
  await browser.close();
}
