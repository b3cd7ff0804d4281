// Local movement. The server moves a player only when a data message comes,
// to the position it asks for, and only within 11 units and free of walls;
// every state packet then tells where it keeps him. The page answers each
// state packet with one data message whose position is a step it has already
// taken itself by the server's own rule, so the position it shows runs ahead
// of the server by the steps in flight and agrees with it once they land.
// Other players are shown between their last two states.
(function (B) {
  "use strict";
  const W = B.world || (typeof require === "function" ? require("./world.js") : null);
  const STEP = 11;

  // The longest step the server takes in the direction (fx, fy) (not
  // normalised; 0, 0 for none): whole units, within 11 by its distance.
  function stepOffset(fx, fy) {
    const len = Math.hypot(fx, fy);
    if (len < 1e-6) return { dx: 0, dy: 0 };
    let dx = Math.round((fx / len) * STEP), dy = Math.round((fy / len) * STEP);
    while (dx * dx + dy * dy >= 144) {
      if (Math.abs(dx) >= Math.abs(dy)) dx -= Math.sign(dx);
      else dy -= Math.sign(dy);
    }
    return { dx, dy };
  }

  // How far along one axis a player can go, up to d units: the whole way,
  // or up to where his square meets a wall (so he walks flush to it).
  function reach(world, x, y, d, alongX) {
    const s = Math.sign(d);
    for (let k = Math.abs(d); k > 0; k--) {
      const nx = alongX ? x + s * k : x, ny = alongX ? y : y + s * k;
      if (W.squareFree(world, nx, ny)) return s * k;
    }
    return 0;
  }

  function create() {
    const p = {
      x: 0, y: 0, // where the page has the player, steps in flight included
      known: false,
      pending: [], // {echo, mx, my} steps sent and not yet taken
      base: { x: 0, y: 0 }, // the server's latest position
      // What is shown: a glide from one step to the next over a tick.
      from: { x: 0, y: 0 }, to: { x: 0, y: 0 }, t0: 0, span: 30,
      snaps: 0, // times the page had to take the server's position
      corrections: 0, // of them, positions no step explained
    };
    return p;
  }

  // Where the glide stands at time now.
  function shown(p, now) {
    const a = Math.min(1, Math.max(0, (now - p.t0) / p.span));
    return { x: p.from.x + (p.to.x - p.from.x) * a, y: p.from.y + (p.to.y - p.from.y) * a };
  }

  function glideTo(p, x, y, now, span) {
    const far = Math.abs(x - p.to.x) > 64 || Math.abs(y - p.to.y) > 64;
    p.from = far ? { x, y } : shown(p, now);
    p.to = { x, y };
    p.t0 = now;
    if (span) p.span = span;
  }

  // Puts the player where the server has him, forgetting every step in flight.
  function snap(p, x, y, now) {
    if (p.known && (x !== p.x || y !== p.y)) p.snaps++;
    p.lastSnap = { fromX: p.x, fromY: p.y, x, y, pending: p.pending.length };
    p.x = x; p.y = y;
    p.base = { x, y };
    p.pending = [];
    if (!p.known) { p.from = { x, y }; p.to = { x, y }; }
    else glideTo(p, x, y, now);
    p.known = true;
  }

  // One step for the data message that answers the state of tick echo:
  // (fx, fy) is the wanted direction in map units (0, 0 to stand). Returns
  // the position to ask for.
  function step(p, world, fx, fy, echo, now, span) {
    const o = stepOffset(fx, fy);
    let mx = p.x, my = p.y;
    if (o.dx !== 0 || o.dy !== 0) {
      // The server tries x first, then y from the x it kept.
      mx = p.x + reach(world, p.x, p.y, o.dx, true);
      my = p.y + reach(world, mx, p.y, o.dy, false);
      const r = W.move(world, p.x, p.y, mx, my);
      mx = r.x; my = r.y;
    }
    p.pending.push({ echo, mx, my });
    p.x = mx; p.y = my;
    glideTo(p, mx, my, now, span);
    return { mx, my };
  }

  // The server's position (sx, sy) in the state of tick tick, with the
  // ping it reports for this player. The ping is the tick counter less the
  // echo of the last data message the server took, so every step that
  // answered that state or an earlier one has been taken (or was dropped, by
  // the network or the server's budget). The steps still in flight are
  // replayed from the server's position by the server's own rule, which is
  // what the server will do with them: without loss this changes nothing,
  // and after a loss it puts the player where the server is about to.
  function reconcile(p, world, sx, sy, tick, ping, now) {
    if (!p.known) return snap(p, sx, sy, now);
    const taken = (tick - ping) & 0xffff;
    while (p.pending.length && ((taken - p.pending[0].echo) & 0xffff) < 0x8000) p.pending.shift();
    let x = sx, y = sy;
    for (const e of p.pending) ({ x, y } = W.move(world, x, y, e.mx, e.my));
    p.base = { x: sx, y: sy };
    if (x === p.x && y === p.y) return;
    p.corrections++;
    p.snaps++;
    p.lastSnap = { fromX: p.x, fromY: p.y, x, y, pending: p.pending.length };
    p.x = x; p.y = y;
    glideTo(p, x, y, now);
  }

  // ---- other players ----

  // Each is shown between its last two states: from the one before to the
  // newest over the time between them, so it is drawn one state late and
  // never guessed ahead.
  function track(t, slot, x, y, dir, now) {
    const o = t[slot];
    if (!o || Math.abs(o.x - x) > 96 || Math.abs(o.y - y) > 96) {
      t[slot] = { px: x, py: y, pdir: dir, x, y, dir, t: now, span: 30 };
      return;
    }
    const span = Math.min(120, Math.max(15, now - o.t));
    t[slot] = { px: o.x, py: o.y, pdir: o.dir, x, y, dir, t: now, span };
  }
  function at(t, slot, now) {
    const o = t[slot];
    if (!o) return null;
    const a = Math.min(1, Math.max(0, (now - o.t) / o.span));
    let dd = ((o.dir - o.pdir) % 360 + 540) % 360 - 180;
    return { x: o.px + (o.x - o.px) * a, y: o.py + (o.y - o.py) * a, dir: (o.pdir + dd * a + 360) % 360 };
  }

  B.prediction = { create, step, reconcile, snap, shown, stepOffset, track, at };
})(globalThis.Brastok = globalThis.Brastok || {});
if (typeof module === "object") module.exports = globalThis.Brastok.prediction;
