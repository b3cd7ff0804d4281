// Everything drawn over the view: health, armour, ammunition, the weapon,
// score and ping; the feed of kills, chat and joins; the score board; the
// small map; messages in the middle of the screen. Plain elements whose text
// changes only when its value does, and one small canvas for the map.
(function (B) {
  "use strict";
  const $ = id => document.getElementById(id);
  const TEAMCSS = ["#e5484d", "#3e8ef7", "#46c46e", "#f5c542"];

  function create(art) {
    const shown = {};
    const hud = { TEAMCSS };
    function set(id, text) {
      if (shown[id] === text) return;
      shown[id] = text;
      $(id).textContent = text;
    }
    hud.set = set;

    hud.stats = function (s) {
      set("hp", s.health);
      set("ar", s.armour);
      set("am1", s.ammo1);
      set("am2", s.ammo2);
      set("gun", s.gunName);
      set("score", s.score);
      set("ping", s.ping);
      $("hpbox").classList.toggle("low", s.health > 0 && s.health <= 25);
      const held = $("guns").children;
      for (let i = 0; i < held.length; i++) held[i].classList.toggle("on", i + 1 === s.gun);
    };

    // The feed: the newest lines, each for ten seconds.
    const feed = $("feed");
    hud.feed = function (text, cls) {
      const li = document.createElement("li");
      li.textContent = text;
      if (cls) li.className = cls;
      feed.append(li);
      while (feed.children.length > 6) feed.firstChild.remove();
      setTimeout(() => li.classList.add("old"), 9000);
      setTimeout(() => li.remove(), 10000);
    };

    // rows: [{name, team, score, ping, state, me}], sorted already.
    hud.board = function (show, title, rows, teams) {
      const el = $("board");
      el.hidden = !show;
      if (!show) return;
      const key = title + JSON.stringify(rows) + JSON.stringify(teams);
      if (shown.board === key) return;
      shown.board = key;
      $("boardtitle").textContent = title;
      // Two columns when the list is long, so 24 players fit a short screen.
      const half = rows.length > 12 ? Math.ceil(rows.length / 2) : rows.length;
      const parts = [rows.slice(0, half), rows.slice(half)].filter(p => p.length);
      $("boardrows").replaceChildren(...parts.map(part => {
        const table = document.createElement("table"), head = document.createElement("tr");
        for (const h of ["Player", "Frags", "Ping", "State"]) { const th = document.createElement("th"); th.textContent = h; head.append(th); }
        table.append(head);
        for (const r of part) {
          const tr = document.createElement("tr");
          if (r.me) tr.className = "me";
          const name = document.createElement("td"), sw = document.createElement("span");
          sw.className = "sw";
          sw.style.background = TEAMCSS[r.team & 3];
          name.append(sw, r.name);
          const cell = t => { const td = document.createElement("td"); td.textContent = t; return td; };
          tr.append(name, cell(r.score), cell(r.ping), cell(r.state));
          table.append(tr);
        }
        return table;
      }));
      $("boardteams").textContent = teams || "";
    };

    hud.banner = function (text, sub) {
      set("bannertext", text || "");
      set("bannersub", sub || "");
      $("banner").hidden = !text;
    };

    hud.damage = function (big) {
      const f = $("hurt");
      f.style.transition = "none";
      f.style.opacity = big ? "0.55" : "0.35";
      requestAnimationFrame(() => requestAnimationFrame(() => {
        f.style.transition = "opacity .45s";
        f.style.opacity = "0";
      }));
    };

    // ---- the small map ----

    const mini = $("mini"), mg = mini.getContext("2d");
    let base = null, baseWorld = null, cellPx = 4, ox = 0, oy = 0;
    function drawBase(world) {
      const size = 168;
      const w = Math.max(world.w, 4), h = Math.max(world.h, 4);
      cellPx = Math.max(2, Math.floor(size / Math.max(w, h)));
      mini.width = cellPx * w + 8;
      mini.height = cellPx * h + 8;
      ox = 4 - cellPx; oy = 4 - cellPx;
      base = document.createElement("canvas");
      base.width = mini.width; base.height = mini.height;
      const g = base.getContext("2d");
      g.fillStyle = "rgba(10,12,16,0.72)";
      g.fillRect(0, 0, base.width, base.height);
      const avg = {};
      for (let x = 1; x <= w; x++) for (let y = 1; y <= h; y++) {
        const k = x * 66 + y, c = world.cls[k], ch = world.chars[k];
        if (!c) continue;
        const tex = c === 1 ? art.wall(ch || 66) : art.obstacle(ch);
        const a = avg[ch] || (avg[ch] = art.average(tex));
        g.fillStyle = c === 1 ? "rgb(" + a.map(v => v * 1.2 | 0) + ")" : "rgba(" + a.map(v => v | 0) + ",0.6)";
        g.fillRect(ox + x * cellPx, oy + y * cellPx, cellPx, cellPx);
      }
      baseWorld = world;
    }
    // dots: [{x, y, colour}], me: {x, y, dir} or null.
    hud.mini = function (world, dots, me, items) {
      if (!world) return;
      if (world !== baseWorld) drawBase(world);
      mg.clearRect(0, 0, mini.width, mini.height);
      mg.drawImage(base, 0, 0);
      const k = cellPx / 64;
      for (const it of items) {
        mg.fillStyle = it.kind <= 2 || it.kind === 9 ? "#e0e0e0" : it.kind === 0 || it.kind === 8 ? "#58d0ff" : it.kind <= 4 ? "#e8c860" : "#ff6b6b";
        mg.fillRect(ox + it.x * k - 1, oy + it.y * k - 1, 2, 2);
      }
      for (const d of dots) {
        mg.fillStyle = d.colour;
        mg.beginPath();
        mg.arc(ox + d.x * k, oy + d.y * k, Math.max(2, cellPx * 0.22), 0, 7);
        mg.fill();
      }
      if (me) {
        const x = ox + me.x * k, y = oy + me.y * k, a = me.dir * Math.PI / 180, r = Math.max(5, cellPx * 0.5);
        mg.fillStyle = "#fff";
        mg.beginPath();
        mg.moveTo(x + Math.cos(a) * r, y + Math.sin(a) * r);
        mg.lineTo(x + Math.cos(a + 2.5) * r * 0.7, y + Math.sin(a + 2.5) * r * 0.7);
        mg.lineTo(x + Math.cos(a - 2.5) * r * 0.7, y + Math.sin(a - 2.5) * r * 0.7);
        mg.closePath();
        mg.fill();
      }
    };
    return hud;
  }

  B.hud = { create };
})(globalThis.Brastok = globalThis.Brastok || {});
