// The options page: connects the extension to the user's own service. The address, then a name
// and password (or a ToolbarID) go to torvo-toolbar-host, which asks the service and saves the
// connection only when the service accepted it; the page says exactly what the host found.
// A ToolbarID alone, without an address, is kept for the build's own service, as before.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST = "torvo.toolbar";
const text = (name, substitutions) => api.i18n.getMessage(name, substitutions);

for (const element of document.querySelectorAll("[data-text]")) {
  element.textContent = text(element.dataset.text) || element.textContent;
}

const fields = Object.fromEntries(["service", "name", "password", "toolbarId", "certificate"]
  .map((id) => [id, document.getElementById(id)]));
const status = document.getElementById("status");
const connectButton = document.getElementById("connect");

const detail = document.getElementById("detail");

function show(message, isError, details = "") {
  status.textContent = message;
  status.className = isError ? "error" : "ok";
  detail.textContent = details;
}

// The host's answer for the user: its code translated where there is a translation, with the
// host's own sentence (naming the host) below it; else that sentence alone.
function explain(answer) {
  const translated = answer.code ? text(`connect_${answer.code}`) : "";
  return translated ? [translated, answer.message ?? ""] : [answer.message ?? JSON.stringify(answer), ""];
}

async function showCurrent() {
  const stored = await api.storage.local.get(["toolbarId", "service", "name", "folders"]);
  const current = document.getElementById("current");
  current.hidden = !stored.toolbarId;
  if (!stored.toolbarId) return stored;
  document.getElementById("connection").textContent = stored.service
    ? text("connectedTo", [stored.service, stored.name || "—", String(stored.folders ?? 0)])
    : text("identityOnly");
  fields.service.value = stored.service ?? "";
  fields.name.value = stored.name ?? "";
  return stored;
}

async function readCertificate() {
  const file = fields.certificate.files && fields.certificate.files[0];
  if (!file) return "";
  if (file.size > 64 * 1024) throw new Error(text("certificateTooLarge"));
  return await file.text();
}

async function ask(message) {
  try {
    return await api.runtime.sendNativeMessage(HOST, message);
  } catch (e) {
    const reason = String(e && e.message ? e.message : e);
    return {ok: false, code: "", message: /not found|no such native application/i.test(reason) ? text("hostMissing") : text("hostFailed", [reason])};
  }
}

async function connect() {
  const service = fields.service.value.trim();
  const name = fields.name.value.trim();
  const password = fields.password.value;
  const toolbarId = fields.toolbarId.value.trim();
  if (!service) {
    if (!toolbarId) return show(text("serviceEmpty"), true);
    // TorvoTool's command line separates its fields with ";^;".
    if (toolbarId.includes(";^;") || toolbarId.endsWith(";^")) return show(text("identitySeparator"), true);
    await api.storage.local.remove(["service", "name", "folders"]);
    await api.storage.local.set({toolbarId});
    await showCurrent();
    document.getElementById("why").hidden = true;
    return show(text("saved"), false);
  }
  if (!toolbarId && (!name || !password)) return show(text("credentialsEmpty"), true);
  let certificate;
  try {
    certificate = await readCertificate();
  } catch (e) {
    return show(e.message, true);
  }
  const message = {type: "connect", service, device: navigator.userAgent.includes("Firefox") ? "Firefox" : "Chromium"};
  if (toolbarId) message.toolbarId = toolbarId;
  else Object.assign(message, {name, password});
  if (certificate) message.certificate = certificate;
  show(text("connecting"), false);
  connectButton.disabled = true;
  try {
    const answer = await ask(message);
    if (!answer || answer.ok !== true) return show(explain(answer ?? {})[0], true, explain(answer ?? {})[1]);
    await api.storage.local.set({toolbarId: answer.identity, service: answer.service, name: answer.name ?? "",
                                 folders: answer.folders});
    fields.password.value = "";
    fields.toolbarId.value = "";
    await showCurrent();
    show(answer.name ? text("connectedAs", [answer.name, String(answer.folders)])
                     : text("connectedWithId", [String(answer.folders)]), false);
    document.getElementById("why").hidden = true;
  } finally {
    connectButton.disabled = false;
  }
}

async function forget() {
  const stored = await api.storage.local.get(["service"]);
  if (stored.service) {
    const answer = await ask({type: "forget"});
    if (!answer || answer.ok !== true) return show(explain(answer ?? {})[0], true, explain(answer ?? {})[1]);
  }
  await api.storage.local.remove(["toolbarId", "service", "name", "folders"]);
  await showCurrent();
  show(text("forgotten"), false);
}

document.getElementById("form").addEventListener("submit", (event) => {
  event.preventDefault();
  connect().catch((e) => show(String(e), true));
});
document.getElementById("forget").addEventListener("click", () => forget().catch((e) => show(String(e), true)));

// Opened by a press of the button while not connected: say why.
api.storage.local.get(["optionsNotice"]).then(async ({optionsNotice}) => {
  const stored = await showCurrent();
  if (optionsNotice) {
    const why = document.getElementById("why");
    why.textContent = text(optionsNotice);
    why.hidden = false;
    await api.storage.local.remove("optionsNotice");
  } else if (!stored.toolbarId) {
    show(text("identityNeeded"), false);
  }
});
