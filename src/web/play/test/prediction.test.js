// Local movement against a simulated server that applies each data message
// when it arrives, by the server's own rule: at 40 ms round trip and no loss
// the page never has to take a position back; a lost message costs one
// correction and walking goes on. Other players are drawn between states.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const W = require("../world.js");
const PR = require("../prediction.js");

const CR = "\r";
const BUILTIN = "446202" + CR + [" ACAAmBBmAACA", "E4    36    4N", "H b3      1b O", "E 1@E    A@3 N", "E  EF    BA  N",
  "l    5  5    o", "F6    28     P", "F3    09    6P", "l    5  5   3o", "E  IK    PN  N", "E 3@I    N@1 N",
  "H b1      3b O", "E4    63    4N", " IJIIsKKsIIJI"].join(CR);

test("the built-in map reads as the server reads it", () => {
  const w = W.parse(BUILTIN);
  assert.strictEqual(w.items.length, 28);
  assert.deepStrictEqual(w.items[0], { kind: 4, x: 160, y: 224 });
  assert.deepStrictEqual(w.spawns, [{ x: 288, y: 352 }, { x: 736, y: 352 }, { x: 288, y: 800 }, { x: 736, y: 800 }]);
  assert.strictEqual(W.cellAt(w, 63, 100), W.CG_B);
  assert.strictEqual(W.cellAt(w, 64 + 5, 7 * 64 + 5), W.CG_P); // 'l' at column 1, row 7
  assert.strictEqual(W.cellAt(w, 3 * 64 + 5, 4 * 64 + 5), W.CG_N); // 'b' is a free cell
  assert.strictEqual(W.cellAt(w, 64, 64), W.CG_N); // row 1 is empty
});

test("a move is taken within 11 units, one axis after the other", () => {
  const w = W.parse("446202" + CR + "   " + CR + "   " + CR + "   " + CR + "  A");
  const cases = [[11, 0, true], [0, -11, true], [8, 8, true], [11, 4, true], [12, 0, false], [9, 8, false], [10, 7, false]];
  for (const [dx, dy, ok] of cases) {
    const r = W.move(w, 160, 160, 160 + dx, 160 + dy);
    assert.deepStrictEqual(r, ok ? { x: 160 + dx, y: 160 + dy } : { x: 160, y: 160 }, dx + "," + dy);
  }
  // The wall 'A' fills x 192..255, y 320..383: pushing diagonally into it
  // from above keeps x and moves y no closer than 15 units.
  const s = W.move(w, 200, 295, 205, 305);
  assert.deepStrictEqual(s, { x: 205, y: 295 });
  assert.deepStrictEqual(PR.stepOffset(1, 1), { dx: 8, dy: 8 });
  assert.deepStrictEqual(PR.stepOffset(0, -5), { dx: 0, dy: -11 });
});

// A server one way LAT ticks from the client; drop(n) loses data message n.
// Like the real one it reports the tick less the echo of the last data
// message it took as the player's ping.
function play(ticks, lat, wish, drop, jitter = () => 0) {
  const w = W.parse(BUILTIN);
  let sx = 160, sy = 224; // column 2, row 3: a free run down to row 14
  const toServer = [], toClient = [];
  const p = PR.create();
  let sent = 0, now = 0, lastShown = null, backwards = 0, echoed = 0;
  for (let tick = 1; tick <= ticks; tick++) {
    now += 30;
    for (const m of toServer.filter(m => m.at <= tick)) {
      ({ x: sx, y: sy } = W.move(w, sx, sy, m.mx, m.my));
      echoed = m.echo;
    }
    toServer.splice(0, toServer.filter(m => m.at <= tick).length);
    toClient.push({ at: tick + lat, tick, x: sx, y: sy, ping: (tick - echoed) & 255 });
    for (const s of toClient.filter(s => s.at <= tick)) {
      PR.reconcile(p, w, s.x, s.y, s.tick, s.ping, now);
      const [fx, fy] = wish(s.tick);
      const r = PR.step(p, w, fx, fy, s.tick, now, 30);
      // In order, as a WebSocket delivers, but now and then held up.
      const at = Math.max(tick + lat + jitter(sent), toServer.length ? toServer[toServer.length - 1].at : 0);
      if (!drop(sent++)) toServer.push({ at, mx: r.mx, my: r.my, echo: s.tick });
    }
    toClient.splice(0, toClient.filter(s => s.at <= tick).length);
    // The shown position along the walk never goes back.
    for (const t of [0, 10, 20]) {
      const at = PR.shown(p, now + t);
      if (lastShown && wish(tick)[1] > 0 && at.y < lastShown.y - 1e-9) backwards++;
      lastShown = at;
    }
  }
  return { p, sx, sy, backwards };
}

test("at 40 ms round trip and no loss the page never takes a position back", () => {
  // Down column 2 into the wall at the bottom, then sliding right along it.
  const wish = t => (t < 60 ? [0, 1] : [1, 1]);
  const r = play(200, 1, wish, () => false);
  assert.strictEqual(r.p.corrections, 0);
  assert.strictEqual(r.backwards, 0);
  assert.strictEqual(r.sy, 14 * 64 + 63 - 15); // flush against the bottom wall
  assert.ok(r.sx > 160 + 500, "slid to " + r.sx);
  // Once the steps in flight land the page and the server agree.
  const still = play(200, 1, t => (t < 150 ? wish(t) : [0, 0]), () => false);
  assert.deepStrictEqual([still.p.x, still.p.y], [still.sx, still.sy]);
});

test("messages held up and arriving together cost nothing", () => {
  const r = play(200, 1, t => (t < 60 ? [0, 1] : [1, 1]), () => false, n => (n % 7 === 3 ? 3 : 0));
  assert.strictEqual(r.p.corrections, 0);
  assert.strictEqual(r.backwards, 0);
});

test("a lost data message costs one correction, then the walk goes on", () => {
  const r = play(200, 1, () => [0, 1], n => n === 20);
  assert.strictEqual(r.p.corrections, 1);
  assert.ok(r.sy > 224 + 500, "walked on to " + r.sy);
});

test("other players are drawn between their last two states", () => {
  const t = {};
  PR.track(t, 3, 100, 100, 350, 0);
  PR.track(t, 3, 110, 100, 10, 30);
  assert.deepStrictEqual(PR.at(t, 3, 30), { x: 100, y: 100, dir: 350 });
  const mid = PR.at(t, 3, 45);
  assert.strictEqual(mid.x, 105);
  assert.ok(Math.abs(mid.dir - 0) < 1e-9 || Math.abs(mid.dir - 360) < 1e-9); // across north, not round
  assert.deepStrictEqual(PR.at(t, 3, 90), { x: 110, y: 100, dir: 10 });
  PR.track(t, 3, 600, 700, 0, 60); // a respawn: no glide across the map
  assert.deepStrictEqual(PR.at(t, 3, 61), { x: 600, y: 700, dir: 0 });
});
