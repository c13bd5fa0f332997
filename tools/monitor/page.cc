#include "monitor/page.h"

namespace qb::monitor {

const char kPageHtml[] = R"(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Quillbox monitor</title>
<link rel="stylesheet" href="/monitor.css">
<script src="/monitor.js" defer></script>
</head>
<body>
<header>
  <h1>Quillbox monitor</h1>
  <span id="connection" class="down">connecting</span>
  <span class="counts">datagrams taken <b id="taken">0</b>, dropped: oversized <b id="oversized">0</b>,
    malformed <b id="malformed">0</b></span>
</header>
<main>
  <section id="viewer">
    <h2>Trace viewer <small id="rect"></small></h2>
    <div class="row">
      <pre id="status0" class="pane status"></pre>
      <pre id="status1" class="pane status"></pre>
      <pre id="status2" class="pane status"></pre>
    </div>
    <pre id="log0" class="pane log"></pre>
    <pre id="log1" class="pane log"></pre>
  </section>
  <section id="logview" hidden>
    <h2 id="logcaption">Log</h2>
    <label><input type="checkbox" checked disabled> Logging</label>
    <pre id="logstatus" class="pane status"></pre>
    <pre id="logpane0" class="pane log"></pre>
    <pre id="logpane1" class="pane log"></pre>
  </section>
  <section id="screen">
    <h2>Display</h2>
    <div id="display"></div>
  </section>
</main>
</body>
</html>
)";

// Every text from the monitor goes in through textContent or a text node, never as markup.
const char kPageScript[] = R"('use strict';
const byId = (id) => document.getElementById(id);
let updates = 0;

function applyPane(element, change) {
  if (!change) return;
  const atEnd = element.scrollTop + element.clientHeight >= element.scrollHeight - 4;
  if (change.reset) element.textContent = change.text;
  else element.append(change.text);
  if (atEnd) element.scrollTop = element.scrollHeight;
}

function number(value, low, high) {
  const n = Number(value);
  return Number.isInteger(n) ? Math.min(Math.max(n, low), high) : low;
}

function drawDisplay(drawings) {
  const items = drawings.map((d) => {
    const text = document.createElement('div');
    text.className = 'drawn';
    text.textContent = d.text;
    const [r, g, b] = d.rgb.map((c) => number(c, 0, 255));
    const [left, top, right, bottom] = d.rect.map((c) => number(c, -100000, 100000));
    text.style.color = `rgb(${r}, ${g}, ${b})`;
    text.style.left = `${left / 2}px`;
    text.style.top = `${top / 2}px`;
    text.style.width = `${Math.max(right - left, 0) / 2}px`;
    text.style.height = `${Math.max(bottom - top, 0) / 2}px`;
    return text;
  });
  byId('display').replaceChildren(...items);
}

function apply(update) {
  for (const [i, text] of Object.entries(update.status || {})) byId('status' + i).textContent = text;
  for (const [i, change] of Object.entries(update.log || {})) applyPane(byId('log' + i), change);
  if ('rect' in update) byId('rect').textContent = update.rect ? 'window at ' + update.rect : '';
  const log = update.logView;
  if (log) {
    byId('logview').hidden = !log.shown;
    byId('logcaption').textContent = log.caption;
    byId('logstatus').textContent = log.status;
    for (const [i, change] of Object.entries(log.log || {})) applyPane(byId('logpane' + i), change);
  }
  if (update.display) drawDisplay(update.display);
  if (update.counts) {
    for (const key of ['taken', 'oversized', 'malformed']) byId(key).textContent = update.counts[key];
  }
  document.body.dataset.updates = ++updates;
}

const source = new EventSource('/events');
source.onopen = () => { byId('connection').textContent = 'live'; byId('connection').className = 'up'; };
source.onerror = () => { byId('connection').textContent = 'reconnecting'; byId('connection').className = 'down'; };
source.onmessage = (event) => apply(JSON.parse(event.data));
)";

const char kPageStyle[] =
    R"(body { font: 13px Tahoma, Verdana, sans-serif; margin: 0; background: #eef0f3; }
header { display: flex; gap: 1.5em; align-items: baseline; padding: 6px 12px; background: #24323f; color: #fff; }
h1 { font-size: 16px; margin: 0; }
h2 { font-size: 14px; margin: 4px 0; }
small { font-weight: normal; color: #555; }
main { display: grid; grid-template-columns: 1fr 1fr; gap: 10px; padding: 10px; }
section { background: #fff; border: 1px solid #c8ccd2; padding: 6px 8px; min-width: 0; }
#screen { grid-column: 1 / 3; }
.row { display: grid; grid-template-columns: repeat(3, 1fr); gap: 6px; }
.pane { font: 11px monospace; border: 1px solid #aab; margin: 4px 0; padding: 3px; overflow: auto;
  white-space: pre-wrap; word-break: break-all; background: #fbfbfd; }
.status { height: 70px; }
.log { height: 180px; }
#display { position: relative; height: 200px; background: #101418; overflow: hidden; }
.drawn { position: absolute; font: 12px Tahoma, sans-serif; overflow: hidden; white-space: pre-wrap; }
.up { color: #7f7; }
.down { color: #f88; }
)";

}  // namespace qb::monitor
