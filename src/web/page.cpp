// The live page: one self-contained document (no outside scripts, fonts or
// images), served from memory. It draws the map from the map text, follows
// /events, and reconnects by itself when the server comes back.
#include "web/web.hpp"

const char* const WEB_PAGE = R"PAGE(<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Brastok</title>
<style>
body{margin:0;font:14px/1.35 system-ui,sans-serif;background:#15171c;color:#e6e6e6}
header{display:flex;flex-wrap:wrap;gap:.3em 1.2em;align-items:baseline;padding:.6em 1em;background:#22252d}
header h1{font-size:1.15em;margin:0}
#conn{margin-left:auto;font-size:.85em;color:#9a9}
#conn.off{color:#e77}
main{display:flex;flex-wrap:wrap;gap:1em;padding:1em}
#view{flex:1 1 420px;max-width:820px}
canvas{max-width:100%;display:block;background:#000}
aside{flex:1 1 260px;min-width:0}
table{border-collapse:collapse;width:100%}
th,td{padding:.2em .4em;text-align:left;white-space:nowrap}
td.n{text-align:right}
tr:nth-child(even){background:#1d2027}
.sw{display:inline-block;width:.8em;height:.8em;border-radius:50%;margin-right:.3em;vertical-align:-.05em}
h2{font-size:1em;margin:1em 0 .3em}
#log{list-style:none;margin:0;padding:0;font-family:ui-monospace,monospace;font-size:.85em}
#log li{padding:.1em 0;border-bottom:1px solid #262932;overflow-wrap:anywhere}
</style></head>
<body>
<header><h1 id="name">Brastok</h1><span>map <b id="map">-</b></span><span>tick <b id="tick">-</b></span>
<span id="board"></span><span id="conn" class="off">connecting</span></header>
<main>
<div id="view"><canvas id="c" width="640" height="640"></canvas></div>
<aside><h2>Score</h2>
<table><thead><tr><th>Player</th><th class="n">Score</th><th class="n">Health</th><th class="n">Ping</th></tr></thead>
<tbody id="score"></tbody></table>
<h2>Events</h2><ul id="log"></ul></aside>
</main>
<script>
"use strict";
const TEAM = ["#e5484d", "#3e8ef7", "#46c46e", "#f5c542"];
const ITEM = {"0":"#ff8c00","1":"#e04040","2":"#e04040","3":"#4aa3ff","4":"#4aa3ff",
              "5":"#c0c0c0","6":"#c0c0c0","7":"#c0c0c0","8":"#c0c0c0","9":"#c0c0c0"};
const CELL = 64;
const cv = document.getElementById("c"), g = cv.getContext("2d");
let grid = null, last = null, px = 10, dpr = 1;

// The grid from the map text: six header characters, then rows ended by CR.
function loadMap(text) {
  const rows = text.slice(6).split("\r").slice(0, 64).map(r => r.slice(0, 64));
  const w = Math.max(1, ...rows.map(r => r.length)), h = Math.max(1, rows.length);
  grid = {rows, w, h};
  resize();
}
function resize() {
  if (!grid) return;
  // The whole map in sight: as wide as its column, as high as the window.
  const wide = cv.parentElement.clientWidth || 640;
  const high = Math.max(200, window.innerHeight - cv.getBoundingClientRect().top - 16);
  dpr = window.devicePixelRatio || 1;
  const css = Math.max(4, Math.floor(Math.min(wide / grid.w, high / grid.h)));
  px = Math.round(css * dpr);
  cv.width = px * grid.w;
  cv.height = px * grid.h;
  cv.style.width = css * grid.w + "px";
  if (last) draw(last);
}
// Map units to canvas pixels: cell 1 is the first column drawn.
function toPx(x, y) { return [(x / CELL - 1) * px, (y / CELL - 1) * px]; }
window.brastokView = {toPx, get cellPx() { return px; }};

function cellColour(ch) {
  if (ch >= "A" && ch <= "Z") return "#5b6170";
  if (ch >= "e" && ch <= "z") return "#8a6a45";
  return "#2b2f38";
}
function draw(s) {
  if (!grid) return;
  for (let y = 0; y < grid.h; y++) {
    const row = grid.rows[y];
    for (let x = 0; x < grid.w; x++) {
      g.fillStyle = cellColour(row[x] || " ");
      g.fillRect(x * px, y * px, px, px);
    }
  }
  for (const it of s.items) {
    if (!it.present) continue;
    const [cx, cy] = toPx(it.x, it.y), r = px * 0.22;
    g.fillStyle = ITEM[it.kind] || "#ccc";
    g.fillRect(cx - r, cy - r, 2 * r, 2 * r);
  }
  g.textAlign = "center";
  g.font = Math.round(Math.max(11 * dpr, px * 0.38)) + "px system-ui,sans-serif";
  for (const p of s.slots) {
    if (p.state !== "live" && p.state !== "attacking") continue;
    const [cx, cy] = toPx(p.x, p.y), a = p.dir * Math.PI / 180, r = px * 0.42;
    g.fillStyle = TEAM[p.team % 4];
    g.beginPath();
    g.moveTo(cx + Math.cos(a) * r, cy + Math.sin(a) * r);
    g.lineTo(cx + Math.cos(a + 2.5) * r * 0.8, cy + Math.sin(a + 2.5) * r * 0.8);
    g.lineTo(cx + Math.cos(a - 2.5) * r * 0.8, cy + Math.sin(a - 2.5) * r * 0.8);
    g.closePath();
    g.fill();
    g.fillStyle = "#fff";
    g.fillText(p.name + " " + p.health, cx, cy - r - 3);
  }
}
function cellText(tag, text, cls) {
  const e = document.createElement(tag);
  e.textContent = text;
  if (cls) e.className = cls;
  return e;
}
function show(s) {
  if (s.map.text !== undefined) loadMap(s.map.text);
  last = s;
  window.brastokView.state = s;
  document.getElementById("name").textContent = s.name;
  document.title = s.name + " - Brastok";
  document.getElementById("map").textContent = s.map.name + " (" + s.map.entry + ")";
  document.getElementById("tick").textContent = s.tick;
  document.getElementById("board").textContent = s.scoreboard ? "score board " + s.scoreboard : "";
  const tb = document.getElementById("score");
  tb.replaceChildren(...s.slots.slice().sort((a, b) => b.score - a.score).map(p => {
    const tr = document.createElement("tr"), td = document.createElement("td");
    const sw = cellText("span", "", "sw");
    sw.style.background = TEAM[p.team % 4];
    td.append(sw, p.name + (p.bot ? " (bot)" : "") + (p.state === "spectator" ? " (watching)" : ""));
    tr.append(td, cellText("td", p.score, "n"), cellText("td", p.health, "n"), cellText("td", p.ping, "n"));
    return tr;
  }));
  document.getElementById("log").replaceChildren(...s.log.slice().reverse().map(l => cellText("li", l)));
  draw(s);
}
let es = null;
function connect() {
  es = new EventSource("events");
  const conn = document.getElementById("conn");
  es.onopen = () => { conn.textContent = "live"; conn.className = ""; };
  es.onmessage = ev => show(JSON.parse(ev.data));
  es.onerror = () => {
    conn.textContent = "reconnecting";
    conn.className = "off";
    // The browser retries by itself unless the server refused the stream.
    if (es.readyState === EventSource.CLOSED) setTimeout(connect, 2000);
  };
}
window.addEventListener("resize", resize);
connect();
</script>
</body></html>
)PAGE";
