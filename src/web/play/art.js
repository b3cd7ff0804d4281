// Every picture the page shows is made here, by code, when the page starts:
// a texture of its own for each wall letter A to Z and each obstacle letter
// e to z (obstacles are grates, fences and meshes, see-through where they
// have holes), floor and ceiling, the items, the players from eight sides
// with and without a muzzle flash, and the weapons in hand.
(function (B) {
  "use strict";
  const T = 64; // texture side

  function rng(seed) {
    let a = seed >>> 0;
    return function () {
      a = (a + 0x6d2b79f5) >>> 0;
      let t = a;
      t = Math.imul(t ^ (t >>> 15), t | 1);
      t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
      return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
    };
  }
  function hsl(h, s, l) {
    h = ((h % 360) + 360) % 360 / 360;
    const f = n => {
      const k = (n + h * 12) % 12, a = s * Math.min(l, 1 - l);
      return Math.round(255 * (l - a * Math.max(-1, Math.min(k - 3, 9 - k, 1))));
    };
    return [f(0), f(8), f(4)];
  }
  const clamp = v => (v < 0 ? 0 : v > 255 ? 255 : v | 0);
  const pack = (r, g, b, a = 255) => ((a << 24) | (clamp(b) << 16) | (clamp(g) << 8) | clamp(r)) >>> 0;
  // Smooth value noise on a wrapping grid of n cells, 0 to 1.
  function noise(seed, n) {
    const r = rng(seed), g = new Float32Array(n * n);
    for (let i = 0; i < g.length; i++) g[i] = r();
    return function (x, y) {
      const fx = (x / T) * n, fy = (y / T) * n;
      const x0 = Math.floor(fx), y0 = Math.floor(fy), tx = fx - x0, ty = fy - y0;
      const v = (a, b) => g[((a % n) + n) % n * n + ((b % n) + n) % n];
      const sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
      const top = v(x0, y0) + (v(x0 + 1, y0) - v(x0, y0)) * sx;
      const bot = v(x0, y0 + 1) + (v(x0 + 1, y0 + 1) - v(x0, y0 + 1)) * sx;
      return top + (bot - top) * sy;
    };
  }
  // A texture from a function of (x, y) giving [r, g, b] or null (a hole),
  // stored column by column, as the renderer reads walls.
  function make(fn) {
    const t = new Uint32Array(T * T);
    for (let x = 0; x < T; x++) {
      for (let y = 0; y < T; y++) {
        const c = fn(x, y);
        t[x * T + y] = c ? pack(c[0], c[1], c[2]) : 0;
      }
    }
    return t;
  }
  const shade = (c, k) => [c[0] * k, c[1] * k, c[2] * k];

  // ---- walls ----

  const WALLSTYLES = [
    // bricks
    (c, r, n) => {
      const tones = [];
      for (let i = 0; i < 64; i++) tones.push(0.78 + r() * 0.36);
      return (x, y) => {
        const row = y >> 3, off = row & 1 ? 8 : 0, col = ((x + off) >> 4) & 3;
        const mortar = (y & 7) === 7 || ((x + off) & 15) === 15;
        const k = n(x, y) * 0.25 + 0.85;
        if (mortar) return shade([168, 160, 150], k * 0.8);
        const edge = (y & 7) === 0 ? 1.12 : 1;
        return shade(c, tones[row * 4 + col] * k * edge);
      };
    },
    // stone blocks with bevels
    (c, r, n) => (x, y) => {
      const row = (y / 21) | 0, off = row & 1 ? 16 : 0, bx = (x + off) & 31, by = y - row * 21;
      const k = 0.8 + n(x, y) * 0.4;
      if (bx === 0 || by === 0) return shade(c, 0.45 * k);
      if (bx === 1 || by === 1) return shade(c, 1.3 * k);
      if (bx === 31 || by === 20) return shade(c, 0.65 * k);
      return shade(c, k);
    },
    // metal panels with rivets
    (c, r, n) => (x, y) => {
      const px = x & 31, py = y & 31, k = 0.85 + n(x, y) * 0.2 + (py / 32) * 0.1;
      if (px === 0 || py === 0) return shade(c, 0.4);
      if (px === 1 || py === 1) return shade(c, 1.35);
      const rv = (px === 4 || px === 27) && (py === 4 || py === 27);
      if (rv) return shade(c, 1.6);
      if ((px === 5 || px === 28) && (py === 5 || py === 28)) return shade(c, 0.5);
      const scratch = ((x * 7 + y * 3) % 61 === 0) ? 1.25 : 1;
      return shade(c, k * scratch);
    },
    // wooden planks
    (c, r, n) => {
      const shift = [];
      for (let i = 0; i < 8; i++) shift.push(r() * 40);
      return (x, y) => {
        const p = (x / 11) | 0, px = x - p * 11;
        if (px === 0) return shade(c, 0.35);
        const grain = Math.sin((y + shift[p % 8]) * 0.45 + n(x, y) * 6) * 0.12;
        const knot = n(x * 2, y * 2) > 0.93 ? 0.7 : 1;
        return shade(c, (0.85 + grain + (px === 1 ? 0.2 : 0)) * knot);
      };
    },
    // tech panels with a light strip
    (c, r, n) => {
      const glow = hsl(r() * 360, 0.9, 0.6);
      return (x, y) => {
        const k = 0.7 + n(x, y) * 0.15;
        if (y >= 28 && y <= 35) {
          if (y === 28 || y === 35) return shade(c, 0.3);
          return (x >> 2) & 1 ? glow : shade(glow, 0.7);
        }
        if ((x & 15) === 0 || y === 0 || y === 63) return shade(c, 0.35);
        if (y > 42 && y < 58 && (y & 3) === 0 && (x & 15) > 3 && (x & 15) < 13) return shade(c, 0.3);
        return shade(c, k);
      };
    },
    // cobbles: stones around random centres, dark between them
    (c, r, n) => {
      const pts = [];
      for (let i = 0; i < 14; i++) pts.push([r() * T, r() * T, 0.75 + r() * 0.45]);
      return (x, y) => {
        let d1 = 1e9, d2 = 1e9, k = 1;
        for (const p of pts) {
          for (let ox = -T; ox <= T; ox += T) {
            for (let oy = -T; oy <= T; oy += T) {
              const d = (x - p[0] - ox) ** 2 + (y - p[1] - oy) ** 2;
              if (d < d1) { d2 = d1; d1 = d; k = p[2]; } else if (d < d2) d2 = d;
            }
          }
        }
        const gap = Math.sqrt(d2) - Math.sqrt(d1);
        if (gap < 1.6) return shade(c, 0.3);
        return shade(c, k * (0.85 + n(x, y) * 0.3) * (gap < 3 ? 0.8 : 1));
      };
    },
  ];
  const WALLSAT = [0.5, 0.12, 0.18, 0.45, 0.25, 0.2];
  const WALLLUM = [0.42, 0.5, 0.5, 0.4, 0.34, 0.46];

  function wallTexture(letter) {
    const i = letter.charCodeAt(0) - 65, style = i % 6, r = rng(1000 + i * 7919);
    let hue = (i * 137.5) % 360;
    if (style === 3) hue = 22 + (i * 9) % 22; // wood stays wood-coloured
    const c = hsl(hue, WALLSAT[style], WALLLUM[style] + ((i / 6) | 0) * 0.02);
    return make(WALLSTYLES[style](c, r, noise(i * 31 + 5, 8)));
  }

  // ---- obstacles: see-through ----

  const OBSTYLES = [
    // bars between two rails
    c => (x, y) => {
      if (y < 4 || y > 59) return y === 0 || y === 63 ? shade(c, 0.4) : c;
      const bx = x % 10;
      if (bx >= 3 && bx <= 6) return shade(c, bx === 4 ? 1.35 : bx === 6 ? 0.6 : 1);
      return null;
    },
    // chain-link mesh in a frame
    c => (x, y) => {
      if (x < 2 || x > 61 || y < 2 || y > 61) return shade(c, 0.7);
      const a = (x + y) % 8, b = (x - y + 64) % 8;
      if (a === 0 || b === 0) return shade(c, a === 0 && b === 0 ? 1.3 : 1);
      return null;
    },
    // a wooden fence: posts and three rails
    c => (x, y) => {
      const post = x < 6 || x > 57;
      const rail = (y > 8 && y < 16) || (y > 28 && y < 36) || (y > 48 && y < 56);
      if (post) return shade(c, x === 0 || x === 63 ? 0.5 : 0.9 + ((x * 5) % 3) * 0.05);
      if (rail) return shade(c, y === 9 || y === 29 || y === 49 ? 1.25 : 0.8);
      return null;
    },
    // a lattice of thick struts
    c => (x, y) => {
      const gx = x % 16, gy = y % 16;
      if (gx < 3 || gy < 3) return shade(c, gx === 1 || gy === 1 ? 1.3 : 0.85);
      return null;
    },
    // an energy fence: posts and glowing beams
    c => (x, y) => {
      if (x < 5 || x > 58) return shade([120, 124, 132], x === 2 || x === 61 ? 1.3 : 0.8);
      const by = y % 12;
      if (by === 5) return [255, 255, 255].map((v, i) => v * 0.5 + c[i] * 0.5);
      if (by === 4 || by === 6) return c;
      return null;
    },
  ];
  function obstacleTexture(letter) {
    const j = letter.charCodeAt(0) - 101, style = j % 5;
    const hue = (j * 97 + 20) % 360;
    const c = style === 2 ? hsl(25 + (j % 4) * 5, 0.5, 0.38) : style === 4 ? hsl(hue, 1, 0.55) : hsl(hue, 0.35, 0.55);
    return make(OBSTYLES[style](c));
  }

  // ---- floor and ceiling (row by row) ----

  function rowMajor(fn) {
    const t = new Uint32Array(T * T);
    for (let y = 0; y < T; y++) for (let x = 0; x < T; x++) { const c = fn(x, y); t[y * T + x] = pack(c[0], c[1], c[2]); }
    return t;
  }
  function floorTexture(variant) {
    const n = noise(77 + variant, 8), n2 = noise(99 + variant, 32);
    const base = variant ? [96, 90, 82] : [84, 80, 76];
    return rowMajor((x, y) => {
      const tx = x & 31, ty = y & 31;
      const k = 0.8 + n(x, y) * 0.25 + n2(x, y) * 0.12;
      if (tx === 0 || ty === 0) return shade(base, 0.45);
      if (tx === 1 || ty === 1) return shade(base, 1.15 * k);
      return shade(base, k);
    });
  }
  function ceilingTexture() {
    const n = noise(5, 8);
    const base = [58, 62, 72];
    return rowMajor((x, y) => {
      const k = 0.8 + n(x, y) * 0.2;
      if (x === 0 || y === 0) return shade(base, 0.4);
      if (x > 24 && x < 40 && y > 24 && y < 40) return x === 25 || y === 25 ? [120, 120, 110] : [235, 228, 190];
      return shade(base, k);
    });
  }

  // ---- sprites drawn with a 2D context ----

  function canvas(w, h) {
    const c = document.createElement("canvas");
    c.width = w; c.height = h;
    return c;
  }
  // A sprite texture (column-major, alpha 0 = see-through) from a drawing.
  // Drawn at twice the size given, so that a player up close stays sharp.
  function sprite(w0, h0, draw) {
    const w = w0 * 2, h = h0 * 2, c = canvas(w, h), g = c.getContext("2d");
    g.scale(2, 2);
    draw(g, w0, h0);
    const px = new Uint32Array(g.getImageData(0, 0, w, h).data.buffer);
    const t = new Uint32Array(w * h);
    for (let x = 0; x < w; x++) for (let y = 0; y < h; y++) {
      const v = px[y * w + x];
      t[x * h + y] = (v >>> 24) > 100 ? (v | 0xff000000) >>> 0 : 0;
    }
    return { tex: t, w, h };
  }
  function rrect(g, x, y, w, h, r) {
    g.beginPath();
    g.moveTo(x + r, y); g.arcTo(x + w, y, x + w, y + h, r); g.arcTo(x + w, y + h, x, y + h, r);
    g.arcTo(x, y + h, x, y, r); g.arcTo(x, y, x + w, y, r); g.closePath();
  }
  function gun(g, x, y, len, long, barrels) {
    g.fillStyle = "#2a2c30";
    g.fillRect(x, y, len, long ? 3 : 5);
    g.fillStyle = "#5b4030";
    g.fillRect(x - 8, y, 10, 6);
    g.fillStyle = "#1c1d20";
    g.fillRect(x + len * 0.35, y + 4, 4, 8);
    for (let i = 1; i < barrels; i++) g.fillRect(x + 6, y - 2 * i, len - 6, 2);
    if (long) { g.fillStyle = "#111"; g.fillRect(x + len * 0.3, y - 4, len * 0.3, 3); }
  }
  const ITEMDRAW = [
    // 0 armour: a vest
    (g) => {
      g.fillStyle = "#2f8f4e"; rrect(g, 8, 10, 32, 30, 6); g.fill();
      g.fillStyle = "#1f6b38"; g.fillRect(20, 10, 8, 30);
      g.fillStyle = "#8fe0a8"; g.fillRect(11, 14, 6, 3); g.fillRect(31, 14, 6, 3);
      g.strokeStyle = "#0f3d1f"; g.lineWidth = 2; rrect(g, 8, 10, 32, 30, 6); g.stroke();
    },
    (g) => gun(g, 10, 26, 30, false, 1), // 1 mp40
    (g) => gun(g, 8, 28, 34, false, 3), // 2 chaingun
    // 3 a clip
    (g) => { g.fillStyle = "#b8902c"; g.fillRect(18, 24, 12, 18); g.fillStyle = "#e8c860"; g.fillRect(19, 20, 10, 5); },
    // 4 an ammunition box
    (g) => {
      g.fillStyle = "#4d5a2c"; g.fillRect(8, 22, 32, 20); g.fillStyle = "#6f8040"; g.fillRect(8, 22, 32, 5);
      g.fillStyle = "#e8c860"; for (let i = 0; i < 5; i++) g.fillRect(11 + i * 6, 16, 3, 7);
    },
    // 5 6 7 health, small to large
    (g) => medkit(g, 14),
    (g) => medkit(g, 20),
    (g) => medkit(g, 28),
    // 8 the big one: a glowing sphere
    (g) => {
      const r = g.createRadialGradient(24, 24, 2, 24, 24, 20);
      r.addColorStop(0, "#ffffff"); r.addColorStop(0.4, "#8ad8ff"); r.addColorStop(1, "#2050c0");
      g.fillStyle = r; g.beginPath(); g.arc(24, 24, 19, 0, 7); g.fill();
      g.fillStyle = "#e53040"; g.fillRect(21, 14, 6, 20); g.fillRect(14, 21, 20, 6);
    },
    (g) => gun(g, 6, 28, 38, true, 1), // 9 rifle
  ];
  function medkit(g, s) {
    const o = 24 - s / 2;
    g.fillStyle = "#eeeeee"; rrect(g, o, 44 - s, s, s, 3); g.fill();
    g.fillStyle = "#d42a2a";
    g.fillRect(o + s * 0.4, 44 - s + s * 0.15, s * 0.2, s * 0.7);
    g.fillRect(o + s * 0.15, 44 - s + s * 0.4, s * 0.7, s * 0.2);
  }
  function items() {
    return ITEMDRAW.map(d => sprite(48, 48, d));
  }

  // ---- players ----

  const TEAMCOLOURS = [[229, 72, 77], [62, 142, 247], [70, 196, 110], [245, 197, 66]];
  const css = (c, k = 1) => "rgb(" + shade(c, k).map(clamp).join(",") + ")";

  // A soldier seen from angle a (0: he faces the viewer; 90: he faces to
  // the viewer's right), in the team's colour, optionally firing.
  function soldier(team, a, flash) {
    const c = TEAMCOLOURS[team & 3];
    return sprite(64, 64, (g) => {
      const s = Math.sin(a * Math.PI / 180), co = Math.cos(a * Math.PI / 180);
      const wide = 0.55 + 0.45 * Math.abs(co);
      const cx = 32;
      // legs
      g.fillStyle = css(c, 0.45);
      g.fillRect(cx - 9 * wide, 40, 7 * wide, 22);
      g.fillRect(cx + 2 * wide, 40, 7 * wide, 22);
      g.fillStyle = "#222"; g.fillRect(cx - 10 * wide, 60, 9 * wide, 4); g.fillRect(cx + 1 * wide, 60, 9 * wide, 4);
      // gun behind the body when he faces away
      const gx = cx + s * 14, gunBehind = co < -0.2;
      const drawGun = () => {
        g.fillStyle = "#1e1f22";
        const len = 6 + 16 * Math.abs(s);
        const x0 = s >= 0 ? gx - 4 : gx - len + 4;
        g.fillRect(x0, 28, len, 5);
        g.fillStyle = "#5b4030"; g.fillRect(s >= 0 ? x0 - 3 : x0 + len - 2, 29, 5, 7);
        if (flash) {
          const fx = s >= 0 ? x0 + len : x0;
          const r = g.createRadialGradient(fx, 30, 1, fx, 30, 11);
          r.addColorStop(0, "rgba(255,255,230,1)"); r.addColorStop(0.5, "rgba(255,200,60,1)"); r.addColorStop(1, "rgba(255,120,0,0)");
          g.fillStyle = r; g.beginPath(); g.arc(fx, 30, 11, 0, 7); g.fill();
        }
      };
      if (gunBehind) drawGun();
      // body
      g.fillStyle = css(c);
      rrect(g, cx - 12 * wide, 18, 24 * wide, 24, 4); g.fill();
      g.fillStyle = css(c, 0.7);
      g.fillRect(cx - 12 * wide, 36, 24 * wide, 4);
      if (co > 0.3) { g.fillStyle = css(c, 1.3); g.fillRect(cx - 2, 20, 4, 14); }
      // arms
      g.fillStyle = css(c, 0.85);
      g.fillRect(cx - 15 * wide, 20, 4, 16);
      g.fillRect(cx + 15 * wide - 4, 20, 4, 16);
      // head and helmet
      g.fillStyle = "#d9a77c"; g.beginPath(); g.arc(cx + s * 2, 11, 7, 0, 7); g.fill();
      g.fillStyle = css(c, 0.55); g.beginPath(); g.arc(cx + s * 2, 9, 8, Math.PI, 0); g.fill();
      g.fillRect(cx + s * 2 - 8, 8, 16, 2);
      if (co > -0.1) {
        // eyes look where he faces
        g.fillStyle = "#222";
        const ex = cx + s * 5;
        if (co > 0.5) { g.fillRect(ex - 4, 11, 2, 2); g.fillRect(ex + 2, 11, 2, 2); }
        else g.fillRect(ex + (s > 0 ? 1 : -3), 11, 2, 2);
      } else {
        g.fillStyle = css(c, 0.55); g.beginPath(); g.arc(cx + s * 2, 11, 7.5, 0, 7); g.fill();
      }
      if (!gunBehind) drawGun();
    });
  }
  function corpse(team) {
    const c = TEAMCOLOURS[team & 3];
    return sprite(64, 24, (g) => {
      g.fillStyle = "rgba(110,10,10,0.9)"; g.beginPath(); g.ellipse(34, 19, 26, 5, 0, 0, 7); g.fill();
      g.fillStyle = css(c, 0.45); g.fillRect(38, 11, 20, 8);
      g.fillStyle = css(c); rrect(g, 14, 9, 28, 11, 3); g.fill();
      g.fillStyle = "#d9a77c"; g.beginPath(); g.arc(10, 14, 6, 0, 7); g.fill();
      g.fillStyle = css(c, 0.55); g.beginPath(); g.arc(8, 13, 6, Math.PI * 0.6, Math.PI * 1.6); g.fill();
    });
  }
  function players() {
    const out = [];
    for (let t = 0; t < 4; t++) {
      const frames = [];
      for (let k = 0; k < 8; k++) frames.push([soldier(t, k * 45, false), soldier(t, k * 45, true)]);
      out.push({ frames, corpse: corpse(t) });
    }
    return out;
  }

  // ---- the weapon in hand ----

  // Drawn once per weapon into a canvas of 320 by 200: the gun seen from
  // behind, reaching up toward the middle of the view, the hands holding
  // it, and the same with a muzzle flash.
  function viewWeapon(n, flash) {
    const c = canvas(320, 200), g = c.getContext("2d");
    // A piece that narrows with distance, lit from the upper left.
    const beam = (xb, yb, wb, xt, yt, wt, dark, light) => {
      const gr = g.createLinearGradient(xb - wb / 2, 0, xb + wb / 2, 0);
      gr.addColorStop(0, dark); gr.addColorStop(0.35, light); gr.addColorStop(1, dark);
      g.fillStyle = gr;
      g.beginPath();
      g.moveTo(xb - wb / 2, yb); g.lineTo(xt - wt / 2, yt); g.lineTo(xt + wt / 2, yt); g.lineTo(xb + wb / 2, yb);
      g.closePath(); g.fill();
    };
    const flashAt = (x, y, r) => {
      if (!flash) return;
      const gr = g.createRadialGradient(x, y, 2, x, y, r);
      gr.addColorStop(0, "rgba(255,255,240,1)"); gr.addColorStop(0.3, "rgba(255,220,90,0.95)"); gr.addColorStop(1, "rgba(255,110,0,0)");
      g.fillStyle = gr; g.beginPath(); g.arc(x, y, r, 0, 7); g.fill();
      g.strokeStyle = "rgba(255,240,170,0.9)"; g.lineWidth = 3;
      for (let k = 0; k < 6; k++) {
        const a = k * 1.047 + 0.3;
        g.beginPath(); g.moveTo(x + Math.cos(a) * r * 0.25, y + Math.sin(a) * r * 0.25);
        g.lineTo(x + Math.cos(a) * r * 0.95, y + Math.sin(a) * r * 0.95); g.stroke();
      }
    };
    // A hand coming from below with its sleeve.
    const hand = (x, y, w, tilt) => {
      beam(x + tilt, 205, w * 1.25, x, y + 26, w * 1.05, "#1f2a1e", "#4d5f49");
      const gr = g.createLinearGradient(x - w / 2, 0, x + w / 2, 0);
      gr.addColorStop(0, "#8a5a40"); gr.addColorStop(0.4, "#d9a27c"); gr.addColorStop(1, "#9a664a");
      g.fillStyle = gr; rrect(g, x - w / 2, y, w, 38, 12); g.fill();
      g.strokeStyle = "rgba(90,50,30,0.6)"; g.lineWidth = 1.5;
      for (let k = 1; k < 4; k++) { g.beginPath(); g.moveTo(x - w / 2 + 4, y + k * 9); g.lineTo(x + w / 2 - 6, y + k * 9 - 2); g.stroke(); }
    };
    const steelD = "#16181c", steelL = "#6a717b", woodD = "#3e2716", woodL = "#9a6a40";
    if (n === 1) {
      // knife, held low and pointing ahead
      if (flash) { g.strokeStyle = "rgba(255,255,255,0.55)"; g.lineWidth = 5; g.beginPath(); g.arc(150, 150, 110, -1.6, -0.5); g.stroke(); }
      const gr = g.createLinearGradient(190, 0, 214, 0);
      gr.addColorStop(0, "#7c848c"); gr.addColorStop(0.5, "#eef2f5"); gr.addColorStop(1, "#8d959d");
      g.fillStyle = gr; g.beginPath(); g.moveTo(202, 46); g.lineTo(214, 62); g.lineTo(208, 138); g.lineTo(190, 138); g.closePath(); g.fill();
      g.fillStyle = "#2a2a2a"; rrect(g, 180, 134, 40, 9, 3); g.fill();
      beam(200, 200, 26, 200, 142, 22, woodD, woodL);
      hand(204, 150, 50, 14);
      return c;
    }
    if (n === 2) {
      // pistol, both hands on the grip
      flashAt(176, 62, 48);
      beam(176, 150, 40, 176, 66, 26, steelD, steelL);
      g.fillStyle = "#0c0d0f"; g.fillRect(170, 62, 12, 6);
      g.fillStyle = "#2b2e33"; g.fillRect(166, 70, 4, 7); g.fillRect(182, 70, 4, 7);
      g.fillStyle = "rgba(255,255,255,0.25)"; g.fillRect(168, 86, 2, 56);
      hand(174, 136, 62, 16);
      hand(144, 152, 48, -18);
      return c;
    }
    if (n === 3) {
      // mp40: a long perforated barrel and the magazine
      flashAt(172, 24, 52);
      beam(176, 170, 46, 172, 34, 16, steelD, steelL);
      g.fillStyle = "#0c0d0f";
      for (let k = 0; k < 6; k++) g.fillRect(169 + k * 0.2, 56 + k * 13, 6 + k * 1.2, 4);
      g.fillStyle = "#0b0b0c"; g.fillRect(167, 26, 10, 9);
      beam(132, 190, 22, 150, 112, 18, "#101113", "#3b3f45");
      hand(190, 140, 58, 18);
      hand(138, 100, 40, -30);
      return c;
    }
    if (n === 4) {
      // chaingun: a ring of barrels around a spindle
      flashAt(170, 34, 62);
      beam(170, 190, 120, 170, 116, 96, "#121316", "#4a4f57");
      for (let k = 0; k < 6; k++) {
        const a = k * 1.047 + 0.5, ox = Math.cos(a) * 22, oy = Math.sin(a) * 9;
        beam(170 + ox * 1.6, 132 + oy, 20, 170 + ox, 40 + oy, 11, steelD, steelL);
      }
      g.fillStyle = "#0b0b0c"; g.beginPath(); g.ellipse(170, 40, 24, 10, 0, 0, 7); g.fill();
      g.fillStyle = "#c9a640"; g.fillRect(228, 130, 22, 50);
      g.fillStyle = "#8d7225"; for (let k = 0; k < 5; k++) g.fillRect(228, 134 + k * 10, 22, 2);
      hand(120, 158, 58, -20);
      hand(222, 160, 58, 20);
      return c;
    }
    // rifle: a wooden stock, a long barrel and a scope
    flashAt(168, 8, 46);
    beam(178, 200, 56, 170, 96, 30, woodD, woodL);
    beam(172, 110, 14, 168, 12, 8, steelD, steelL);
    beam(176, 140, 34, 170, 60, 26, "#0e0f11", "#3c4047");
    g.fillStyle = "#0b0b0c"; g.beginPath(); g.ellipse(170, 62, 13, 8, 0, 0, 7); g.fill();
    g.fillStyle = "#5aa0d0"; g.beginPath(); g.ellipse(170, 62, 8, 5, 0, 0, 7); g.fill();
    g.fillStyle = "rgba(255,255,255,0.7)"; g.fillRect(166, 59, 3, 2);
    hand(188, 150, 56, 18);
    return c;
  }
  function weapons() {
    const out = [null];
    for (let n = 1; n <= 5; n++) out.push([viewWeapon(n, false), viewWeapon(n, true)]);
    return out;
  }

  // The average colour of a texture's opaque texels, for the small map.
  function average(t) {
    let r = 0, g = 0, b = 0, n = 0;
    for (const v of t) if (v >>> 24) { r += v & 255; g += (v >> 8) & 255; b += (v >> 16) & 255; n++; }
    return n ? [r / n, g / n, b / n] : [128, 128, 128];
  }

  // Everything at once; the walls and obstacles are made on first use.
  function create() {
    const walls = [], obstacles = [];
    return {
      T,
      wall(ch) { return walls[ch] || (walls[ch] = wallTexture(String.fromCharCode(ch))); },
      obstacle(ch) { return obstacles[ch] || (obstacles[ch] = obstacleTexture(String.fromCharCode(ch))); },
      border: wallTexture("B"),
      floors: [floorTexture(0), floorTexture(1)],
      ceiling: ceilingTexture(),
      items: items(),
      players: players(),
      weapons: weapons(),
      teamColours: TEAMCOLOURS,
      average,
    };
  }

  B.art = { create, TEAMCOLOURS };
})(globalThis.Brastok = globalThis.Brastok || {});
