// Firefox ESR as the tests need it, through Marionette, its remote-control protocol, on a port
// Firefox picks itself: the Torvo extension side-loaded into a fresh profile, the identity typed
// into the extension's options page, then commands, one a line, on standard input, each answered
// with one line of JSON on standard output:
//   open URL   shows the page in the tab: {"innerWidth", "innerHeight", "devicePixelRatio", "title"}
//   press      presses the extension's button on the tab: {"pressed": true}. This calls the
//              button's own trigger in the browser (the one a click or the shortcut calls),
//              which grants the tab's activeTab and runs the extension's handler.
// Any failure answers {"error": ...}. The browser ends with the driver (end of input, SIGTERM).
//
//   node firefox_driver.mjs --firefox PATH --extension DIR --profile DIR --toolbar-id ID
import {spawn, execFileSync} from "node:child_process";
import {existsSync, mkdirSync, readFileSync, writeFileSync} from "node:fs";
import net from "node:net";
import {createInterface} from "node:readline";

const options = {};
for (let i = 2; i < process.argv.length; i += 2) {
  options[process.argv[i].replace(/^--/, "").replace(/-(.)/g, (_, c) => c.toUpperCase())] = process.argv[i + 1];
}
for (const needed of ["firefox", "extension", "profile", "toolbarId"]) {
  if (!options[needed]) {
    console.error(`firefox_driver: --${needed} is missing`);
    process.exit(2);
  }
}
const EXTENSION_ID = JSON.parse(readFileSync(`${options.extension}/manifest.json`, "utf8")).browser_specific_settings.gecko.id;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// A fresh profile that takes the unsigned extension from its own folder.
mkdirSync(`${options.profile}/extensions`, {recursive: true});
execFileSync("zip", ["-qr", `${options.profile}/extensions/${EXTENSION_ID}.xpi`, "."], {cwd: options.extension});
writeFileSync(`${options.profile}/user.js`, [
  'user_pref("xpinstall.signatures.required", false);',
  'user_pref("extensions.autoDisableScopes", 0);',
  'user_pref("extensions.enabledScopes", 15);',
  'user_pref("marionette.port", 0);',
  'user_pref("browser.shell.checkDefaultBrowser", false);',
  'user_pref("browser.aboutwelcome.enabled", false);',
  'user_pref("browser.startup.homepage_override.mstone", "ignore");',
  'user_pref("datareporting.policy.dataSubmissionEnabled", false);',
  'user_pref("app.update.enabled", false);',
  'user_pref("browser.translations.automaticallyPopup", false);',
].join("\n") + "\n");

const browser = spawn(options.firefox, ["--marionette", "--remote-allow-system-access", "--no-remote", "--profile", options.profile, "about:blank"],
                      {stdio: ["ignore", "ignore", "inherit"]});
let browserEnded = false;
browser.on("exit", (code, signal) => {
  browserEnded = true;
  console.error(`firefox_driver: the browser ended (${code ?? signal})`);
  process.exit(1);
});
const end = () => {
  if (!browserEnded) browser.kill("SIGTERM");
  process.exit(0);
};
process.on("SIGTERM", end);
process.on("SIGINT", end);

// Marionette: messages as "length:json"; commands [0, id, name, parameters], answers
// [1, id, error, result].
let socket;
let nextId = 1;
const waiting = new Map();
let buffered = Buffer.alloc(0);
async function connect() {
  const portFile = `${options.profile}/MarionetteActivePort`;
  for (let tries = 0; !existsSync(portFile); ++tries) {
    if (tries > 600) throw new Error("Marionette did not start");
    await sleep(100);
  }
  const port = Number(readFileSync(portFile, "utf8").trim());
  socket = net.connect(port, "127.0.0.1");
  let greeted;
  const greeting = new Promise((resolve) => (greeted = resolve));
  socket.on("data", (chunk) => {
    buffered = Buffer.concat([buffered, chunk]);
    for (;;) {
      const colon = buffered.indexOf(":");
      if (colon < 0) return;
      // The length counts the bytes of the UTF-8 text.
      const length = Number(buffered.subarray(0, colon).toString("ascii"));
      if (buffered.length < colon + 1 + length) return;
      const message = JSON.parse(buffered.subarray(colon + 1, colon + 1 + length).toString("utf8"));
      buffered = buffered.subarray(colon + 1 + length);
      if (!Array.isArray(message)) {
        greeted(message);
        continue;
      }
      const [, id, error, result] = message;
      const {resolve, reject, name} = waiting.get(id);
      waiting.delete(id);
      if (error) reject(new Error(`${name}: ${error.message ?? JSON.stringify(error)}`));
      else resolve(result);
    }
  });
  await greeting;
}
function send(name, parameters = {}) {
  const id = nextId++;
  const text = JSON.stringify([0, id, name, parameters]);
  socket.write(`${Buffer.byteLength(text)}:${text}`);
  return new Promise((resolve, reject) => waiting.set(id, {resolve, reject, name}));
}
async function run(context, script, args = []) {
  await send("Marionette:SetContext", {value: context});
  const {value} = await send("WebDriver:ExecuteScript", {script, args});
  return value;
}

async function setUp() {
  await connect();
  await send("WebDriver:NewSession", {capabilities: {}});
  // The extension's options page, where the user types the identity.
  let host;
  for (let tries = 0; !host; ++tries) {
    host = await run("chrome", "return WebExtensionPolicy.getByID(arguments[0])?.mozExtensionHostname ?? null;", [EXTENSION_ID]);
    if (!host && tries > 100) throw new Error("the extension was not loaded");
    if (!host) await sleep(100);
  }
  await send("Marionette:SetContext", {value: "content"});
  await send("WebDriver:Navigate", {url: `moz-extension://${host}/options.html`});
  const saved = await run("content", `
    const field = document.getElementById("toolbarId");
    field.value = arguments[0];
    const status = document.getElementById("status");
    status.textContent = "";
    status.className = "";
    document.querySelector("button[type=submit]").click();
    return new Promise((resolve) => {
      const check = () => status.textContent && status.className === "ok"
        ? resolve(document.getElementById("status").textContent) : setTimeout(check, 50);
      check();
    });`, [options.toolbarId]);
  return {host, saved};
}

async function open(url) {
  await send("Marionette:SetContext", {value: "content"});
  await send("WebDriver:Navigate", {url});
  const view = await run("content", "return {title: document.title, innerWidth, innerHeight, devicePixelRatio};");
  await sleep(1000);  // painted before any press
  return view;
}

async function press() {
  await run("chrome", `
    const {ExtensionParent} = ChromeUtils.importESModule("resource://gre/modules/ExtensionParent.sys.mjs");
    const extension = WebExtensionPolicy.getByID(arguments[0]).extension;
    const action = ExtensionParent.apiManager.global.browserActionFor(extension);
    action.triggerAction(window);
    return true;`, [EXTENSION_ID]);
  return {pressed: true};
}

const answer = (value) => process.stdout.write(JSON.stringify(value) + "\n");
let ready;
let queue = Promise.resolve();
const input = createInterface({input: process.stdin});
input.on("line", (line) => {
  queue = queue.then(async () => {
    try {
      ready ??= await setUp();
      const [command, argument] = [line.split(" ")[0], line.slice(line.indexOf(" ") + 1)];
      if (command === "open") answer(await open(argument));
      else if (command === "press") answer(await press());
      else answer({error: `unknown command ${command}`});
    } catch (e) {
      answer({error: e.message});
    }
  });
});
input.on("close", () => queue.then(end));
