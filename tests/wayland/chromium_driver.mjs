// Chromium as the tests need it, through its debugging protocol on a pipe (no port to share):
// loads the Torvo extension, sets the identity, opens the page and presses the extension's button
// (the protocol's Extensions.triggerAction, which runs the button's own handler with the tab's
// activeTab grant, as a click on the button does). Writes what it saw to --out as JSON:
// {"extension": id, "innerWidth", "innerHeight", "devicePixelRatio", "pressed": true}. Then keeps
// the browser open until it is told to end (SIGTERM), and ends it with itself.
//
//   node chromium_driver.mjs --chromium PATH --extension DIR --profile DIR --page URL
//        --toolbar-id ID --out FILE [--chromium-arg ARG]...
import {spawn} from "node:child_process";
import {writeFileSync} from "node:fs";

const options = {chromiumArgs: []};
for (let i = 2; i < process.argv.length; i += 2) {
  const [name, value] = [process.argv[i], process.argv[i + 1]];
  if (name === "--chromium-arg") options.chromiumArgs.push(value);
  else options[name.replace(/^--/, "").replace(/-(.)/g, (_, c) => c.toUpperCase())] = value;
}
for (const needed of ["chromium", "extension", "profile", "page", "toolbarId", "out"]) {
  if (!options[needed]) {
    console.error(`chromium_driver: --${needed} is missing`);
    process.exit(2);
  }
}

const browser = spawn(options.chromium, [
  "--remote-debugging-pipe", "--enable-unsafe-extension-debugging", "--no-sandbox", "--test-type",
  `--user-data-dir=${options.profile}`, "--no-first-run", "--no-default-browser-check",
  "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-quic",
  "--password-store=basic", "--lang=ko", ...options.chromiumArgs, "about:blank",
], {stdio: ["ignore", "inherit", "inherit", "pipe", "pipe"]});
const [, , , toBrowser, fromBrowser] = browser.stdio;
let browserEnded = false;
browser.on("exit", (code, signal) => {
  browserEnded = true;
  console.error(`chromium_driver: the browser ended (${code ?? signal})`);
  process.exit(1);
});
const end = () => {
  if (!browserEnded) browser.kill("SIGTERM");
  process.exit(0);
};
process.on("SIGTERM", end);
process.on("SIGINT", end);

// The protocol: JSON messages each ended by a NUL byte.
let nextId = 1;
const waiting = new Map();
const listeners = [];
let buffered = Buffer.alloc(0);
fromBrowser.on("data", (chunk) => {
  buffered = Buffer.concat([buffered, chunk]);
  let end;
  while ((end = buffered.indexOf(0)) >= 0) {
    const message = JSON.parse(buffered.subarray(0, end).toString("utf8"));
    buffered = buffered.subarray(end + 1);
    if (message.id && waiting.has(message.id)) {
      const {resolve, reject, method} = waiting.get(message.id);
      waiting.delete(message.id);
      if (message.error) reject(new Error(`${method}: ${message.error.message}`));
      else resolve(message.result);
    } else {
      for (const listener of listeners) listener(message);
    }
  }
});
function send(method, params = {}, sessionId) {
  const id = nextId++;
  toBrowser.write(JSON.stringify({id, method, params, ...(sessionId ? {sessionId} : {})}) + "\0");
  return new Promise((resolve, reject) => waiting.set(id, {resolve, reject, method}));
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function main() {
  const {id: extension} = await send("Extensions.loadUnpacked", {path: options.extension});
  const {targetId} = await send("Target.createTarget", {url: options.page});
  const {sessionId} = await send("Target.attachToTarget", {targetId, flatten: true});
  // The identity, stored by the extension's own options page, which then closes.
  const {targetId: optionsTarget} = await send("Target.createTarget", {url: `chrome-extension://${extension}/options.html`});
  const {sessionId: optionsSession} = await send("Target.attachToTarget", {targetId: optionsTarget, flatten: true});
  let stored;
  for (let tries = 0; ; ++tries) {
    stored = await send("Runtime.evaluate", {
      expression: `chrome.storage.local.set({toolbarId: ${JSON.stringify(options.toolbarId)}}).then(() => "stored")`,
      awaitPromise: true, returnByValue: true,
    }, optionsSession);
    if (stored.result.value === "stored" || tries > 50) break;
    await sleep(100);
  }
  if (stored.result.value !== "stored") throw new Error(`the identity could not be stored: ${JSON.stringify(stored)}`);
  await send("Target.closeTarget", {targetId: optionsTarget});
  let view;
  for (let tries = 0; ; ++tries) {
    const {result} = await send("Runtime.evaluate", {
      expression: "JSON.stringify({ready: document.readyState, title: document.title, innerWidth, innerHeight, devicePixelRatio})",
      returnByValue: true,
    }, sessionId);
    view = JSON.parse(result.value);
    if (view.ready === "complete" && view.title) break;
    if (tries > 100) throw new Error("the page did not load");
    await sleep(100);
  }
  // The page in front of the others, and painted, before the press.
  await send("Target.activateTarget", {targetId});
  await send("Page.bringToFront", {}, sessionId);
  await sleep(1500);
  // The action belongs to the tab, which holds the page: the tab's own target, found by its page.
  const {targetInfos} = await send("Target.getTargets", {filter: [{type: "tab"}]});
  const tab = targetInfos.find((t) => t.type === "tab" && t.url === options.page) ??
              targetInfos.find((t) => t.type === "tab" && t.title === view.title);
  if (!tab) throw new Error(`no tab target for the page among ${JSON.stringify(targetInfos)}`);
  await send("Extensions.triggerAction", {id: extension, targetId: tab.targetId});
  writeFileSync(options.out, JSON.stringify({extension, ...view, pressed: true}));
}

main().catch((e) => {
  console.error("chromium_driver:", e.message);
  writeFileSync(options.out, JSON.stringify({error: e.message}));
  if (!browserEnded) browser.kill("SIGTERM");
  process.exit(1);
});
