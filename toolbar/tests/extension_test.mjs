// The extension's background script against a stand-in browser API: what it sends to the host
// and what the user is told. Run with `node --test toolbar/tests/`.
import assert from "node:assert/strict";
import {readFileSync} from "node:fs";
import test from "node:test";
import vm from "node:vm";

const source = readFileSync(new URL("../extension/background.js", import.meta.url), "utf8");
const english = JSON.parse(readFileSync(new URL("../extension/_locales/en/messages.json", import.meta.url), "utf8"));
const korean = JSON.parse(readFileSync(new URL("../extension/_locales/ko/messages.json", import.meta.url), "utf8"));

// A browser with one stored identity, a page selection and a host answer (or failure).
// The tab's picture is `picture` (a data URL), or the capture fails with `captureError`.
function load({toolbarId, selection = "", frames = [], answer = {ok: true}, hostError, locale = english,
               picture = PNG, captureError, answers}) {
  const calls = {sent: [], notices: [], badges: [], optionsOpened: 0, captures: [], order: [], stored: []};
  let clicked;
  const chrome = {
    i18n: {
      getMessage(name, subs = []) {
        const entry = locale[name] ?? english[name];
        if (!entry) return "";
        return entry.message.replace(/\$REASON\$/g, subs[0]);
      },
    },
    storage: {local: {get: async () => (toolbarId === undefined ? {} : {toolbarId}),
                      set: async (items) => calls.stored.push(items)}},
    runtime: {
      openOptionsPage: async () => calls.optionsOpened++,
      getURL: (path) => `chrome-extension://id/${path}`,
      sendNativeMessage: async (host, message) => {
        calls.sent.push({host, message: JSON.parse(JSON.stringify(message))});  // as the browser serialises it
        calls.order.push("send");
        if (hostError) throw new Error(hostError);
        return answers ? answers[calls.sent.length - 1] : answer;
      },
    },
    tabs: {
      captureVisibleTab: async (windowId, options) => {
        calls.captures.push(JSON.parse(JSON.stringify({windowId, options})));
        calls.order.push("capture");
        if (captureError) throw new Error(captureError);
        return picture;
      },
    },
    scripting: {
      executeScript: async ({target}) => {
        calls.order.push("script");
        return target.allFrames ? frames.map((result) => ({result})) : [{result: selection}];
      },
    },
    action: {
      onClicked: {addListener: (listener) => (clicked = listener)},
      setBadgeText: async ({text}) => calls.badges.push(text),
      setBadgeBackgroundColor: async () => {},
      setTitle: async () => {},
    },
    notifications: {create: async ({message}) => calls.notices.push(message)},
  };
  const context = vm.createContext({chrome, console});
  vm.runInContext(source, context);
  return {click: (tab) => clicked(tab), calls, context};
}

const PNG = "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC";
const page = {id: 7, windowId: 3, url: "https://news.example/기사?id=1", title: "서울 뉴스"};

test("sends the identity, address, title, selection and the tab's picture to the host", async () => {
  const browser = load({toolbarId: "user1", selection: "선택한 문장입니다."});
  await browser.click(page);
  assert.deepEqual(browser.calls.sent, [{
    host: "torvo.toolbar",
    message: {toolbarId: "user1", url: "https://news.example/기사?id=1", title: "서울 뉴스", note: "선택한 문장입니다.",
              picture: PNG},
  }]);
  // PNG, not the browser's default JPEG; of the tab's own window; taken before any script runs.
  assert.deepEqual(browser.calls.captures, [{windowId: 3, options: {format: "png"}}]);
  assert.deepEqual(browser.calls.order, ["capture", "script", "send"]);
  assert.deepEqual(browser.calls.notices, []);
  assert.deepEqual(browser.calls.badges, [""]);
});

test("where the browser gives no PNG picture, the fields go alone", async () => {
  const cases = [
    {captureError: "Cannot access contents of url \"https://chromewebstore.google.com/\"."},
    {captureError: "This request exceeds the MAX_CAPTURE_VISIBLE_TAB_CALLS_PER_SECOND quota."},
    {captureError: "Missing activeTab permission"},
    {picture: "data:image/jpeg;base64,/9j/4AAQ"},
    {picture: ""},
    {picture: null},
  ];
  for (const c of cases) {
    const browser = load({toolbarId: "u", ...c});
    await browser.click(page);
    assert.equal(browser.calls.sent.length, 1, JSON.stringify(c));
    assert.deepEqual(Object.keys(browser.calls.sent[0].message), ["toolbarId", "url", "title", "note"], JSON.stringify(c));
    assert.deepEqual(browser.calls.notices, [], JSON.stringify(c));
  }
});

test("a picture the host refuses is dropped and the page sent again without it", async () => {
  const refused = {ok: false, code: "picture_too_large", message: "The picture is 20000 pixels wide."};
  const browser = load({toolbarId: "u", answers: [refused, {ok: true}]});
  await browser.click(page);
  assert.equal(browser.calls.sent.length, 2);
  assert.equal(browser.calls.sent[0].message.picture, PNG);
  assert.equal("picture" in browser.calls.sent[1].message, false);
  assert.deepEqual(browser.calls.notices, []);

  // Other refusals are not retried, and a second refusal is told.
  const other = load({toolbarId: "u", answers: [{ok: false, code: "separator", message: "x"}]});
  await other.click(page);
  assert.equal(other.calls.sent.length, 1);
  const twice = load({toolbarId: "u", answers: [refused, {ok: false, code: "not_found", message: "TorvoTool was not found."}]});
  await twice.click(page);
  assert.equal(twice.calls.sent.length, 2);
  assert.deepEqual(twice.calls.notices, [english.host_not_found?.message ?? "TorvoTool was not found."]);
});

test("the note comes from a frame when the page itself has no selection", async () => {
  const browser = load({toolbarId: "u", selection: "", frames: ["", "프레임 안의 글"]});
  await browser.click(page);
  assert.equal(browser.calls.sent[0].message.note, "프레임 안의 글");
});

test("not connected, the options page opens instead, with the reason to show", async () => {
  for (const toolbarId of [undefined, ""]) {
    const browser = load({toolbarId});
    await browser.click(page);
    assert.equal(browser.calls.optionsOpened, 1);
    assert.deepEqual(JSON.parse(JSON.stringify(browser.calls.stored)), [{optionsNotice: "notConnected"}]);
    assert.ok(english.notConnected.message && korean.notConnected.message);
    assert.deepEqual(browser.calls.sent, []);
  }
});

test("pages that are not web pages get a notice and no call", async () => {
  for (const url of ["chrome://settings/", "about:addons", "file:///home/a.html", "view-source:http://a/", undefined]) {
    const browser = load({toolbarId: "u"});
    await browser.click({id: 1, url, title: "x"});
    assert.deepEqual(browser.calls.sent, [], url);
    assert.deepEqual(browser.calls.captures, [], url);
    assert.deepEqual(browser.calls.notices, ["Torvo keeps web pages only (http or https addresses)."], url);
    assert.deepEqual(browser.calls.badges, ["!"]);
  }
});

test("the host's refusals and a missing host are told to the user", async () => {
  const cases = [
    {answer: {ok: false, code: "separator", message: "The page title contains \";^;\"."},
     english: "The page title contains \";^;\".",
     korean: "아이디, 주소 또는 제목에 \";^;\"가 들어 있어 이 페이지를 보낼 수 없습니다."},
    {answer: {ok: false, code: "bad_frame", message: "The message was cut short."},
     english: "The message was cut short.", korean: "The message was cut short."},
    {hostError: "Specified native messaging host not found.",
     english: english.hostMissing.message, korean: korean.hostMissing.message},
    {hostError: "No such native application torvo.toolbar",
     english: english.hostMissing.message, korean: korean.hostMissing.message},
    {hostError: "Native host has exited.",
     english: "The Torvo host could not be reached: Native host has exited.",
     korean: "Torvo 호스트와 연결할 수 없습니다: Native host has exited."},
    {answer: null, english: "The Torvo host could not be reached: {}",
     korean: "Torvo 호스트와 연결할 수 없습니다: {}"},
  ];
  for (const c of cases) {
    for (const [locale, expected] of [[english, c.english], [korean, c.korean]]) {
      const browser = load({toolbarId: "u", answer: c.answer, hostError: c.hostError, locale});
      await browser.click(page);
      assert.deepEqual(browser.calls.notices, [expected]);
      assert.deepEqual(browser.calls.badges, ["!"]);
    }
  }
});

test("the selection is read from a text box too", () => {
  const {context} = load({toolbarId: "u"});
  context.document = {activeElement: {value: "abc 가나다 def", selectionStart: 4, selectionEnd: 7}};
  context.window = {getSelection: () => ({toString: () => "page"})};
  assert.equal(context.readSelection(), "가나다");
  context.document = {activeElement: {value: "abc", selectionStart: 1, selectionEnd: 1}};
  assert.equal(context.readSelection(), "page");
  context.document = {activeElement: null};
  context.window = {getSelection: () => null};
  assert.equal(context.readSelection(), "");
});

test("the host manifests admit exactly this extension under the name it calls", async () => {
  const {createHash} = await import("node:crypto");
  const manifest = JSON.parse(readFileSync(new URL("../extension/manifest.json", import.meta.url), "utf8"));
  const read = (name) => JSON.parse(readFileSync(new URL(`../manifests/${name}.json.in`, import.meta.url), "utf8"));
  // An unpacked extension's ID: the first 32 hex digits of the SHA-256 of its public key, a-p for 0-f.
  const digest = createHash("sha256").update(Buffer.from(manifest.key, "base64")).digest("hex").slice(0, 32);
  const id = [...digest].map((d) => String.fromCharCode(97 + parseInt(d, 16))).join("");
  const chromium = read("chromium");
  const firefox = read("firefox");
  assert.deepEqual(chromium.allowed_origins, [`chrome-extension://${id}/`]);
  assert.deepEqual(firefox.allowed_extensions, [manifest.browser_specific_settings.gecko.id]);
  for (const host of [chromium, firefox]) {
    assert.equal(host.name, "torvo.toolbar");
    assert.equal(host.type, "stdio");
    assert.equal(host.path, "@TORVO_TOOLBAR_HOST@");
  }
  assert.match(source, /const HOST = "torvo\.toolbar";/);
});

test("every code the host answers to Connect has its message in both languages", () => {
  const codes = ["unreachable", "not_torvo", "untrusted_certificate", "wrong_protocol", "credentials", "slowed",
                 "signed_out", "not_http", "bad_address", "not_pem", "too_long", "write_failed"];
  const messages = new Set();
  for (const code of codes) {
    for (const locale of [english, korean]) assert.ok(locale[`connect_${code}`]?.message, `${code} in ${locale === english ? "en" : "ko"}`);
    messages.add(english[`connect_${code}`].message);
  }
  assert.equal(messages.size, codes.length, "two failures share one message");
  for (const name of Object.keys(english)) assert.ok(korean[name], `${name} has no Korean text`);
});
