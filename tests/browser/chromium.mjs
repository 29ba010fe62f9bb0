// Debian's Chromium, headless, as the browser tests drive it: sound may play
// without a gesture, pages are asked for in Japanese.
import puppeteer from "puppeteer-core";

// `options`: more of puppeteer's launch options.
export function launchChromium(options = {}) {
  return puppeteer.launch({
    ...options,
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--no-sandbox", "--autoplay-policy=no-user-gesture-required", "--lang=ja"],
  });
}
