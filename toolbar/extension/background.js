// The Torvo button and its shortcut: the page in front (address, title, the selected text as the
// note, and a picture of the visible page) goes to torvo-toolbar-host, which starts TorvoTool for
// it. Runs as Chromium's service worker and as Firefox's background script alike.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST = "torvo.toolbar";

function text(name, substitutions) {
  return api.i18n.getMessage(name, substitutions);
}

// A short notice, also left on the button (badge and tooltip) in case notifications are off.
async function notice(tabId, message) {
  try {
    await api.action.setBadgeBackgroundColor({tabId, color: "#C62828"});
    await api.action.setBadgeText({tabId, text: "!"});
    await api.action.setTitle({tabId, title: `Torvo: ${message}`});
  } catch (e) {
    // The tab may be gone already.
  }
  try {
    await api.notifications.create({
      type: "basic",
      iconUrl: api.runtime.getURL("icons/torvo-128.png"),
      title: "Torvo",
      message,
    });
  } catch (e) {
    console.warn("Torvo:", message, e);
  }
}

async function clearNotice(tabId) {
  try {
    await api.action.setBadgeText({tabId, text: ""});
    await api.action.setTitle({tabId, title: text("actionTitle")});
  } catch (e) {
    // The tab may be gone already.
  }
}

// Runs in the page: the selected text, also inside a text box (which the page's selection does
// not include).
function readSelection() {
  const field = document.activeElement;
  try {
    if (field && typeof field.selectionStart === "number" && field.selectionStart !== field.selectionEnd) {
      return field.value.substring(field.selectionStart, field.selectionEnd);
    }
  } catch (e) {
    // Some input kinds have no selection.
  }
  const selection = window.getSelection();
  return selection ? selection.toString() : "";
}

// The note: the selection of the page, else of the first frame that has one. Pages where
// scripts may not run (the browser's store, built-in viewers) simply give no note.
async function selectedText(tabId) {
  try {
    const [top] = await api.scripting.executeScript({target: {tabId}, func: readSelection});
    if (top && typeof top.result === "string" && top.result) return top.result;
  } catch (e) {
    return "";
  }
  try {
    const frames = await api.scripting.executeScript({target: {tabId, allFrames: true}, func: readSelection});
    for (const frame of frames) {
      if (typeof frame.result === "string" && frame.result) return frame.result;
    }
  } catch (e) {
    // Frames of other sites are out of reach.
  }
  return "";
}

// The visible part of the tab as the user sees it, as a PNG data URL, or nothing where the browser
// refuses (pages extensions may not capture, more than two captures a second): TorvoTool then
// captures the screen itself. The browser's picture is the page alone, on every desktop, where
// a screen capture may see another window or, on Wayland, no browser at all.
async function visiblePicture(tab) {
  try {
    // Chromium's default is JPEG, whose blur would go on into the sharpened thumbnail.
    const picture = await api.tabs.captureVisibleTab(tab.windowId, {format: "png"});
    if (typeof picture === "string" && picture.startsWith("data:image/png;base64,")) return picture;
  } catch (e) {
    console.info("Torvo: no picture of the page:", e && e.message ? e.message : e);
  }
  return undefined;
}

// What the host answered, for the user: the translated notice for its code when there is one,
// else the host's own sentence.
function explain(answer) {
  const translated = answer.code ? text(`host_${answer.code}`) : "";
  return translated || answer.message || text("hostFailed", [JSON.stringify(answer)]);
}

async function keepPage(tab) {
  if (!tab || tab.id === undefined) return;
  const {toolbarId} = await api.storage.local.get("toolbarId");
  if (!toolbarId) {
    // The options page says why it opened.
    await api.storage.local.set({optionsNotice: "notConnected"});
    await api.runtime.openOptionsPage();
    return;
  }
  if (!/^https?:\/\//.test(tab.url ?? "")) {
    await notice(tab.id, text("notWebPage"));
    return;
  }
  // The picture first: the page as it was at the press, before anything else runs in it.
  const picture = await visiblePicture(tab);
  const request = {toolbarId, url: tab.url, title: tab.title ?? "", note: await selectedText(tab.id)};
  if (picture) request.picture = picture;
  let answer;
  try {
    answer = await api.runtime.sendNativeMessage(HOST, request);
    // A picture the host will not take (too big, unreadable) need not cost the page: TorvoTool
    // is started without it and captures the screen.
    if (picture && answer && answer.ok !== true && /^picture_/.test(answer.code ?? "")) {
      console.warn("Torvo: the host refused the picture:", answer.message);
      delete request.picture;
      answer = await api.runtime.sendNativeMessage(HOST, request);
    }
  } catch (e) {
    const reason = String(e && e.message ? e.message : e);
    await notice(tab.id, /not found|no such native application/i.test(reason) ? text("hostMissing") : text("hostFailed", [reason]));
    return;
  }
  if (answer && answer.ok === true) {
    await clearNotice(tab.id);
  } else {
    await notice(tab.id, explain(answer ?? {}));
  }
}

api.action.onClicked.addListener((tab) => keepPage(tab).catch((e) => console.error("Torvo:", e)));
