// The map as the server reads it: six header characters, then rows ended by
// CR; a cell is 64 units; columns and rows 1 to 64 are played and everything
// outside them is wall. Item places are numbered in text order, as the state
// packet numbers them.
(function (B) {
  "use strict";
  const CELL = 64, SIDE = 66, MAXCELL = 64;
  const CG_N = 0, CG_B = 1, CG_P = 2;

  function classOf(ch) {
    if (ch >= 65 && ch <= 90) return CG_B; // A to Z: walls
    if (ch >= 101 && ch <= 122) return CG_P; // e to z: obstacles
    return CG_N;
  }

  // cls and chars are indexed x * 66 + y; the ring (0 and 65) is wall.
  function parse(text) {
    const cls = new Uint8Array(SIDE * SIDE), chars = new Uint8Array(SIDE * SIDE);
    for (let a = 0; a < SIDE; a++) {
      for (let b = 0; b < SIDE; b++) {
        if (a === 0 || b === 0 || a === SIDE - 1 || b === SIDE - 1) cls[a * SIDE + b] = CG_B;
      }
    }
    const items = [], spawns = [];
    let x = 1, y = 1, w = 1, h = 1;
    for (let i = 6; i < text.length; i++) {
      const ch = text.charCodeAt(i);
      if (ch === 0) break;
      if (ch === 13) {
        x = 1;
        y++;
      } else if (x <= MAXCELL) {
        cls[x * SIDE + y] = classOf(ch);
        chars[x * SIDE + y] = ch;
        const centre = [x * CELL + CELL / 2, y * CELL + CELL / 2];
        if (ch >= 48 && ch <= 57 && items.length < 128) items.push({ kind: ch - 48, x: centre[0], y: centre[1] });
        if (ch === 64 && spawns.length < 64) spawns.push({ x: centre[0], y: centre[1] });
        if (ch !== 32) { w = Math.max(w, x); h = Math.max(h, y); }
        x++;
      }
      if (y > MAXCELL) break;
    }
    return { cls, chars, items, spawns, w, h, text };
  }

  // The class of the cell under a point in map units.
  function cellAt(world, px, py) {
    const cx = Math.floor(px / CELL), cy = Math.floor(py / CELL);
    if (cx < 1 || cx > MAXCELL || cy < 1 || cy > MAXCELL) return CG_B;
    return world.cls[cx * SIDE + cy];
  }

  // A player is a square of 15 units each way against walls and obstacles.
  function squareFree(world, x, y) {
    return cellAt(world, x - 15, y - 15) === CG_N && cellAt(world, x - 15, y + 15) === CG_N &&
      cellAt(world, x + 15, y + 15) === CG_N && cellAt(world, x + 15, y - 15) === CG_N;
  }

  // Where the server puts a player at (x, y) who asks for (mx, my): nowhere
  // new beyond 11 units, else one axis after the other, x first.
  function move(world, x, y, mx, my) {
    const dx = mx - x, dy = my - y;
    if (dx * dx + dy * dy >= 144) return { x, y };
    if (squareFree(world, mx, y)) x = mx;
    if (squareFree(world, x, my)) y = my;
    return { x, y };
  }

  B.world = { CELL, SIDE, CG_N, CG_B, CG_P, parse, cellAt, squareFree, move, classOf };
})(globalThis.Brastok = globalThis.Brastok || {});
if (typeof module === "object") module.exports = globalThis.Brastok.world;
