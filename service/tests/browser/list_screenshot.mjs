// Signs in to the web page in headless Chromium and saves a screenshot of the list; the demo ends
// with it. Prints the titles the list shows.
//   node list_screenshot.mjs BASE NAME PASSWORD OUT.png
import puppeteer from "puppeteer-core";

const [base, name, password, out] = process.argv.slice(2);
const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--lang=ko-KR"],
});
try {
  const page = await browser.newPage();
  await page.setExtraHTTPHeaders({ "Accept-Language": "ko-KR,ko;q=0.9" });
  await page.setViewport({ width: 1100, height: 700 });
  await page.goto(`${base}/signin`);
  await page.type("input[name=name]", name);
  await page.type("input[name=password]", password);
  await Promise.all([page.waitForNavigation(), page.click("button[type=submit]")]);
  await page.waitForFunction(() => [...document.images].every((img) => img.complete));
  const titles = await page.$$eval("li.entry .title", (items) => items.map((t) => t.textContent));
  await page.screenshot({ path: out });
  console.log(titles.join("\n"));
} finally {
  await browser.close();
}
