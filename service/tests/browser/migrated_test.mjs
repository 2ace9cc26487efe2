// A data folder made by an earlier release (service/tests/data/release-folder.tar.gz), as its
// users meet it after the upgrade: moved into PostgreSQL by `migrate`, and opened in place by
// today's SQLite store. migrated.sh starts one service on each and names them here:
//   TORVO_SERVICES  "LABEL=BASE,LABEL=BASE"
//   TORVO_EXPECTED  the fixture's expected.json: users, passwords, entries newest first, searches
//   TORVO_SHOTS, TORVO_PROFILE
import crypto from "node:crypto";
import fs from "node:fs";
import path from "node:path";
import { assert, bytesOf, check, dialogs, drawn, entries, expect, finish, launch, list, newPage, signIn, textOf } from "./browser.mjs";

const env = process.env;
const expected = JSON.parse(fs.readFileSync(env.TORVO_EXPECTED, "utf8"));
const services = env.TORVO_SERVICES.split(",").map((pair) => pair.split("="));
const browser = await launch(env.TORVO_PROFILE);
const sha256 = (bytes) => crypto.createHash("sha256").update(bytes).digest("hex");
const shown = (e) => ({ title: e.title, url: e.url, note: e.note, folder: e.folder, private: e.private });

for (const [label, base] of services) {
  for (const user of expected.users) {
    const context = await browser.createBrowserContext();
    const page = await newPage(context);
    await check(`${label}: ${user.name} signs in with the old password and finds every entry, newest first`, async () => {
      const response = await signIn(page, base, user);
      expect("after sign-in", new URL(response.url()).pathname, "/");
      const all = await entries(page);
      expect("entries", all.map(shown), user.entries.map(shown));
      for (const [i, entry] of all.entries()) {
        const want = user.entries[i].picture;
        if (want === null) {
          expect(`${entry.title} (from the bookmark file) has no picture`, entry.thumb, null);
          continue;
        }
        assert(`${entry.title} has its picture`, entry.thumb !== null);
        expect(`${entry.title}'s picture`, sha256(await bytesOf(page, entry.thumb)), want);
        const [complete, width] = await drawn(page, `#e${entry.id} img.thumb`);
        expect(`${entry.title}'s picture is drawn`, complete && width > 0, true);
      }
      if (user === expected.users[0]) await page.screenshot({ path: path.join(env.TORVO_SHOTS, `${label}.png`), fullPage: true });
    });
    await check(`${label}: ${user.name}'s Korean folders, each with its entries`, async () => {
      await page.goto(`${base}/folders`);
      const folders = await page.$$eval(".folder-list input[name=name]", (inputs) => inputs.map((i) => i.value));
      expect("folders", [...folders].sort(), [...user.folders].sort());
      await list(page, base);
      for (const name of user.folders) {
        const link = await page.$$eval("nav.folders a", (links, name) =>
          links.find((a) => a.textContent.trim() === name)?.getAttribute("href") ?? null, name);
        assert(`a link to the folder ${name}`, link);
        expect(`in ${name}`, (await list(page, base, link.slice(1))).map((e) => e.title),
               user.entries.filter((e) => e.folder === name).map((e) => e.title));
      }
    });
    await check(`${label}: ${user.name}'s searches, Korean ones too`, async () => {
      for (const search of user.searches) {
        expect(search.q, (await list(page, base, "?q=" + encodeURIComponent(search.q))).map((e) => e.title), search.titles);
      }
    });
    await check(`${label}: ${user.name}'s export holds every entry`, async () => {
      const html = await textOf(page, `${base}/export.html`);
      assert("a Netscape bookmark file", html.startsWith("<!DOCTYPE NETSCAPE-Bookmark-file-1>"));
      const exported = [...html.matchAll(/<A HREF="([^"]*)"[^>]*PRIVATE="(\d)"[^>]*>([^<]*)<\/A>/g)]
        .map((m) => ({ url: m[1], private: m[2] === "1", title: m[3] }));
      const unescape = (s) => s.replaceAll("&lt;", "<").replaceAll("&gt;", ">").replaceAll("&quot;", "\"").replaceAll("&amp;", "&");
      const byTitle = (a, b) => a.title.localeCompare(b.title);
      expect("exported entries", exported.map((e) => ({ ...e, url: unescape(e.url), title: unescape(e.title) })).sort(byTitle),
             user.entries.map((e) => ({ url: e.url, private: e.private, title: e.title })).sort(byTitle));
      for (const folder of user.folders) assert(`the folder ${folder} is in the file`, html.includes(`>${folder}</H3>`));
      const zip = await bytesOf(page, `${base}/export.zip`);
      const pictures = user.entries.filter((e) => e.picture).length;
      expect("pictures in the zip", (zip.toString("latin1").match(/thumbnails\/[^/]*?\.png/g) ?? []).length / 2, pictures);
    });
    await context.close();
  }
}

await check("no dialog opened", async () => expect("dialogs", dialogs, []));
await browser.close();
finish("migrated");
