// The options page: the user's identity on the service (the ToolbarID), kept in the extension's
// storage.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;

for (const element of document.querySelectorAll("[data-text]")) {
  element.textContent = api.i18n.getMessage(element.dataset.text) || element.textContent;
}

const field = document.getElementById("toolbarId");
const status = document.getElementById("status");

function show(message, isError) {
  status.textContent = message;
  status.className = isError ? "error" : "";
}

api.storage.local.get("toolbarId").then(({toolbarId}) => {
  field.value = toolbarId ?? "";
  if (!field.value) show(api.i18n.getMessage("identityNeeded"), false);
});

document.getElementById("form").addEventListener("submit", async (event) => {
  event.preventDefault();
  const toolbarId = field.value.trim();
  if (!toolbarId) {
    show(api.i18n.getMessage("identityEmpty"), true);
    return;
  }
  // TorvoTool's command line separates its fields with ";^;".
  if (toolbarId.includes(";^;") || toolbarId.endsWith(";^")) {
    show(api.i18n.getMessage("identitySeparator"), true);
    return;
  }
  await api.storage.local.set({toolbarId});
  field.value = toolbarId;
  show(api.i18n.getMessage("saved"), false);
});
