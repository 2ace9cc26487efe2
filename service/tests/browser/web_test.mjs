// The web page of torvo-service in Debian's Chromium, headless, through puppeteer-core. run.sh
// prepares the services, the users and the entry TorvoTool uploaded, and names them here:
//   TORVO_BASE        the service (alice with the upload, bob with nothing)
//   TORVO_FRESH_BASE  a fresh service with the user carol, for the import
//   TORVO_STORE       sqlite or postgresql: where the first service keeps its pictures, in
//   TORVO_DATA        its data folder, or
//   TORVO_DATABASE    its database (TORVO_PSQL: the psql program)
//   TORVO_KEPT        the thumbnail TorvoTool kept after its upload
//   TORVO_TITLE, TORVO_URL  what TorvoTool sent
//   TORVO_SHOTS       where the screenshots go
//   TORVO_PROFILE     an empty folder for the browser's profile
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import path from "node:path";
import { assert, bytesOf, check, csrfOf, dialogs, drawn, entries, expect, finish, launch, list, newPage, post, signIn, sleep,
         status } from "./browser.mjs";

const env = process.env;
const base = env.TORVO_BASE;
const freshBase = env.TORVO_FRESH_BASE;
const shots = env.TORVO_SHOTS;
const alice = { name: "alice", password: "correct horse 7" };
const bob = { name: "bob", password: "bob password 9" };
const carol = { name: "carol", password: "carol password 5" };
const hostileTitle = "<img src=x onerror=alert(1)>";
const hostileNote = "<script>alert(2)</script>\n\"quoted\" & 'single'";

const browser = await launch(env.TORVO_PROFILE);

// Whether the service still keeps the picture of this name: a file under the data folder, or a
// row of the database.
function pictureKept(name) {
  if (env.TORVO_STORE === "postgresql") {
    const sql = `SELECT count(*) FROM images JOIN pictures ON pictures.image_id = images.id WHERE images.name = '${name}'`;
    return execFileSync(env.TORVO_PSQL, ["-X", "-q", "-A", "-t", "-d", env.TORVO_DATABASE, "-c", sql]).toString().trim() === "1";
  }
  const root = path.join(env.TORVO_DATA, "images");
  return fs.readdirSync(root, { recursive: true }).some((f) => f.endsWith(`${name}.png`));
}

async function exchange(query) {
  const response = await fetch(`${base}/imgList.php?${query}`);
  return Buffer.from(await response.arrayBuffer()).toString("latin1");
}

const aliceContext = await browser.createBrowserContext();
const page = await newPage(aliceContext);
let uploaded;  // TorvoTool's entry
let jeju;      // the entry in the folder 여행
let hostile;

await check("sign in shows the list with the page TorvoTool uploaded, and its thumbnail", async () => {
  const response = await signIn(page, base, alice);
  expect("after sign-in", new URL(response.url()).pathname, "/");
  const all = await entries(page);
  expect("entries, newest first", all.map((e) => e.title), [hostileTitle, "제주 여행지 안내", env.TORVO_TITLE]);
  [hostile, jeju, uploaded] = all;
  expect("address", uploaded.url, env.TORVO_URL);
  expect("link", uploaded.link, env.TORVO_URL);
  expect("note with its line break", uploaded.note, "오늘의 메모\n둘째 줄");
  expect("folder", uploaded.folder, "기본");
  expect("private mark", [uploaded.private, hostile.private], [false, true]);
  const shown = await drawn(page, `#e${uploaded.id} img.thumb`);
  assert(`the thumbnail is shown (${shown})`, shown[0] && shown[1] > 0);
  expect("the thumbnail is the PNG TorvoTool kept", (await bytesOf(page, uploaded.thumb)).equals(fs.readFileSync(env.TORVO_KEPT)), true);
  const lines = await page.$eval(`#e${uploaded.id} .note`, (p) => Math.round(p.getBoundingClientRect().height / parseFloat(getComputedStyle(p).lineHeight)));
  expect("the note shows on two lines", lines, 2);
});

await check("screenshots: the list, dark mode, a phone's width", async () => {
  await page.screenshot({ path: path.join(shots, "list.png"), fullPage: true });
  await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: "dark" }]);
  const dark = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
  expect("dark background", dark, "rgb(23, 24, 26)");
  await page.screenshot({ path: path.join(shots, "list-dark.png"), fullPage: true });
  await page.emulateMediaFeatures([{ name: "prefers-color-scheme", value: "light" }]);
  await page.setViewport({ width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 2 });
  await page.reload();
  const wide = await page.evaluate(() => document.documentElement.scrollWidth);
  assert(`nothing is wider than the phone (${wide} px)`, wide <= 390);
  const stacked = await page.$eval(`#e${uploaded.id}`, (li) => {
    const img = li.querySelector("img").getBoundingClientRect();
    const text = li.querySelector(".text").getBoundingClientRect();
    return text.top >= img.bottom - 1;
  });
  expect("the text stands under the thumbnail", stacked, true);
  await page.screenshot({ path: path.join(shots, "list-phone.png"), fullPage: true });
  await page.setViewport({ width: 1100, height: 900 });
});

await check("hostile titles and notes render as text", async () => {
  await list(page, base);
  const item = (await entries(page)).find((e) => e.id === hostile.id);
  expect("title", item.title, hostileTitle);
  expect("note", item.note, hostileNote);
  expect("a javascript: address is no link", item.link, null);
  expect("no element came from the texts", await page.$$eval("img[src=x], main script", (found) => found.length), 0);
  await page.goto(`${base}/entries/${hostile.id}/edit`);
  expect("edit form title", await page.$eval("input[name=title]", (i) => i.value), hostileTitle);
  expect("edit form note", await page.$eval("textarea[name=note]", (t) => t.value), hostileNote);
  await sleep(300);
  expect("dialogs opened", dialogs, []);
  const policy = (await page.reload()).headers()["content-security-policy"];
  assert(`a policy without inline script: ${policy}`, /script-src 'self'/.test(policy) && !/unsafe-inline/.test(policy));
});

await check("search by an English word and Korean words of two and three syllables", async () => {
  expect("sharpened", (await list(page, base, "?q=sharpened")).map((e) => e.id), [uploaded.id]);
  expect("SHARP (prefix, any case)", (await list(page, base, "?q=SHARP")).map((e) => e.id), [uploaded.id]);
  expect("메모 (two syllables, in the note)", (await list(page, base, "?q=" + encodeURIComponent("메모"))).map((e) => e.id), [uploaded.id]);
  expect("여행 (two syllables)", (await list(page, base, "?q=" + encodeURIComponent("여행"))).map((e) => e.id), [jeju.id]);
  expect("여행지 (three syllables)", (await list(page, base, "?q=" + encodeURIComponent("여행지"))).map((e) => e.id), [jeju.id]);
  expect("여행지 안내 (two words)", (await list(page, base, "?q=" + encodeURIComponent("여행지 안내"))).map((e) => e.id), [jeju.id]);
  expect("example.org (the address)", (await list(page, base, "?q=example.org")).map((e) => e.id), [jeju.id]);
  expect("행지안 matches nothing", (await list(page, base, "?q=" + encodeURIComponent("행지안"))).length, 0);
  // Typed into the field as a person does, after "/" put the cursor there.
  await list(page, base);
  await page.keyboard.press("/");
  expect("/ focuses the search", await page.evaluate(() => document.activeElement.id), "q");
  expect("and types no slash", await page.$eval("#q", (i) => i.value), "");
  await page.keyboard.type("오름");
  await Promise.all([page.waitForNavigation(), page.keyboard.press("Enter")]);
  expect("오름 typed", (await entries(page)).map((e) => e.id), [jeju.id]);
});

await check("filter by folder", async () => {
  await list(page, base);
  await Promise.all([page.waitForNavigation(), page.click("nav.folders a[href='/?folder=3']")]);
  expect("여행", (await entries(page)).map((e) => e.id), [jeju.id]);
  expect("기본", (await list(page, base, "?folder=0")).map((e) => e.id), [hostile.id, uploaded.id]);
  expect("a search within a folder", (await list(page, base, "?folder=0&q=" + encodeURIComponent("여행"))).length, 0);
});

await check("a form posted from another site is refused", async () => {
  await list(page, base);
  const csrf = await csrfOf(page);  // even a token that leaked does not help another site
  const server = http.createServer((request, response) => {
    response.setHeader("Content-Type", "text/html; charset=utf-8");
    response.end(`<!DOCTYPE html><form method="post" action="${base}/entries/${uploaded.id}/delete">
      <input type="hidden" name="csrf" value="${csrf}"><button id="go">Win a prize</button></form>
      <form method="post" action="${base}/folders/add"><input type="hidden" name="name" value="evil">
      <button id="go2">Another prize</button></form>`);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  const other = `http://127.0.0.1:${server.address().port}/`;
  try {
    for (const button of ["#go", "#go2"]) {
      await page.goto(other);
      const [response] = await Promise.all([page.waitForNavigation(), page.click(button)]);
      expect(`${button} answered`, response.status(), 403);
    }
  } finally {
    server.close();
  }
  expect("the entry is still there", (await list(page, base)).some((e) => e.id === uploaded.id), true);
  await page.goto(`${base}/folders`);
  expect("no folder was added", await page.$$eval(".folder-list input[name=name]", (inputs) => inputs.map((i) => i.value)), ["여행"]);
  const withoutToken = await post(page, `${base}/folders/add`, { name: "no token" });
  expect("our own origin without the form's token", withoutToken, 403);
});

await check("a second user reaches none of the first user's entries, thumbnails or actions", async () => {
  const context = await browser.createBrowserContext();
  const other = await newPage(context);
  await signIn(other, base, bob);
  expect("bob's list", await list(other, base), []);
  const csrf = await csrfOf(other);
  for (const entry of [uploaded, jeju, hostile]) {
    const id = entry.id;
    expect(`GET edit ${id}`, (await other.goto(`${base}/entries/${id}/edit`)).status(), 404);
    expect(`GET thumbnail ${id}`, await status(other, `${base}/thumb/${id}.png`), 404);
    expect(`POST edit ${id}`, await post(other, `${base}/entries/${id}/edit`, { csrf, title: "taken", note: "", folder: "0" }), 404);
    expect(`POST delete ${id}`, await post(other, `${base}/entries/${id}/delete`, { csrf }), 404);
  }
  expect("bob filters by alice's folder", await list(other, base, "?folder=3"), []);
  expect("bob searches alice's words", await list(other, base, "?q=" + encodeURIComponent("제주")), []);
  expect("POST rename of alice's folder", await post(other, `${base}/folders/3/rename`, { csrf, name: "taken" }), 404);
  expect("POST delete of alice's folder", await post(other, `${base}/folders/3/delete`, { csrf }), 404);
  const exported = await other.evaluate(async (url) => (await fetch(url)).text(), `${base}/export.html`);
  assert("bob's export holds none of alice's", !exported.includes("example") && !exported.includes("제주"));
  const zip = await other.evaluate(async (url) => (await fetch(url)).arrayBuffer().then((b) => b.byteLength), `${base}/export.zip`);
  assert(`bob's zip is the empty album (${zip} bytes)`, zip < 2000);
  await context.close();
  // Without signing in nothing at all.
  const anonymous = await browser.createBrowserContext();
  const stranger = await newPage(anonymous);
  await stranger.goto(`${base}/signin`);
  expect("thumbnail without a session", await status(stranger, `${base}/thumb/${uploaded.id}.png`), 404);
  expect("list without a session", await status(stranger, `${base}/`), 0);  // a redirect, opaque to fetch
  await anonymous.close();
  // alice's entries are as they were.
  const after = await list(page, base);
  expect("alice's titles", after.map((e) => e.title), [hostileTitle, "제주 여행지 안내", env.TORVO_TITLE]);
  await page.goto(`${base}/folders`);
  expect("alice's folder", await page.$$eval(".folder-list input[name=name]", (inputs) => inputs.map((i) => i.value)), ["여행"]);
});

await check("edit and delete", async () => {
  await list(page, base);
  await Promise.all([page.waitForNavigation(), page.click(`#e${jeju.id} a.edit`)]);
  await page.$eval("input[name=title]", (input) => { input.value = ""; });
  await page.type("input[name=title]", "제주 여행지 안내 (고침)");
  await page.$eval("textarea[name=note]", (t) => { t.value = ""; });
  await page.type("textarea[name=note]", "첫 줄\n둘째 줄");
  await page.select("select[name=folder]", "0");
  await page.click("input[name=private]");
  await Promise.all([page.waitForNavigation(), page.click("form.edit button[type=submit]")]);
  const edited = (await entries(page)).find((e) => e.id === jeju.id);
  expect("edited", [edited.title, edited.note, edited.folder, edited.private], ["제주 여행지 안내 (고침)", "첫 줄\n둘째 줄", "기본", true]);
  expect("found by its new words", (await list(page, base, "?q=" + encodeURIComponent("고침"))).map((e) => e.id), [jeju.id]);
  expect("folder 여행 is empty now", await list(page, base, "?folder=3"), []);

  const before = (await exchange("tid=alice-toolbar")).split("|");
  expect("the image list names three", before.length, 4);
  const name = before[2];  // upload order: TorvoTool's, the Jeju one, the hostile one
  assert(`the picture ${name} is kept`, pictureKept(name));
  await page.goto(`${base}/entries/${jeju.id}/edit`);
  await Promise.all([page.waitForNavigation(), page.click("form.delete button")]);
  expect("gone from the list", (await entries(page)).map((e) => e.id), [hostile.id, uploaded.id]);
  expect("gone from the image list", (await exchange("tid=alice-toolbar")).split("|").includes(name), false);
  expect("its picture is gone", pictureKept(name), false);
  expect("its page is gone", (await page.goto(`${base}/entries/${jeju.id}/edit`)).status(), 404);
});

await check("export, then import into a fresh service, gives the same entries", async () => {
  await list(page, base);
  const exported = await page.evaluate(async (url) => (await fetch(url)).text(), `${base}/export.html`);
  assert("a Netscape bookmark file", exported.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>"));
  // Give the kept entry a folder, so the file carries one.
  await page.goto(`${base}/entries/${uploaded.id}/edit`);
  await page.select("select[name=folder]", "3");
  await Promise.all([page.waitForNavigation(), page.click("form.edit button[type=submit]")]);
  const mine = await list(page, base);
  const file = path.join(env.TORVO_PROFILE, "..", "torvo-bookmarks.html");
  fs.writeFileSync(file, await page.evaluate(async (url) => (await fetch(url)).text(), `${base}/export.html`));

  const context = await browser.createBrowserContext();
  const fresh = await newPage(context);
  await signIn(fresh, freshBase, carol);
  await fresh.goto(`${freshBase}/settings`);
  const input = await fresh.$("input[type=file]");
  await input.uploadFile(file);
  await Promise.all([fresh.waitForNavigation(), fresh.click("form[action='/import'] button")]);
  expect("import says", await fresh.$eval("p.done", (p) => p.textContent), "Imported 2 entries.");
  await fresh.goto(`${freshBase}/settings`);
  await (await fresh.$("input[type=file]")).uploadFile(file);
  await Promise.all([fresh.waitForNavigation(), fresh.click("form[action='/import'] button")]);
  expect("the same file again", await fresh.$eval("p.done", (p) => p.textContent), "Imported 0 entries. 2 were there already.");
  const theirs = await list(fresh, freshBase);
  // Entries saved in one second may swap places: the file keeps seconds and groups by folder.
  const same = (list) => list.map((e) => ({ title: e.title, url: e.url, note: e.note, folder: e.folder, private: e.private }))
    .sort((a, b) => a.title.localeCompare(b.title));
  expect("the same entries", same(theirs), same(mine));
  expect("their pictures do not travel in the bookmark file", theirs.map((e) => e.thumb), [null, null]);
  await sleep(300);
  expect("dialogs opened", dialogs, []);
  await context.close();
});

await check("the page speaks Korean to a Korean browser", async () => {
  const context = await browser.createBrowserContext();
  const korean = await newPage(context, "ko-KR,ko;q=0.9,en-US;q=0.8");
  await korean.goto(`${base}/signin`);
  expect("lang", await korean.$eval("html", (h) => h.lang), "ko");
  expect("heading", await korean.$eval("h1", (h) => h.textContent), "로그인");
  await signIn(korean, base, alice);
  expect("search button", await korean.$eval(".search button", (b) => b.textContent), "검색");
  await context.close();
});

await check("a new ToolbarID signs the old one out of the exchanges", async () => {
  await page.goto(`${base}/settings`);
  expect("shown", await page.$eval("#toolbar-id", (c) => c.textContent), "alice-toolbar");
  await Promise.all([page.waitForNavigation(), page.click("form[action='/settings/toolbar-id'] button")]);
  const fresh = await page.$eval("#toolbar-id", (c) => c.textContent);
  assert(`a random token of 128 bits or more (${fresh})`, /^[A-Za-z0-9_-]{22,}$/.test(fresh));
  expect("folder list, old", await exchange("state=geturi&tid=alice-toolbar"), "0");
  expect("image list, old", await exchange("tid=alice-toolbar"), "0");
  assert("folder list, new", (await exchange(`state=geturi&tid=${fresh}`)).startsWith("127.0.0.1|"));
  const name = (await exchange(`tid=${fresh}`)).split("|")[1];
  expect("download, old", (await fetch(`${base}/img/alice-toolbar/${name}.png`)).status, 403);
  expect("download, new", (await fetch(`${base}/img/${fresh}/${name}.png`)).status, 200);
});

await check("devices: each signs in once, the settings page lists them and revokes one alone", async () => {
  const signInDevice = async (device) => {
    const response = await fetch(`${base}/deviceSignIn.php`, {
      method: "POST", body: new URLSearchParams({ name: alice.name, password: alice.password, device }) });
    expect(`sign-in of ${device}`, response.status, 200);
    const reply = await response.json();
    expect("a Torvo service", reply.torvo, 1);
    return reply.identity;
  };
  const laptop = await signInDevice("laptop");
  const phone = await signInDevice("<b>phone</b>");
  assert("the laptop's ToolbarID works", (await exchange(`state=geturi&tid=${laptop}`)).startsWith("127.0.0.1"));
  await aliceContext.overridePermissions(base, ["clipboard-read", "clipboard-write", "clipboard-sanitized-write"]);
  await page.goto(`${base}/settings`);
  const rows = async () => page.$$eval("table.devices tbody tr", (trs) => trs.map((tr) => ({
    name: tr.querySelector(".device-name").textContent,
    used: tr.querySelectorAll("time")[1].textContent,
  })));
  const listed = await rows();
  expect("devices listed, the hostile name as text", listed.map((r) => r.name), ["laptop", "<b>phone</b>"]);
  assert(`the laptop was used (${listed[0].used})`, /^\d{4}-\d\d-\d\d \d\d:\d\d$/.test(listed[0].used));
  expect("the phone was not", listed[1].used, "never");

  expect("the address to enter", await page.$eval("#service-address", (c) => c.textContent), `${base}/`);
  await page.click("button[data-copy]");
  await page.waitForFunction(() => document.querySelector("button[data-copy]").textContent === "Copied", { timeout: 5000 });
  expect("on the clipboard", await page.evaluate(() => navigator.clipboard.readText()), `${base}/`);

  await Promise.all([page.waitForNavigation(), page.click("table.devices tbody tr:first-child button")]);
  expect("the laptop is gone", (await rows()).map((r) => r.name), ["<b>phone</b>"]);
  expect("the laptop reads as signed out", await exchange(`state=geturi&tid=${laptop}`), "0");
  assert("the phone still works", (await exchange(`state=geturi&tid=${phone}`)).startsWith("127.0.0.1"));
});

await check("repeated wrong passwords are slowed down", async () => {
  const context = await browser.createBrowserContext();
  const guess = await newPage(context);
  for (let i = 1; i <= 3; i++) {
    const response = await signIn(guess, base, { name: "alice", password: `wrong ${i}` });
    expect(`wrong password ${i}`, response.status(), 401);
  }
  const refused = await signIn(guess, base, alice);
  const early = await post(guess, `${base}/signin`, { name: "alice", password: "wrong 4" });
  expect("then even the right one must wait", refused.status(), 429);
  expect("a guess in the wait is not even tried", early, 429);
  assert("and says so", (await guess.$eval("p.error", (p) => p.textContent)).startsWith("Too many failed sign-ins."));
  const wait = Number(refused.headers()["retry-after"]);
  assert(`for a while (${wait} s)`, wait >= 1 && wait <= 4);
  await sleep(wait * 1000 + 300);
  const late = await signIn(guess, base, alice);
  expect("after the wait the right password works", new URL(late.url()).pathname, "/");
  await context.close();
});

await browser.close();
finish("web");
