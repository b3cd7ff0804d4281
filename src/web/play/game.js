// The game: the connection to the server, what its packets say, the one data
// message that answers each state packet, and the frame drawn at the
// display's rate. The WebSocket at /play/ws carries one datagram of the game
// per binary message, both ways.
(function (B) {
  "use strict";
  const P = B.protocol, WD = B.world, PR = B.prediction;
  const $ = id => document.getElementById(id);
  const params = new URLSearchParams(location.search);
  const GUNS = ["-", "Knife", "Pistol", "MP40", "Chaingun", "Rifle"];
  const STATENAMES = ["", "watching", "dead", "alive", "alive"];

  const art = B.art.create();
  const view = $("view"), ctx = view.getContext("2d", { alpha: false });
  const low = document.createElement("canvas"), lowCtx = low.getContext("2d");
  const ren = B.render.create(art);
  const hud = B.hud.create(art);

  const g = {
    name: "", team: 0,
    ws: null, phase: "idle", // idle, opening, connecting, in, failed
    world: null, mapInfo: null,
    names: [], // slot -> {name, team}
    want: "play", // play or watch
    c: null, // what the present connection has been told
    st: null, // the newest state packet
    pred: PR.create(),
    others: {}, corpses: {}, flashUntil: {},
    follow: 0,
    tickMs: 31, lastStateAt: 0, lastHeard: 0,
    chatQueue: [], lastChatAt: -1e9,
    scale: 1, frames: [], intervals: [], lastFrame: 0,
    moving: false, attaSince: 0, lastHealth: 0,
    answerDue: null, answerTimer: 0, lastAnswerAt: -1e9,
  };
  const inp = B.input.create(view, {
    chat: openChat,
    stick: (x, y, on) => {
      const s = $("stick");
      s.hidden = !on;
      if (on) { s.style.left = x + "px"; s.style.top = y + "px"; }
    },
    nextWeapon: () => { const gun = g.st ? g.st.gun : 2; inp.weapon = (gun % 5) + 1; },
  });
  window.brastok = { g, inp, art, ren, stats: () => frameStats() };

  const nameOf = s => (g.names[s] ? g.names[s].name : "");

  // ---- connection ----

  function wsUrl() {
    const path = location.pathname.replace(/\/+$/, "") + "/ws";
    return (location.protocol === "https:" ? "wss://" : "ws://") + location.host + path;
  }

  function start() {
    if (g.ws) { g.ws.onclose = null; g.ws.close(); }
    showOverlay(null);
    hud.banner("Connecting\u2026", "");
    g.phase = "opening";
    const ws = (g.ws = new WebSocket(wsUrl()));
    ws.binaryType = "arraybuffer";
    ws.onopen = () => sendConnect();
    ws.onmessage = (e) => { if (typeof e.data !== "string") onDatagram(new Uint8Array(e.data)); };
    ws.onclose = () => {
      if (g.ws !== ws) return;
      g.ws = null;
      fail(g.phase === "opening" ? "The server cannot be reached." : "The connection to the server was lost.",
        "It may have stopped or restarted.");
    };
  }

  function send(bytes) {
    if (g.ws && g.ws.readyState === 1) g.ws.send(bytes);
  }

  // A connect starts a new connection's account: nothing it was told before
  // holds (a map change frees every slot, and the next one may differ).
  function sendConnect() {
    const now = performance.now();
    if (!g.c || g.phase === "in" || g.phase === "opening") {
      g.c = { connectAt: now, tries: 0, haveMap: false, logHeld: null, toggleAt: null, self: 0, firstTry: now };
    }
    g.c.connectAt = now;
    g.c.tries++;
    g.phase = "connecting";
    g.st = null;
    g.answerDue = null;
    g.others = {}; g.corpses = {};
    g.pred = PR.create();
    send(P.connect(g.name, g.team));
  }

  // Says what went wrong and offers to try again; the socket is done with.
  function fail(text, sub) {
    if (g.ws) { g.ws.onclose = null; g.ws.close(); g.ws = null; }
    g.phase = "failed";
    hud.banner("", "");
    showOverlay("fail", text, sub);
  }

  // Every quarter second: connects unanswered, a server gone quiet, chat due.
  setInterval(() => {
    const now = performance.now();
    if (g.phase === "connecting" && g.c) {
      if (now - g.c.firstTry > 15000) {
        fail("The server does not answer.", "It may be busy, or it may not be a Brastok server.");
      } else if (now - g.c.connectAt > 1500) sendConnect();
    }
    if (g.phase === "in" && now - g.lastHeard > 1200) {
      // A map change frees every slot; with no other human the server then
      // sends nothing at all, so silence means: connect again.
      hud.banner("Joining again\u2026", "The server went quiet (a new map?)");
      g.c = null;
      g.phase = "opening";
      sendConnect();
    }
    if (g.chatQueue.length && g.phase === "in" && now - g.lastChatAt > 1900) {
      send(P.chat(g.chatQueue.shift()));
      g.lastChatAt = now;
    }
  }, 250);

  function onDatagram(d) {
    const m = P.decode(d);
    if (!m) return;
    const now = performance.now();
    switch (m.type) {
      case "state": return onState(m, now);
      case "map": return onMap(m);
      case "log": return onLog(m, now);
      case "nocon":
        // This address holds no slot any more (a new map, a kick, a time-out).
        if (g.c && now - g.c.connectAt > 500) {
          hud.banner("Joining again\u2026", "");
          g.c = null;
          g.phase = "opening";
          sendConnect();
        }
        return;
      case "wver":
        return fail("This server speaks another version of the game.",
          "It speaks protocol version " + m.version + "; this page speaks version " + P.VERSION + ".");
      case "full":
        if (g.phase === "connecting") {
          fail("The server is full.", "All " + P.SLOTS + " places are taken, bots included. Try again in a moment.");
        }
        return;
    }
  }

  function onMap(m) {
    if (!g.world || g.world.text !== m.text) g.world = WD.parse(m.text);
    g.mapInfo = m;
    g.names = [];
    for (const p of m.players) g.names[p.slot] = { name: p.name, team: p.team };
    if (g.c) g.c.haveMap = true;
    document.title = m.mapName + " \u2013 " + m.serverName + " \u2013 Brastok";
  }

  function learnName(slot, team, name) {
    g.names[slot] = { name, team };
  }

  function onLog(l, now) {
    if (!g.c) return;
    const lines = P.newLines(g.c.logHeld, l);
    const ahead = g.c.logHeld === null ? 1 : (l.last - g.c.logHeld) & 0xffff;
    if (ahead > 0 && ahead < 0x8000) g.c.logHeld = l.last;
    const self = g.c.self;
    for (const line of lines) {
      const d = P.describe(line, nameOf, learnName);
      if (!d) continue;
      let cls = "k" + d.kind;
      if (d.kind === P.L_KILL) {
        if (d.victim === self) { cls += " me"; g.killedBy = nameOf(d.killer) || "someone"; }
        if (d.killer === self) { cls += " me"; g.fragged = { name: nameOf(d.victim), until: now + 2500 }; g.kills = (g.kills || 0) + 1; }
      }
      if ((d.kind === P.L_CHAT || d.kind === P.L_CONNECT) && d.slot === self) cls += " me";
      hud.feed(d.text, cls);
      (g.logSeen = g.logSeen || []).push(d);
      if (g.logSeen.length > 200) g.logSeen.shift();
    }
  }

  function onState(s, now) {
    if (!g.c) return;
    if (g.phase !== "in") {
      g.phase = "in";
      hud.banner("", "");
    }
    if (g.lastStateAt) g.tickMs = g.tickMs * 0.9 + Math.min(100, Math.max(10, now - g.lastStateAt)) * 0.1;
    g.lastStateAt = now;
    g.lastHeard = now;
    g.c.self = s.self;
    const prev = g.st;
    g.st = s;
    let me = null;
    const present = new Set();
    for (const p of s.players) {
      present.add(p.slot);
      if (p.slot === s.self) { me = p; continue; }
      if (p.state >= P.PS_LIVE) {
        PR.track(g.others, p.slot, p.x, p.y, p.dir, now);
        delete g.corpses[p.slot];
        if (p.state === P.PS_ATTA && !(g.flashUntil[p.slot] > now - 200)) g.flashUntil[p.slot] = now + 110;
      } else {
        if (p.state === P.PS_DEAD && g.others[p.slot] && !g.corpses[p.slot]) {
          const at = PR.at(g.others, p.slot, now);
          g.corpses[p.slot] = { x: at.x, y: at.y };
        }
        if (p.state === P.PS_SPEC) delete g.corpses[p.slot];
        delete g.others[p.slot];
      }
    }
    for (const k of Object.keys(g.others)) if (!present.has(+k)) delete g.others[k];
    for (const k of Object.keys(g.corpses)) if (!present.has(+k)) delete g.corpses[k];

    const state = me ? me.state : 0;
    const alive = state >= P.PS_LIVE;
    const wasAlive = prev && g.myState >= P.PS_LIVE;
    if (alive) {
      if (!wasAlive || !g.pred.known) PR.snap(g.pred, me.x, me.y, now);
      else PR.reconcile(g.pred, g.world, me.x, me.y, s.tick, me.ping, now);
      if (state === P.PS_ATTA && g.myState !== P.PS_ATTA) g.attaSince = now;
      if (wasAlive && s.health < g.lastHealth) hud.damage(s.health === 0 || g.lastHealth - s.health > 20);
    }
    if (state === P.PS_DEAD && g.myState !== P.PS_DEAD) { g.deadAt = now; hud.damage(true); }
    if (state === P.PS_LIVE && g.myState === P.PS_DEAD) g.killedBy = null;
    g.myState = state;
    g.lastHealth = s.health;
    // States that come bunched (a busy browser, a network hold-up) are
    // answered once, for the newest: the server takes at most 35 data
    // messages in 33 ticks and would drop the surplus, breaking the walk.
    g.answerDue = { s, me };
    const since = now - g.lastAnswerAt;
    if (since >= 12) flushAnswer();
    else if (!g.answerTimer) g.answerTimer = setTimeout(flushAnswer, 12 - since);
  }

  function flushAnswer() {
    g.answerTimer = 0;
    const a = g.answerDue;
    if (!a || !g.c) return;
    g.answerDue = null;
    g.lastAnswerAt = performance.now();
    answer(a.s, a.me, g.lastAnswerAt);
  }

  // The one data message for this state: the step, the facing, one action,
  // the tick echoed and the newest log line held.
  function answer(s, me, now) {
    const c = g.c, state = me ? me.state : 0, alive = state >= P.PS_LIVE;
    let act = P.ACT_NONE;
    if (inp.toggle) {
      inp.toggle = false;
      g.want = state >= P.PS_DEAD ? "watch" : "play";
      c.toggleAt = null;
    }
    if (!c.haveMap) act = P.ACT_MAP;
    else if (s.board === 0) {
      // The toggle flips: ask only while the state differs from the wish,
      // and not again before the server's own wait of 90 ticks is over.
      const differs = (g.want === "play" && state === P.PS_SPEC) || (g.want === "watch" && state >= P.PS_DEAD);
      if (differs && (c.toggleAt === null || ((s.tick - c.toggleAt) & 0xffff) > 91)) {
        act = P.ACT_TOGGLE;
        c.toggleAt = s.tick;
      }
    }
    if (act === P.ACT_NONE && inp.weapon) {
      if (alive) act = inp.weapon;
      inp.weapon = 0;
    }
    const wantsFire = inp.firing() || inp.fireTaps > 0;
    // Players who came while the map information was on its way are named
    // by their connect lines; should one be missed, ask for the list again.
    if (act === P.ACT_NONE && !wantsFire && c.haveMap && now - (c.namesAsked || 0) > 2000 &&
      s.players.some(p => !g.names[p.slot])) {
      act = P.ACT_MAP;
      c.namesAsked = now;
    }
    if (state === P.PS_SPEC && inp.fireTaps > 0) nextFollow();
    if (act === P.ACT_NONE && wantsFire && state >= P.PS_DEAD && !g.chatOpen) act = P.ACT_FIRE;
    inp.fireTaps = 0;

    let mx = g.pred.x, my = g.pred.y;
    g.moving = false;
    if (alive && s.board === 0 && g.world && c.haveMap) {
      const w = g.chatOpen ? { f: 0, s: 0 } : inp.wish();
      const a = (inp.facing * Math.PI) / 180;
      const fx = Math.cos(a) * w.f - Math.sin(a) * w.s, fy = Math.sin(a) * w.f + Math.cos(a) * w.s;
      const r = PR.step(g.pred, g.world, fx, fy, s.tick, now, Math.max(20, Math.min(60, g.tickMs)));
      mx = r.mx; my = r.my;
      g.moving = w.f !== 0 || w.s !== 0;
    }
    send(P.data({
      echo: s.tick, dir: Math.round(inp.facing) % 360, act, mx: mx & 0xffff, my: my & 0xffff,
      ack: c.logHeld === null ? 0 : c.logHeld,
    }));
  }

  // A spectator watches through the eyes of one player after another.
  function nextFollow() {
    const slots = Object.keys(g.others).map(Number).sort((a, b) => a - b);
    if (!slots.length) { g.follow = 0; return; }
    g.follow = slots.find(s => s > g.follow) || slots[0];
  }

  // ---- chat ----

  function openChat() {
    if (g.phase !== "in") return;
    const box = $("chat"), field = $("chatline");
    g.chatOpen = true;
    inp.typing = true;
    box.hidden = false;
    field.value = "";
    if (document.pointerLockElement) document.exitPointerLock();
    field.focus();
  }
  function closeChat(send) {
    const field = $("chatline"), text = field.value.trim();
    $("chat").hidden = true;
    g.chatOpen = false;
    inp.typing = false;
    field.blur();
    if (send && text) g.chatQueue.push(text);
  }
  $("chatline").addEventListener("keydown", (e) => {
    if (e.key === "Enter") { e.preventDefault(); closeChat(true); }
    else if (e.key === "Escape") { e.preventDefault(); closeChat(false); }
    e.stopPropagation();
  });

  // ---- the name form and the failure notice ----

  function showOverlay(kind, text, sub) {
    $("overlay").hidden = !kind;
    $("askname").hidden = kind !== "name";
    $("failed").hidden = kind !== "fail";
    if (kind === "fail") {
      $("failtext").textContent = text;
      $("failsub").textContent = sub || "";
      $("retry").focus();
    }
    if (kind === "name") {
      const f = $("namefield");
      f.value = g.name || (localStorage && localStorage.getItem("brastok.name")) || "";
      f.focus();
    }
  }
  $("askname").addEventListener("submit", (e) => {
    e.preventDefault();
    const name = $("namefield").value.trim();
    if (!name) return;
    g.name = name;
    g.team = +$("teamfield").value | 0;
    try { localStorage.setItem("brastok.name", name); } catch (err) { /* private mode */ }
    start();
  });
  $("retry").addEventListener("click", () => start());
  addEventListener("pagehide", () => { if (g.phase === "in") send(P.disconnect()); });

  // ---- the frame ----

  function frameStats() {
    const med = a => { const s = a.slice().sort((x, y) => x - y); return s.length ? s[s.length >> 1] : 0; };
    return { work: med(g.frames), interval: med(g.intervals), scale: g.scale, w: ren.W, h: ren.H, n: g.frames.length };
  }

  // The drawing resolution: the window's, or less when frames take too long.
  function fit() {
    const cw = Math.max(1, view.clientWidth), ch = Math.max(1, view.clientHeight);
    if (view.width !== cw || view.height !== ch) { view.width = cw; view.height = ch; }
    const rw = Math.max(160, Math.round(cw * g.scale)), rh = Math.max(90, Math.round(ch * g.scale));
    if (ren.W !== rw || ren.H !== rh) {
      const target = rw === cw && rh === ch ? ctx : lowCtx;
      low.width = rw; low.height = rh;
      ren.resize(target, rw, rh);
    }
  }
  const START = Math.min(1, Math.sqrt((1280 * 720) / Math.max(1, innerWidth * innerHeight)));
  g.scale = START;
  let tuneAt = 0;
  // Half a second of frames decides: slower than 13 ms at the median, draw
  // fewer pixels; much faster, draw more again, up to the window's own.
  function tune(now) {
    if (now < tuneAt || g.frames.length < 30) return;
    tuneAt = now + 500;
    const recent = g.frames.slice(-30).sort((a, b) => a - b)[15];
    if (recent > 13 && g.scale > 0.35) g.scale = Math.max(0.35, g.scale * 0.8);
    else if (recent < 6 && g.scale < START) g.scale = Math.min(START, g.scale * 1.12);
  }

  function camera(now) {
    const st = g.st, me = st && st.players.find(p => p.slot === st.self);
    if (me && me.state >= P.PS_DEAD && g.pred.known) {
      const p = PR.shown(g.pred, now);
      const bob = g.moving ? Math.sin(now / 95) * 0.012 : 0;
      return { x: p.x, y: p.y, dir: inp.facing, eye: me.state === P.PS_DEAD ? 0.12 : 0.5 + bob, self: st.self };
    }
    if (me && me.state === P.PS_SPEC) {
      if (!g.others[g.follow]) nextFollow();
      const o = g.follow && PR.at(g.others, g.follow, now);
      if (o) return { x: o.x, y: o.y, dir: o.dir, eye: 0.5, self: g.follow, following: true };
    }
    const w = g.world, sp = w && (w.spawns[0] || { x: w.w * 32 + 32, y: w.h * 32 + 32 });
    return sp ? { x: sp.x, y: sp.y, dir: (now / 80) % 360, eye: 0.5, self: -1 } : null;
  }

  function sprites(cam, now) {
    const out = [], st = g.st, w = g.world;
    if (!st || !w) return out;
    for (const i of st.items) {
      const it = w.items[i - 1];
      if (!it) continue;
      const a = art.items[it.kind];
      out.push({ x: it.x, y: it.y, tex: a.tex, w: a.w, h: a.h, size: 0.34, lift: 0.03 + 0.025 * Math.sin(now / 260 + i), bright: it.kind === 8 });
    }
    for (const k of Object.keys(g.corpses)) {
      const c = g.corpses[k], n = g.names[k], f = art.players[(n ? n.team : 0) & 3].corpse;
      out.push({ x: c.x, y: c.y, tex: f.tex, w: f.w, h: f.h, size: 0.19, lift: 0 });
    }
    for (const k of Object.keys(g.others)) {
      const slot = +k;
      if (slot === cam.self) continue;
      const o = PR.at(g.others, slot, now);
      const n = g.names[slot], team = n ? n.team & 3 : 0;
      const toCam = (Math.atan2(cam.y - o.y, cam.x - o.x) * 180) / Math.PI;
      const rel = o.dir - toCam;
      const frame = ((Math.round(-rel / 45) % 8) + 8) % 8;
      const f = art.players[team].frames[frame][g.flashUntil[slot] > now ? 1 : 0];
      out.push({ x: o.x, y: o.y, tex: f.tex, w: f.w, h: f.h, size: 0.86, lift: 0, label: n ? n.name : "#" + slot, labelColour: hud.TEAMCSS[team] });
    }
    return out;
  }

  function frame(now) {
    requestAnimationFrame(frame);
    if (g.lastFrame) {
      const dt = Math.min(100, now - g.lastFrame);
      inp.facing = (inp.facing + (inp.turnRate() * dt) / 1000 + 360) % 360;
      g.intervals.push(now - g.lastFrame);
      if (g.intervals.length > 600) g.intervals.shift();
    }
    g.lastFrame = now;
    const t0 = performance.now();
    fit();
    const cam = g.world && camera(now);
    if (!cam) {
      ctx.fillStyle = "#0b0c11";
      ctx.fillRect(0, 0, view.width, view.height);
      return;
    }
    ren.draw(g.world, cam, sprites(cam, now));
    const scaled = ren.W !== view.width;
    if (scaled) {
      lowCtx.putImageData(ren.img, 0, 0);
      ctx.imageSmoothingEnabled = false;
      ctx.drawImage(low, 0, 0, view.width, view.height);
    } else ctx.putImageData(ren.img, 0, 0);
    overlay(cam, now);
    g.frames.push(performance.now() - t0);
    if (g.frames.length > 600) g.frames.shift();
    tune(now);
  }

  // Names over heads, the weapon in hand, the HUD.
  function overlay(cam, now) {
    const k = view.width / ren.W, st = g.st;
    ctx.textAlign = "center";
    ctx.font = "bold 13px system-ui, sans-serif";
    // Nearest first; a name that would cover a nearer one is left out.
    const taken = [];
    ren.labels.sort((a, b) => a.d - b.d);
    for (const l of ren.labels) {
      if (l.d > 14) continue;
      const x = l.x * k, y = l.y * k - 6, half = l.text.length * 4 + 4;
      if (taken.some(t => Math.abs(t.x - x) < t.half + half && Math.abs(t.y - y) < 15)) continue;
      taken.push({ x, y, half });
      ctx.fillStyle = "rgba(0,0,0,0.65)";
      ctx.fillText(l.text, x + 1, y + 1);
      ctx.fillStyle = l.colour;
      ctx.fillText(l.text, x, y);
    }
    if (!st) return;
    const me = st.players.find(p => p.slot === st.self);
    const state = me ? me.state : 0;
    if (state >= P.PS_LIVE && st.gun >= 1 && st.gun <= 5) {
      const firing = state === P.PS_ATTA && now - g.attaSince < 90;
      const img = art.weapons[st.gun][firing ? 1 : 0];
      const w = Math.min(view.width * 0.5, view.height * 0.95), h = (w * img.height) / img.width;
      const bx = g.moving ? Math.sin(now / 190) * w * 0.025 : 0, by = g.moving ? Math.abs(Math.cos(now / 190)) * w * 0.02 : 0;
      const kick = state === P.PS_ATTA ? w * 0.03 : 0;
      ctx.drawImage(img, view.width / 2 - w / 2 + bx + w * 0.06, view.height - h + by + kick + 4, w, h);
    }
    const mine = me || { score: 0, ping: 0 };
    hud.stats({
      health: st.health, armour: st.armour, ammo1: st.ammo1, ammo2: st.ammo2,
      gun: st.gun, gunName: GUNS[st.gun] || "-", score: mine.score,
      ping: Math.round(mine.ping * 30) + " ms",
    });
    document.body.classList.toggle("dead", state === P.PS_DEAD);
    document.body.classList.toggle("watching", state === P.PS_SPEC);
    // The middle of the screen.
    if (g.phase === "in") {
      if (st.board > 0) hud.banner("", "");
      else if (state === P.PS_DEAD) {
        const ready = now - (g.deadAt || 0) > 950;
        hud.banner(g.killedBy ? "Fragged by " + g.killedBy : "You died", ready ? "Click or press Space to respawn" : "");
      } else if (state === P.PS_SPEC) {
        const full = g.want === "play" && g.mapInfo && g.c.toggleAt !== null;
        const who = cam.following ? "Watching " + (nameOf(cam.self) || "#" + cam.self) + " \u00b7 click for the next player" : "Watching";
        hud.banner(who, g.want === "play" ? (full ? "The game is full (" + g.mapInfo.maxPlayers + " players); joining when a place frees" : "Joining\u2026") : "Press J to join the game");
      } else if (g.fragged && g.fragged.until > now) hud.banner("You fragged " + g.fragged.name, "");
      else hud.banner("", "");
    }
    // The score board: on Tab, and while the server counts down to the next map.
    const showBoard = inp.scores || st.board > 0;
    if (showBoard) {
      const rows = st.players.map(p => ({
        name: nameOf(p.slot) || "#" + p.slot, team: g.names[p.slot] ? g.names[p.slot].team : 0,
        score: p.state >= P.PS_DEAD ? p.score : "-", ping: p.ping * 30, state: STATENAMES[p.state] || "", me: p.slot === st.self,
        sort: p.state >= P.PS_DEAD ? p.score : -1,
      })).sort((a, b) => b.sort - a.sort || a.name.localeCompare(b.name));
      for (const r of rows) delete r.sort;
      let teams = "";
      if (g.mapInfo && g.mapInfo.teamPlay) {
        const sum = [0, 0, 0, 0];
        for (const p of st.players) if (p.state >= P.PS_DEAD && g.names[p.slot]) sum[g.names[p.slot].team & 3] += p.score;
        teams = sum.map((v, i) => P.TEAMNAMES[i] + " " + v).join(" \u00b7 ");
      }
      const title = st.board > 0 ? "Next map in " + Math.ceil(st.board / 33) + " s" :
        (g.mapInfo ? g.mapInfo.mapName + " \u00b7 first to " + g.mapInfo.scoreLimit : "Scores");
      hud.board(true, title, rows, teams);
    } else hud.board(false);
    const dots = [];
    for (const k of Object.keys(g.others)) {
      const o = PR.at(g.others, +k, now), n = g.names[k];
      dots.push({ x: o.x, y: o.y, colour: hud.TEAMCSS[n ? n.team & 3 : 0] });
    }
    const w = g.world;
    hud.mini(w, dots, cam.self === st.self ? cam : null, st.items.map(i => w.items[i - 1]).filter(Boolean));
  }

  requestAnimationFrame(frame);
  g.name = (params.get("name") || "").trim();
  g.team = (+params.get("team") | 0) & 3;
  if (g.name) start();
  else showOverlay("name");
})(globalThis.Brastok = globalThis.Brastok || {});
