#include "service/web/web_assets.h"

namespace torvo::service {

const char* const kStyleSheet = R"css(:root {
  --bg: #fafaf7; --fg: #1d1d1f; --muted: #6b6b70; --line: #e2e2dc; --card: #ffffff;
  --accent: #1f5fbf; --danger: #b3261e; --mark: #8a4b00; --mark-bg: #fff1d6;
  color-scheme: light dark;
}
@media (prefers-color-scheme: dark) {
  :root {
    --bg: #17181a; --fg: #e8e8ea; --muted: #9a9aa2; --line: #2e3034; --card: #202226;
    --accent: #8ab4ff; --danger: #ff8a80; --mark: #ffcc80; --mark-bg: #3a2a10;
  }
}
* { box-sizing: border-box; }
body { margin: 0; background: var(--bg); color: var(--fg);
       font: 16px/1.5 system-ui, "Noto Sans KR", "NanumGothic", "Apple SD Gothic Neo", sans-serif; }
a { color: var(--accent); }
header { display: flex; flex-wrap: wrap; align-items: center; gap: .5rem 1.5rem; padding: .75rem 1rem;
         border-bottom: 1px solid var(--line); background: var(--card); }
header .brand { font-weight: 700; font-size: 1.2rem; text-decoration: none; color: var(--fg); }
header nav { display: flex; flex-wrap: wrap; align-items: center; gap: 1rem; }
header nav form { margin: 0; }
main { max-width: 60rem; margin: 0 auto; padding: 1rem; }
h1 { font-size: 1.4rem; }
button { font: inherit; padding: .35rem .9rem; border: 1px solid var(--line); border-radius: .4rem;
         background: var(--card); color: var(--fg); cursor: pointer; }
button.link { border: none; background: none; padding: 0; color: var(--accent); text-decoration: underline; }
button.danger { color: var(--danger); }
input, textarea, select { font: inherit; padding: .35rem .5rem; border: 1px solid var(--line); border-radius: .4rem;
                          background: var(--card); color: var(--fg); max-width: 100%; }
label { display: block; margin: .75rem 0; }
label input:not([type=checkbox]), label textarea, label select { display: block; width: 100%; margin-top: .25rem; }
label.check input { width: auto; display: inline; }
.search { display: flex; gap: .5rem; margin-bottom: .75rem; }
.search input { flex: 1; min-width: 0; }
nav.folders { display: flex; flex-wrap: wrap; gap: .4rem; margin-bottom: 1rem; }
nav.folders a { padding: .15rem .7rem; border: 1px solid var(--line); border-radius: 1rem; text-decoration: none; }
nav.folders a.current { background: var(--accent); border-color: var(--accent); color: var(--bg); }
ol.entries { list-style: none; margin: 0; padding: 0; }
.entry { display: grid; grid-template-columns: 200px 1fr; gap: 1rem; padding: 1rem 0; border-bottom: 1px solid var(--line); }
.thumb { display: block; max-width: 200px; max-height: 160px; border: 1px solid var(--line); border-radius: .3rem;
         background: var(--card); }
.thumb.none { width: 200px; height: 100px; display: flex; align-items: center; justify-content: center;
              color: var(--muted); font-size: .85rem; }
.entry .text { min-width: 0; }
.entry h2 { margin: 0; font-size: 1.05rem; overflow-wrap: anywhere; }
.address { color: var(--muted); font-size: .85rem; overflow-wrap: anywhere; }
.note { white-space: pre-wrap; overflow-wrap: anywhere; margin: .4rem 0; }
.meta { display: flex; flex-wrap: wrap; gap: .3rem .9rem; color: var(--muted); font-size: .85rem; }
.private { color: var(--mark); background: var(--mark-bg); padding: 0 .4rem; border-radius: .3rem; }
nav.pages { display: flex; justify-content: center; align-items: center; gap: 1.5rem; margin: 1.5rem 0; }
.error { color: var(--danger); }
.hint, .empty { color: var(--muted); }
table.devices { border-collapse: collapse; width: 100%; }
table.devices th, table.devices td { text-align: left; padding: .35rem .3rem; border-bottom: 1px solid var(--line); }
table.devices th { word-break: keep-all; }
table.devices button, table.devices time span { white-space: nowrap; }
table.devices .device-name { overflow-wrap: anywhere; min-width: 5em; }
table.devices form { margin: 0; }
.copyable code { user-select: all; overflow-wrap: anywhere; }
.signin { max-width: 22rem; margin: 3rem auto; }
.folder-list { list-style: none; padding: 0; }
.folder-list li { display: flex; flex-wrap: wrap; gap: .5rem; padding: .4rem 0; border-bottom: 1px solid var(--line); }
.folder-list form { display: flex; gap: .5rem; margin: 0; }
.add-folder { display: flex; gap: .5rem; margin-top: 1rem; }
form.delete { margin-top: 2rem; }
section { margin: 1.5rem 0; }
code { font-size: 1.05rem; padding: .2rem .4rem; background: var(--card); border: 1px solid var(--line);
       border-radius: .3rem; overflow-wrap: anywhere; }
header nav a[aria-current] { font-weight: 700; text-decoration: none; }
.entry .address { display: block; }
ul.wall { list-style: none; margin: 0; padding: 0; display: grid; gap: .6rem;
          grid-template-columns: repeat(auto-fill, minmax(180px, 1fr)); }
ul.wall a { display: block; }
ul.wall img { display: block; width: 100%; aspect-ratio: 4 / 3; object-fit: cover; object-position: left top;
              border: 1px solid var(--line); border-radius: .3rem; background: var(--card); }
.entry-page h1 { overflow-wrap: anywhere; }
.entry-page .meta { margin: .5rem 0 1rem; }
.picture { display: block; max-width: 100%; height: auto; border: 1px solid var(--line); border-radius: .3rem; }
@media (max-width: 600px) {
  ul.wall { grid-template-columns: repeat(2, 1fr); gap: .4rem; }
  main { padding: .6rem; }
  .entry { grid-template-columns: 1fr; gap: .5rem; }
  .thumb { max-width: 100%; }
  .thumb.none { width: 100%; height: 3rem; }
}
)css";

// "/" anywhere but in a field puts the cursor into the search, as on many sites.
const char* const kScript = R"js("use strict";
document.addEventListener("keydown", (event) => {
  if (event.key !== "/" || event.ctrlKey || event.metaKey || event.altKey) return;
  const target = event.target;
  if (target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement ||
      target instanceof HTMLSelectElement || (target && target.isContentEditable)) return;
  const search = document.getElementById("q");
  if (!search) return;
  event.preventDefault();
  search.focus();
  search.select();
});
// A copy button puts its element's text on the clipboard; without the clipboard (plain http on
// another machine) the text is selected for the user to copy.
document.addEventListener("click", (event) => {
  const button = event.target instanceof Element ? event.target.closest("button[data-copy]") : null;
  if (!button) return;
  const source = document.getElementById(button.dataset.copy);
  if (!source) return;
  const done = () => { button.textContent = button.dataset.copied; };
  const select = () => {
    const range = document.createRange();
    range.selectNodeContents(source);
    const selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    if (document.execCommand && document.execCommand("copy")) done();
  };
  if (navigator.clipboard && window.isSecureContext) {
    navigator.clipboard.writeText(source.textContent).then(done, select);
  } else {
    select();
  }
});
)js";

}  // namespace torvo::service
