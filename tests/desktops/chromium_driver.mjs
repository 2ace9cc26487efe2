// Chromium as the tests need it, through its debugging protocol on a pipe (no port to share):
// loads the Torvo extension and sets the identity, then takes commands, one a line, on standard
// input, answering each with one line of JSON on standard output:
//   open URL   shows the page in the tab: {"innerWidth", "innerHeight", "devicePixelRatio", "title"}
//   press      presses the extension's button on the tab: {"pressed": true}. This is the
//              protocol's Extensions.triggerAction, which runs the button's own handler with the
//              tab's activeTab grant, as a click on the button does.
// Any failure answers {"error": ...}. The browser ends with the driver (end of input, SIGTERM).
//
//   node chromium_driver.mjs --chromium PATH --extension DIR --profile DIR --toolbar-id ID
//        [--chromium-arg ARG]...
import {spawn} from "node:child_process";

const options = {chromiumArgs: []};
for (let i = 2; i < process.argv.length; i += 2) {
  const [name, value] = [process.argv[i], process.argv[i + 1]];
  if (name === "--chromium-arg") options.chromiumArgs.push(value);
  else options[name.replace(/^--/, "").replace(/-(.)/g, (_, c) => c.toUpperCase())] = value;
}
for (const needed of ["chromium", "extension", "profile", "toolbarId"]) {
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
], {stdio: ["ignore", "ignore", "inherit", "pipe", "pipe"]});
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

async function setUp() {
  const {id: extension} = await send("Extensions.loadUnpacked", {path: options.extension});
  const {targetId} = await send("Target.createTarget", {url: "about:blank"});
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
  return {extension, targetId, sessionId};
}

async function open({targetId, sessionId}, url) {
  await send("Page.navigate", {url}, sessionId);
  for (let tries = 0; ; ++tries) {
    const {result} = await send("Runtime.evaluate", {
      expression: "JSON.stringify({url: location.href, ready: document.readyState, title: document.title, innerWidth, innerHeight, devicePixelRatio})",
      returnByValue: true,
    }, sessionId);
    const view = JSON.parse(result.value);
    if (view.url === url && view.ready === "complete") {
      // The page in front of the other tabs, and painted, before any press.
      await send("Target.activateTarget", {targetId});
      await send("Page.bringToFront", {}, sessionId);
      await sleep(1000);
      delete view.ready;
      return view;
    }
    if (tries > 150) throw new Error(`${url} did not load`);
    await sleep(100);
  }
}

async function press({extension}, url) {
  // The action belongs to the tab, which holds the page: the tab's own target, found by its page.
  const {targetInfos} = await send("Target.getTargets", {filter: [{type: "tab"}]});
  const tab = targetInfos.find((t) => t.type === "tab" && t.url === url);
  if (!tab) throw new Error(`no tab target for the page among ${JSON.stringify(targetInfos)}`);
  await send("Extensions.triggerAction", {id: extension, targetId: tab.targetId});
  return {pressed: true};
}

const answer = (value) => process.stdout.write(JSON.stringify(value) + "\n");
let browserSide;
let current = "about:blank";
let queue = Promise.resolve();
const input = (await import("node:readline")).createInterface({input: process.stdin});
input.on("line", (line) => {
  queue = queue.then(async () => {
    try {
      browserSide ??= await setUp();
      const [command, argument] = [line.split(" ")[0], line.slice(line.indexOf(" ") + 1)];
      if (command === "open") {
        current = argument;
        answer(await open(browserSide, argument));
      } else if (command === "press") {
        answer(await press(browserSide, current));
      } else {
        answer({error: `unknown command ${command}`});
      }
    } catch (e) {
      answer({error: e.message});
    }
  });
});
input.on("close", () => queue.then(end));
