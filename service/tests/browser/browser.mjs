// What the browser tests of the web page share: the tally of checks, Debian's Chromium through
// puppeteer-core, and the page as a person reads it (sign-in, the list, forms posted by the
// page's own script).
import puppeteer from "puppeteer-core";

let failures = 0;
export async function check(name, body) {
  try {
    await body();
    console.log(`ok: ${name}`);
  } catch (error) {
    failures++;
    console.log(`FAIL: ${name}: ${error.stack || error}`);
  }
}
export function expect(what, actual, wanted) {
  const a = JSON.stringify(actual);
  const w = JSON.stringify(wanted);
  if (a !== w) throw new Error(`${what}: got ${a}, wanted ${w}`);
}
export function assert(what, condition) {
  if (!condition) throw new Error(what);
}
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Ends the program with the tally; `what` names the test in the last line.
export function finish(what) {
  console.log(failures ? `${what}: ${failures} checks FAILED` : `${what}: every check passed`);
  process.exit(failures ? 1 : 0);
}

export async function launch(profile) {
  return puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    headless: true,
    userDataDir: profile,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync", "--lang=en-US"],
  });
}

// Every dialog any page opens is a failure of escaping: none may open.
export const dialogs = [];
export async function newPage(context, language = "en-US,en;q=0.9") {
  const page = await context.newPage();
  page.on("dialog", async (dialog) => {
    dialogs.push(dialog.message());
    await dialog.dismiss();
  });
  await page.setExtraHTTPHeaders({ "Accept-Language": language });
  await page.setViewport({ width: 1100, height: 900 });
  return page;
}

export async function signIn(page, at, user) {
  await page.goto(`${at}/signin`);
  await page.type("input[name=name]", user.name);
  await page.type("input[name=password]", user.password);
  const [response] = await Promise.all([page.waitForNavigation(), page.click("button[type=submit]")]);
  return response;
}

// A picture as the page draws it: [complete, naturalWidth, naturalHeight] once the browser has
// finished with it (loaded or given up), or as it stands after 10 s. The list's thumbnails load
// lazily, so they can still be on their way when the page's load event has fired.
export async function drawn(page, selector) {
  try {
    await page.waitForFunction((s) => document.querySelector(s)?.complete, { timeout: 10000 }, selector);
  } catch {
    // reported by the caller from the state below
  }
  return page.$eval(selector, (img) => [img.complete, img.naturalWidth, img.naturalHeight]);
}

// The list as a person reads it.
export async function entries(page) {
  return page.$$eval("li.entry", (items) => items.map((li) => ({
    id: li.id.slice(1),
    title: li.querySelector(".title").textContent,
    link: li.querySelector(".title a")?.getAttribute("href") ?? null,
    url: li.querySelector(".address").textContent,
    note: li.querySelector(".note")?.textContent ?? "",
    folder: li.querySelector(".folder").textContent,
    private: !!li.querySelector(".private"),
    thumb: li.querySelector("img.thumb")?.getAttribute("src") ?? null,
  })));
}

export async function list(page, at, query = "") {
  const response = await page.goto(`${at}/${query}`);
  expect(`status of /${query}`, response.status(), 200);
  return entries(page);
}

// Posts a form from the page itself, as its own script would: same origin, the session's cookie.
export async function post(page, url, fields) {
  return page.evaluate(async (url, fields) => {
    const response = await fetch(url, { method: "POST", body: new URLSearchParams(fields), redirect: "manual" });
    return response.type === "opaqueredirect" ? 303 : response.status;
  }, url, fields);
}
export async function status(page, url) {
  return page.evaluate(async (url) => (await fetch(url, { redirect: "manual" })).status, url);
}
// The bytes the page's own fetch gets for this address (its session's cookie goes along).
export async function bytesOf(page, url) {
  const text = await page.evaluate(async (src) => {
    const data = new Uint8Array(await (await fetch(src)).arrayBuffer());
    return Array.from(data, (b) => String.fromCharCode(b)).join("");
  }, url);
  return Buffer.from(text, "latin1");
}
export const textOf = (page, url) => page.evaluate(async (url) => (await fetch(url)).text(), url);
export const csrfOf = (page) => page.$eval("input[name=csrf]", (input) => input.value);
