// The admin page (/admin): one self-contained document, like the live page,
// for the admin API. The token is typed once per browser tab and kept in
// the tab's sessionStorage (gone with the tab); the page follows
// /api/status every second and sends commands to /api/command. Everything
// it shows from the server goes in as text, never as markup.
#include "web/conn.hpp"

void WEB_ADMINPAGE(const WEB_REQ& R, const WEB_PEER& P, WEB_REPLY REPLY) {
  if (!P.TLS && !P.LOOPBACK) {
    // A token typed into a page that came in plain text would leave the
    // same way.
    REPLY(WEB_TEXT(R, http::status::forbidden,
                   WEB_TLSON ? "The admin page is served over https only on this address.\n"
                             : "The admin page is off on this address: the server has no "
                               "certificate (-httpcert, -httpkey). Open it from the server's own "
                               "machine (http://127.0.0.1:PORT/admin).\n"),
          false);
    return;
  }
  WEB_ANSWER A = WEB_TEXT(R, http::status::ok, WEB_ADMINPAGETEXT, "text/html; charset=utf-8");
  // Nothing from anywhere else, no frame around it, no address of it handed
  // on, no copy kept.
  A.set("Content-Security-Policy",
        "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
        "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
  A.set("X-Frame-Options", "DENY");
  A.set("Referrer-Policy", "no-referrer");
  A.set(http::field::cache_control, "no-store");
  REPLY(std::move(A), false);
}

const char* const WEB_ADMINPAGETEXT = R"PAGE(<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Brastok admin</title>
<style>
body{margin:0;font:14px/1.35 system-ui,sans-serif;background:#15171c;color:#e6e6e6}
header{display:flex;flex-wrap:wrap;gap:.3em 1.2em;align-items:baseline;padding:.6em 1em;background:#22252d}
header h1{font-size:1.15em;margin:0}
#who{margin-left:auto;font-size:.9em;color:#9a9}
main{padding:1em;display:grid;gap:1em;grid-template-columns:repeat(auto-fit,minmax(320px,1fr))}
section{background:#1b1e24;padding:.6em .8em;border-radius:4px;min-width:0;overflow-x:auto}
section.wide{grid-column:1/-1}
h2{font-size:1em;margin:.2em 0 .5em}
table{border-collapse:collapse;width:100%}
th,td{padding:.2em .4em;text-align:left;white-space:nowrap}
td.n{text-align:right}
tr:nth-child(even){background:#20242b}
button{font:inherit;background:#2f3540;color:#eee;border:1px solid #48505e;border-radius:3px;padding:.1em .5em;cursor:pointer}
button:disabled{opacity:.4;cursor:default}
input{font:inherit;background:#0f1115;color:#eee;border:1px solid #48505e;border-radius:3px;padding:.15em .4em}
#cmd{width:70%}
pre{background:#0f1115;padding:.5em;min-height:3em;white-space:pre-wrap;overflow-wrap:anywhere;margin:.5em 0 0}
pre.bad{color:#f99}
#login{max-width:28em;margin:3em auto;background:#1b1e24;padding:1em;border-radius:4px}
#login input{width:100%;box-sizing:border-box;margin:.5em 0}
.err{color:#f99}
#log{list-style:none;margin:0;padding:0;font-family:ui-monospace,monospace;font-size:.85em}
#log li{padding:.1em 0;border-bottom:1px solid #262932;overflow-wrap:anywhere}
[hidden]{display:none!important}
</style></head>
<body>
<header><h1 id="name">Brastok admin</h1><span>map <b id="map">-</b></span>
<span id="who"></span><button id="logout" hidden>Log out</button></header>
<div id="login" hidden>
<h2>Admin token</h2>
<p>The token is kept in this browser tab only, until it is closed.</p>
<form id="loginform"><input id="token" type="password" autocomplete="off" placeholder="brastok_..." aria-label="token">
<button id="enter" type="submit">Log in</button></form>
<p id="loginerr" class="err"></p>
</div>
<main id="panel" hidden>
<section class="wide"><h2>Players</h2>
<table><thead><tr><th>Slot</th><th>Name</th><th class="n">Team</th><th>State</th><th class="n">Score</th><th class="n">Ping</th><th>Address</th><th></th></tr></thead>
<tbody id="players"></tbody></table></section>
<section><h2>Command</h2>
<form id="cmdform"><input id="cmd" autocomplete="off" placeholder="say hello" aria-label="command">
<button id="run" type="submit">Run</button></form>
<pre id="answer"></pre></section>
<section><h2>Maps</h2><table><tbody id="maps"></tbody></table></section>
<section><h2>Settings</h2><table><tbody id="settings"></tbody></table></section>
<section><h2>Events</h2><ul id="log"></ul></section>
</main>
<script>
"use strict";
const KEY = "brastokAdminToken";
const $ = id => document.getElementById(id);
let allowed = {}, timer = 0;

function el(tag, text, cls) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (cls) e.className = cls;
  return e;
}
function token() { return sessionStorage.getItem(KEY) || ""; }
function showLogin(why) {
  clearInterval(timer);
  timer = 0;
  $("panel").hidden = true;
  $("logout").hidden = true;
  $("who").textContent = "";
  $("login").hidden = false;
  $("loginerr").textContent = why || "";
  $("token").focus();
}
async function api(path, body) {
  const init = {headers: {"Authorization": "Bearer " + token()}, cache: "no-store"};
  if (body !== undefined) {
    init.method = "POST";
    init.headers["Content-Type"] = "application/json";
    init.body = JSON.stringify(body);
  }
  const r = await fetch(path, init);
  let j = null;
  try { j = await r.json(); } catch (e) { j = {ok: false, lines: [], error: "HTTP " + r.status}; }
  if (r.status === 401 || r.status === 429) {
    sessionStorage.removeItem(KEY);
    showLogin(j.error);
  }
  return {status: r.status, body: j};
}
// A button that runs a command; off when the role may not run it (a
// command the server does not know stays on: its answer says so).
function cmdButton(label, line, off) {
  const b = el("button", label);
  const name = line.split(" ")[0];
  b.disabled = allowed[name] === false || !!off;
  b.dataset.cmd = line;
  b.addEventListener("click", () => run(line));
  return b;
}
async function run(line) {
  const out = $("answer");
  out.textContent = "> " + line + "\n...";
  out.className = "";
  const r = await api("api/command", {command: line});
  const b = r.body || {};
  const lines = (b.lines || []).slice();
  if (!lines.length && b.error) lines.push("error: " + b.error);
  out.textContent = "> " + line + "\n" + (lines.join("\n") || (b.ok ? "ok" : ""));
  out.className = b.ok ? "" : "bad";
  out.dataset.done = String(Date.now());
  refresh();
}
function show(s) {
  $("name").textContent = s.name + " - admin";
  document.title = s.name + " - Brastok admin";
  $("map").textContent = s.map.name + " (" + s.map.entry + ")";
  $("who").textContent = s.you.admin + " (" + s.you.role + ")";
  allowed = {};
  for (const c of s.commands) allowed[c.name] = c.allowed;
  $("players").replaceChildren(...s.slots.map(p => {
    const tr = el("tr");
    tr.dataset.slot = p.slot;
    tr.append(el("td", p.slot, "n"), el("td", p.name + (p.bot ? " (bot)" : "")), el("td", p.team, "n"),
              el("td", p.state), el("td", p.score ?? "", "n"), el("td", p.ping, "n"),
              el("td", p.address || ""));
    const td = el("td");
    // A bot has no address to ban or mute.
    td.append(cmdButton("kick", "kick " + p.slot), " ", cmdButton("ban", "ban " + p.slot, p.bot), " ",
              cmdButton("mute", "mute " + p.slot, p.bot));
    tr.append(td);
    return tr;
  }));
  $("maps").replaceChildren(...s.maps.map(m => {
    const tr = el("tr");
    const td = el("td");
    td.append(cmdButton("play", "map " + m.entry));
    tr.append(el("td", m.entry, "n"), el("td", m.name + (m.entry === s.map.entry ? " (now)" : "")), td);
    return tr;
  }));
  const st = s.settings;
  const rows = [["score limit", st.scorelimit, "score"], ["player limit", st.maxplayers, "maxplayers"],
                ["bots", st.bots, "bots"], ["team play", st.teamplay ? "yes" : "no", null]];
  $("settings").replaceChildren(...rows.map(([label, v, cmd]) => {
    const tr = el("tr");
    tr.append(el("td", label), el("td", v, "n"));
    const td = el("td");
    if (cmd) {
      const i = el("input");
      i.size = 4;
      i.setAttribute("aria-label", label);
      const set = el("button", "set");
      set.disabled = allowed[cmd] === false;
      set.addEventListener("click", () => { if (i.value.trim()) run(cmd + " " + i.value.trim()); });
      td.append(i, " ", set);
    }
    tr.append(td);
    return tr;
  }));
  $("log").replaceChildren(...s.log.slice().reverse().map(l => el("li", l)));
}
async function refresh() {
  if (!token()) return showLogin();
  let r;
  try { r = await api("api/status"); } catch (e) { $("who").textContent = "server unreachable"; return; }
  if (r.status !== 200) {
    if (r.status !== 401 && r.status !== 429) $("who").textContent = (r.body && r.body.error) || "HTTP " + r.status;
    return;
  }
  $("login").hidden = true;
  $("panel").hidden = false;
  $("logout").hidden = false;
  show(r.body);
  if (!timer) timer = setInterval(refresh, 1000);
}
$("loginform").addEventListener("submit", ev => {
  ev.preventDefault();
  const t = $("token").value.trim();
  $("token").value = "";
  if (!t) return;
  sessionStorage.setItem(KEY, t);
  refresh();
});
$("cmdform").addEventListener("submit", ev => {
  ev.preventDefault();
  const line = $("cmd").value.trim();
  if (line) run(line);
});
$("logout").addEventListener("click", () => { sessionStorage.removeItem(KEY); showLogin(); });
refresh();
</script>
</body></html>
)PAGE";
