// The shared album of torvo-service in Debian's Chromium, headless, through puppeteer-core.
// album.sh uploads alice's pages (TorvoTool: one public, one private) and names here:
//   TORVO_BASE         the service (alice with entries and a password, bob with one public entry)
//   TORVO_PUBLIC_PNG   the picture TorvoTool kept of the public page
//   TORVO_PRIVATE_PNG  the picture TorvoTool kept of the private page
//   TORVO_SHOTS        where the screenshots go
//   TORVO_PROFILE      an empty folder for the browser's profile
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { assert, check, dialogs, expect, finish, launch, newPage, signIn } from "./browser.mjs";

const env = process.env;
const base = env.TORVO_BASE;
const shots = env.TORVO_SHOTS;
const alice = { name: "alice", password: "correct horse 7" };
const publicTitle = "Sharpened thumbnails 공개 페이지";
const privateTitle = "Quokka diary 비밀";
const jejuTitle = "제주 여행지 안내";
const hostileTitle = "<img src=x onerror=alert(1)> & <b>bold</b>";
const secretTitle = "Secret trip";

const browser = await launch(env.TORVO_PROFILE);

// A plain request without cookie or script, as a feed reader or a chat program's preview makes it.
async function raw(url) {
  const response = await fetch(url, { redirect: "manual", headers: { "User-Agent": "ChatPreview/1.0" } });
  const bytes = Buffer.from(await response.arrayBuffer());
  return { status: response.status, headers: response.headers, bytes, text: bytes.toString("utf8") };
}
function readFeed(url) {
  return JSON.parse(execFileSync("/usr/bin/python3", ["check_feed.py", url], { encoding: "utf8" }));
}

// What a visitor sees of the album's list.
async function publicEntries(page) {
  return page.$$eval("li.entry", (items) => items.map((li) => ({
    id: li.id.slice(1),
    title: li.querySelector(".title").textContent,
    page: li.querySelector(".title a").getAttribute("href"),
    address: li.querySelector(".address").textContent,
    link: li.querySelector("a.address")?.getAttribute("href") ?? null,
    folder: li.querySelector(".folder").textContent,
    thumb: li.querySelector("img.thumb")?.getAttribute("src") ?? null,
    shown: li.querySelector("img.thumb") ? li.querySelector("img.thumb").naturalWidth > 0 : null,
  })));
}
async function visit(page, url) {
  const response = await page.goto(url, { waitUntil: "load" });
  return response.status();
}
async function loadAllPictures(page) {
  await page.evaluate(async () => {
    for (const img of document.images) img.loading = "eager";
    await Promise.all(Array.from(document.images, (img) => img.decode().catch(() => {})));
  });
}

const owner = await browser.createBrowserContext();
const me = await newPage(owner);
const visitor = await browser.createBrowserContext();
const guest = await newPage(visitor);
const album = `${base}/u/alice/`;
const ids = {};  // title -> id, from alice's own list
let notFound;    // the body of the 404 of a name that is no album

await check("alice signs in and finds her five entries, two of them private", async () => {
  await signIn(me, base, alice);
  const all = await me.$$eval("li.entry", (items) => items.map((li) => [li.querySelector(".title").textContent, li.id.slice(1),
    !!li.querySelector(".private")]));
  for (const [title, id] of all) ids[title] = id;
  expect("private marks", all.map(([title, , mark]) => [title, mark]),
         [[secretTitle, true], [hostileTitle, false], [jejuTitle, false], [privateTitle, true], [publicTitle, false]]);
});
ids.bob = String(Math.max(...Object.values(ids).map(Number)) + 1);  // added after alice's

await check("with sharing off nothing is public: the same 404 as a name that is no album", async () => {
  notFound = await raw(`${base}/u/no-such-album/`);
  expect("status", notFound.status, 404);
  for (const road of ["/u/alice/", "/u/alice/wall", "/u/alice/feed.atom", `/u/alice/e/${ids[publicTitle]}`,
                      `/u/alice/thumb/${ids[publicTitle]}.png`, "/u/bob/", `/u/bob/e/${ids.bob}`]) {
    const reply = await raw(base + road);
    expect(`${road} status`, reply.status, 404);
    expect(`${road} is the same 404`, reply.text, notFound.text);
  }
  await me.goto(`${base}/settings`);
  assert("the settings say sharing is off", await me.$("#sharing-off"));
});

await check("turned on in the settings, the page links the album", async () => {
  await me.goto(`${base}/settings`);
  await me.click("#sharing input[name=shared]");
  await Promise.all([me.waitForNavigation(), me.click("#sharing form[action='/settings/sharing'] button")]);
  expect("album link", await me.$eval("#album-link", (a) => a.href), album);
});

let listed;
await check("the public list shows exactly the entries not private, newest first, with their pictures", async () => {
  expect("status", await visit(guest, album), 200);
  await loadAllPictures(guest);
  listed = await publicEntries(guest);
  expect("titles", listed.map((e) => e.title), [hostileTitle, jejuTitle, publicTitle]);
  expect("pictures shown", listed.map((e) => e.shown), [true, true, true]);
  expect("pages", listed.map((e) => e.page), listed.map((e) => `/u/alice/e/${e.id}`));
  const uploaded = listed[2];
  expect("address link", uploaded.link, "http://example.com/torvo/public");
  expect("a javascript: address stays text", listed[0].link, null);
  expect("folders", listed.map((e) => e.folder), ["기본", "여행", "기본"]);
  expect("folder filter", await guest.$$eval("nav.folders a", (a) => a.map((x) => x.textContent)), ["All folders", "기본", "여행"]);
  const picture = await raw(base + uploaded.thumb);
  expect("the thumbnail is the PNG TorvoTool kept", picture.bytes.equals(fs.readFileSync(env.TORVO_PUBLIC_PNG)), true);
  expect("the visitor has no cookie", (await guest.cookies()).length, 0);
  const page = await raw(album);
  expect("no cookie is set", page.headers.get("set-cookie"), null);
  expect("cache", page.headers.get("cache-control"), "no-store");
});

await check("search and the folder filter reach only public entries", async () => {
  const search = async (words) => {
    await guest.goto(album);
    await guest.type("#q", words);
    await Promise.all([guest.waitForNavigation(), guest.click("form.search button")]);
    return (await publicEntries(guest)).map((e) => e.title);
  };
  expect("a public word", await search("sharpened"), [publicTitle]);
  expect("a Korean word", await search("여행"), [jejuTitle]);
  expect("words only the private TorvoTool page holds", await search("quokka"), []);
  expect("a note only a private entry holds", await search("wombatland"), []);
  expect("bob's words", await search("bob"), []);
  await guest.goto(album);
  await Promise.all([guest.waitForNavigation(), guest.click("nav.folders a:nth-child(3)")]);
  expect("the folder 여행", (await publicEntries(guest)).map((e) => e.title), [jejuTitle]);
});

await check("the picture wall shows the pictures of the public entries, each a link to its page", async () => {
  expect("status", await visit(guest, `${album}wall`), 200);
  await loadAllPictures(guest);
  const wall = await guest.$$eval("ul.wall a", (links) => links.map((a) => [a.getAttribute("href"), a.querySelector("img").naturalWidth > 0]));
  expect("wall", wall, listed.map((e) => [e.page, true]));
});

await check("an entry's page: title, address as a link, note, folder, date and picture; hostile text stays text", async () => {
  await guest.goto(album);
  await Promise.all([guest.waitForNavigation(), guest.click(`#e${ids[publicTitle]} .title a`)]);
  expect("title", await guest.$eval("h1.title", (h) => h.textContent), publicTitle);
  expect("address", await guest.$eval("a.address", (a) => a.href), "http://example.com/torvo/public");
  assert("picture", await guest.$eval("img.picture", (img) => img.complete && img.naturalWidth > 0));
  expect("hostile page", await visit(guest, `${base}/u/alice/e/${ids[hostileTitle]}`), 200);
  expect("hostile title", await guest.$eval("h1.title", (h) => h.textContent), hostileTitle);
  expect("hostile note", await guest.$eval(".note", (p) => p.textContent), "<script>alert(2)</script>\n\"quoted\" & 'single'");
  expect("no element from the title", await guest.$$eval("main b, main script, main img:not(.picture)", (x) => x.length), 0);
  expect("the javascript: address is no link", await guest.$("a.address"), null);
});

await check("a link preview (no cookie, no script) finds og:title, og:url and og:image, which answers the PNG", async () => {
  const address = `${base}/u/alice/e/${ids[publicTitle]}`;
  const reply = await raw(address);
  expect("status", reply.status, 200);
  const meta = {};
  for (const [, key, value] of reply.text.matchAll(/<meta (?:property|name)="([^"]+)" content="([^"]*)">/g)) meta[key] = value;
  expect("og:title", meta["og:title"], publicTitle);
  expect("og:url", meta["og:url"], address);
  expect("twitter:card", meta["twitter:card"], "summary_large_image");
  assert(`og:image is absolute (${meta["og:image"]})`, meta["og:image"].startsWith(`${base}/`));
  const image = await raw(meta["og:image"]);
  expect("og:image status", image.status, 200);
  expect("og:image type", image.headers.get("content-type"), "image/png");
  expect("og:image is the picture", image.bytes.equals(fs.readFileSync(env.TORVO_PUBLIC_PNG)), true);
});

await check("no public road leads to a private entry or to bob's", async () => {
  const roads = [];
  for (const id of [ids[privateTitle], ids[secretTitle], ids.bob]) {
    roads.push(`/u/alice/e/${id}`, `/u/alice/thumb/${id}.png`);
  }
  roads.push(`/u/bob/e/${ids.bob}`, `/u/bob/thumb/${ids.bob}.png`, "/u/bob/feed.atom");
  for (const road of roads) {
    const reply = await raw(base + road);
    expect(`${road} status`, reply.status, 404);
    expect(`${road} is the same 404`, reply.text, notFound.text);
  }
  expect("a private picture in the browser", await visit(guest, `${base}/u/alice/thumb/${ids[privateTitle]}.png`), 404);
});

await me.goto(`${base}/settings`);
const privateFeed = await me.$eval("#private-feed", (c) => c.textContent);
await check("the feeds parse, hold exactly the public entries, and hostile titles stay text", async () => {
  const href = await (async () => { await guest.goto(album); return guest.$eval("link[rel=alternate][type='application/atom+xml']", (l) => l.href); })();
  expect("the list names its feed", href, `${album}feed.atom`);
  const feed = readFeed(href);
  expect("status", feed.status, 200);
  expect("bozo", feed.bozo, null);
  expect("version", feed.version, "atom10");
  expect("titles", feed.entries.map((e) => e.title), [hostileTitle, jejuTitle, publicTitle]);
  expect("title is text", feed.entries.map((e) => e.title_type), ["text/plain", "text/plain", "text/plain"]);
  const uploaded = feed.entries[2];
  expect("address", uploaded.links.alternate, "http://example.com/torvo/public");
  expect("its page", uploaded.links.related, `${base}/u/alice/e/${ids[publicTitle]}`);
  expect("enclosure", uploaded.enclosures, [{ href: `${base}/u/alice/thumb/${ids[publicTitle]}.png`, type: "image/png" }]);
  assert("the picture in the content", uploaded.content.includes(`src="${base}/u/alice/thumb/${ids[publicTitle]}.png"`));
  assert("no script in the hostile entry's content", !feed.entries[0].content.includes("<script"));
  const enclosure = await raw(uploaded.enclosures[0].href);
  expect("the enclosure is the picture", enclosure.bytes.equals(fs.readFileSync(env.TORVO_PUBLIC_PNG)), true);
  const folder = readFeed(`${album}feed.atom?folder=3`);
  expect("per folder", [folder.bozo, folder.entries.map((e) => e.title)], [null, [jejuTitle]]);
  const search = readFeed(`${album}feed.atom?q=sharpened`);
  expect("per search", [search.bozo, search.entries.map((e) => e.title)], [null, [publicTitle]]);
  expect("a private word", readFeed(`${album}feed.atom?q=quokka`).entries, []);
  const mine = readFeed(privateFeed);
  expect("private feed", [mine.bozo, mine.entries.map((e) => e.title)],
         [null, [secretTitle, hostileTitle, jejuTitle, privateTitle, publicTitle]]);
  const picture = await raw(mine.entries[3].enclosures[0].href);
  expect("the private page's picture through the secret address", picture.bytes.equals(fs.readFileSync(env.TORVO_PRIVATE_PNG)), true);
});

await check("screenshots: the list, the wall and an entry's page, light, dark and at a phone's width", async () => {
  const pages = { "album-list": album, "album-wall": `${album}wall`, "album-entry": `${base}/u/alice/e/${ids[publicTitle]}` };
  for (const [name, url] of Object.entries(pages)) {
    await guest.goto(url);
    await loadAllPictures(guest);
    await guest.screenshot({ path: path.join(shots, `${name}.png`), fullPage: true });
    await guest.emulateMediaFeatures([{ name: "prefers-color-scheme", value: "dark" }]);
    await guest.screenshot({ path: path.join(shots, `${name}-dark.png`), fullPage: true });
    await guest.emulateMediaFeatures([{ name: "prefers-color-scheme", value: "light" }]);
    await guest.setViewport({ width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 2 });
    await guest.goto(url);
    await loadAllPictures(guest);
    const wide = await guest.evaluate(() => document.documentElement.scrollWidth);
    assert(`${name} fits a phone's width (${wide})`, wide <= 390);
    await guest.screenshot({ path: path.join(shots, `${name}-phone.png`), fullPage: true });
    await guest.setViewport({ width: 1100, height: 900 });
  }
  const korean = await newPage(visitor, "ko-KR,ko;q=0.9");
  await korean.goto(album);
  expect("Korean", await korean.$eval("h1", (h) => h.textContent), "alice의 앨범");
  await korean.screenshot({ path: path.join(shots, "album-list-ko.png") });
  await korean.close();
});

await check("made private, an entry leaves every public road on the next request; deleted, too", async () => {
  await me.goto(`${base}/entries/${ids[publicTitle]}/edit`);
  await me.click("input[name=private]");
  await Promise.all([me.waitForNavigation(), me.click("form.edit button[type=submit]")]);
  await me.goto(`${base}/entries/${ids[jejuTitle]}/edit`);
  await Promise.all([me.waitForNavigation(), me.click("form.delete button")]);
  await visit(guest, album);
  expect("list", (await publicEntries(guest)).map((e) => e.title), [hostileTitle]);
  expect("folders", await guest.$$eval("nav.folders a", (a) => a.map((x) => x.textContent)), ["All folders", "기본"]);
  await visit(guest, `${album}wall`);
  expect("wall", await guest.$$eval("ul.wall a", (links) => links.length), 1);
  await visit(guest, `${album}?q=sharpened`);
  expect("search", (await publicEntries(guest)).length, 0);
  for (const id of [ids[publicTitle], ids[jejuTitle]]) {
    for (const road of [`/u/alice/e/${id}`, `/u/alice/thumb/${id}.png`]) {
      const reply = await raw(base + road);
      expect(`${road}`, [reply.status, reply.text === notFound.text], [404, true]);
    }
  }
  expect("feed", readFeed(`${album}feed.atom`).entries.map((e) => e.title), [hostileTitle]);
  expect("private feed", readFeed(privateFeed).entries.map((e) => e.title), [secretTitle, hostileTitle, privateTitle, publicTitle]);
});

await check("a new private feed address: the old one answers 404", async () => {
  await me.goto(`${base}/settings`);
  await Promise.all([me.waitForNavigation(), me.click("form[action='/settings/feed-address'] button")]);
  const renewed = await me.$eval("#private-feed", (c) => c.textContent);
  assert("a new address", renewed !== privateFeed);
  expect("old", readFeed(privateFeed).status, 404);
  expect("new", readFeed(renewed).entries.length, 4);
});

await check("sharing turned off: every public address answers the 404 of a name that is no album", async () => {
  await me.goto(`${base}/settings`);
  await me.click("#sharing input[name=shared]");
  await Promise.all([me.waitForNavigation(), me.click("#sharing form[action='/settings/sharing'] button")]);
  for (const road of ["/u/alice/", "/u/alice/wall", "/u/alice/feed.atom", `/u/alice/e/${ids[hostileTitle]}`,
                      `/u/alice/thumb/${ids[hostileTitle]}.png`]) {
    const reply = await raw(base + road);
    expect(road, [reply.status, reply.text === notFound.text], [404, true]);
  }
});

await check("no page opened a dialog", async () => expect("dialogs", dialogs, []));

await browser.close();
finish("album");
