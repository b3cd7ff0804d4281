// The live page: one self-contained document (no outside scripts, fonts or
// images), served from memory. It draws the map from the map text, follows
// /events (the whole status first, then what changed), and reconnects by
// itself when the server comes back.
#include "web/web.hpp"

const char* const WEB_PAGE = R"PAGE(<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Brastok</title>
<style>
body{margin:0;font:14px/1.35 system-ui,sans-serif;background:#15171c;color:#e6e6e6}
header{display:flex;flex-wrap:wrap;gap:.3em 1.2em;align-items:baseline;padding:.6em 1em;background:#22252d}
header h1{font-size:1.15em;margin:0}
#join{margin-left:auto;color:#8cf;font-weight:600}
#conn{font-size:.85em;color:#9a9}
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
<span id="board"></span><a id="join" href="play">join this match</a>
<span id="conn" class="off">connecting</span></header>
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
let grid = null, bg = null, last = null, px = 10, dpr = 1;

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
  // The cells are drawn once, into a canvas of their own.
  bg = document.createElement("canvas");
  bg.width = cv.width;
  bg.height = cv.height;
  const b = bg.getContext("2d");
  for (let y = 0; y < grid.h; y++) {
    const row = grid.rows[y];
    for (let x = 0; x < grid.w; x++) {
      b.fillStyle = cellColour(row[x] || " ");
      b.fillRect(x * px, y * px, px, px);
    }
  }
  if (last) draw(last);
}
// Map units to canvas pixels: cell 1 is the first column drawn.
function toPx(x, y) { return [(x / CELL - 1) * px, (y / CELL - 1) * px]; }
window.brastokView = {toPx, get cellPx() { return px; }, drawn: slot => drawn.get(slot)};

// Events come a few times a second: each marker glides from where it was
// drawn to where the newest event puts it, over the time between events.
// A jump of more than three cells (a respawn) is not glided.
const from = new Map(), drawn = new Map();
let glideT0 = 0, glideSpan = 500, frame = 0;
function glideTo(s) {
  const now = performance.now();
  glideSpan = Math.min(1000, Math.max(100, now - glideT0));
  glideT0 = now;
  from.clear();
  for (const p of s.slots) {
    const d = drawn.get(p.slot);
    if (d && p.x !== undefined && Math.hypot(d.x - p.x, d.y - p.y) <= 3 * CELL) from.set(p.slot, d);
  }
  if (!frame) frame = requestAnimationFrame(animate);
}
function animate() {
  frame = 0;
  if (!last) return;
  draw(last);
  if (performance.now() - glideT0 < glideSpan) frame = requestAnimationFrame(animate);
}
function placeOf(p, t) {
  const a = from.get(p.slot);
  if (!a) return {x: p.x, y: p.y, dir: p.dir};
  const turn = ((p.dir - a.dir) % 360 + 540) % 360 - 180;
  return {x: a.x + (p.x - a.x) * t, y: a.y + (p.y - a.y) * t, dir: a.dir + turn * t};
}

function cellColour(ch) {
  if (ch >= "A" && ch <= "Z") return "#5b6170";
  if (ch >= "e" && ch <= "z") return "#8a6a45";
  return "#2b2f38";
}
function draw(s) {
  if (!grid || !bg) return;
  g.drawImage(bg, 0, 0);
  for (const it of s.items) {
    if (!it.present) continue;
    const [cx, cy] = toPx(it.x, it.y), r = px * 0.22;
    g.fillStyle = ITEM[it.kind] || "#ccc";
    g.fillRect(cx - r, cy - r, 2 * r, 2 * r);
  }
  g.textAlign = "center";
  g.font = Math.round(Math.max(11 * dpr, px * 0.38)) + "px system-ui,sans-serif";
  const t = Math.min(1, (performance.now() - glideT0) / glideSpan);
  drawn.clear();
  for (const p of s.slots) {
    if (p.state !== "live" && p.state !== "attacking") continue;
    const at = placeOf(p, t);
    drawn.set(p.slot, at);
    const [cx, cy] = toPx(at.x, at.y), a = at.dir * Math.PI / 180, r = px * 0.42;
    g.fillStyle = TEAM[p.team % 4];
    g.beginPath();
    g.moveTo(cx + Math.cos(a) * r, cy + Math.sin(a) * r);
    g.lineTo(cx + Math.cos(a + 2.5) * r * 0.8, cy + Math.sin(a + 2.5) * r * 0.8);
    g.lineTo(cx + Math.cos(a - 2.5) * r * 0.8, cy + Math.sin(a - 2.5) * r * 0.8);
    g.closePath();
    g.fill();
    g.fillStyle = "#fff";
    g.fillText(p.health === undefined ? p.name : p.name + " " + p.health, cx, cy - r - 3);
  }
}
function cellText(tag, text, cls) {
  const e = document.createElement(tag);
  e.textContent = text;
  if (cls) e.className = cls;
  return e;
}
function show(s) {
  // The map text comes with the whole status only: kept as the grid.
  if (s.map.text !== undefined) {
    loadMap(s.map.text);
    delete s.map.text;
  }
  last = s;
  window.brastokView.state = s;
  document.getElementById("name").textContent = s.name;
  document.title = s.name + " - Brastok";
  document.getElementById("map").textContent = s.map.name + " (" + s.map.entry + ")";
  document.getElementById("tick").textContent = s.tick;
  document.getElementById("board").textContent = s.scoreboard ? "score board " + s.scoreboard : "";
  const tb = document.getElementById("score");
  tb.replaceChildren(...s.slots.slice().sort((a, b) => (b.score ?? -1) - (a.score ?? -1)).map(p => {
    const tr = document.createElement("tr"), td = document.createElement("td");
    const sw = cellText("span", "", "sw");
    sw.style.background = TEAM[p.team % 4];
    td.append(sw, p.name + (p.bot ? " (bot)" : "") + (p.state === "spectator" ? " (watching)" : ""));
    tr.append(td, cellText("td", p.score ?? "", "n"), cellText("td", p.health ?? "", "n"),
              cellText("td", p.ping, "n"));
    return tr;
  }));
  document.getElementById("log").replaceChildren(...s.log.slice().reverse().map(l => cellText("li", l)));
  glideTo(s);
  draw(s);
}
// A "delta" event holds what changed since the event before: the changed
// fields of each changed slot (null: no longer shown), the slots gone, the
// moves (slot, x, y, facing: four numbers each), the items whose presence
// changed, the log lines added.
function apply(d) {
  const s = last;
  if (!s) return;
  for (const k of ["name", "settings", "tick", "scoreboard"]) if (k in d) s[k] = d[k];
  if (d.gone) s.slots = s.slots.filter(p => !d.gone.includes(p.slot));
  for (const u of d.slots || []) {
    let p = s.slots.find(q => q.slot === u.slot);
    if (!p) {
      p = {slot: u.slot};
      s.slots.push(p);
      s.slots.sort((a, b) => a.slot - b.slot);
    }
    for (const [k, v] of Object.entries(u)) {
      if (v === null) delete p[k]; else p[k] = v;
    }
  }
  const m = d.moves || [];
  for (let i = 0; i + 3 < m.length; i += 4) {
    const p = s.slots.find(q => q.slot === m[i]);
    if (p) [p.x, p.y, p.dir] = [m[i + 1], m[i + 2], m[i + 3]];
  }
  for (const [i, present] of d.items || []) s.items[i].present = present;
  if (d.log) s.log = s.log.concat(d.log).slice(-20);
  show(s);
}
let es = null;
function connect() {
  es = new EventSource("events");
  const conn = document.getElementById("conn");
  es.onopen = () => { conn.textContent = "live"; conn.className = ""; };
  es.onmessage = ev => show(JSON.parse(ev.data));
  es.addEventListener("delta", ev => apply(JSON.parse(ev.data)));
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
