// The page's codec against the wire: bytes of every message it sends, exact
// reading of every packet the server sends, and log-line bookkeeping.
"use strict";
const test = require("node:test");
const assert = require("node:assert");
const P = require("../protocol.js");

const bytes = a => Array.from(a);
const latin = s => Array.from(s, c => c.charCodeAt(0));

test("messages the page sends, byte for byte", () => {
  const cases = [
    [P.connect("Alex", 1), [102, 29, 4, ...latin("Alex"), 1]],
    [P.connect("", 6), [102, 29, 0, 6]], // the server takes the team modulo 4
    [P.data({ echo: 1000, dir: 270, act: 10, mx: 110, my: 200, ack: 7 }), [104, 232, 3, 14, 1, 10, 110, 0, 200, 0, 7, 0]],
    [P.data({ echo: 65535, dir: 0, act: 15, mx: 4159, my: 64, ack: 0 }), [104, 255, 255, 0, 0, 15, 63, 16, 64, 0, 0, 0]],
    [P.chat("hi"), [105, 2, 104, 105]],
    [P.disconnect(), [103]],
  ];
  for (const [got, want] of cases) assert.deepStrictEqual(bytes(got), want);
});

test("names and chat are cut to what the server keeps, never inside a character", () => {
  const name = "a".repeat(19) + "\u00e9"; // the last character takes two bytes
  const c = P.connect(name, 0);
  assert.strictEqual(c[2], 19);
  assert.strictEqual(c.length, 3 + 19 + 1);
  assert.strictEqual(P.chat("x".repeat(300))[1], P.MAXCHAT);
  assert.strictEqual(P.textOf(Uint8Array.from([0xc3, 0xa9])), "\u00e9");
  assert.strictEqual(P.textOf(Uint8Array.from([0xe9])), "\u00e9"); // Latin-1 when not UTF-8
});

test("a state packet reads exactly, each entry by its state", () => {
  const wire = [110, 232, 3, 0, 0, 1, 1, 3, 2, 0, 100, 0, 200, 0, 90, 0, 2, 1, 3, 1, 100, 25, 25, 0, 2];
  const s = P.decode(Uint8Array.from(wire));
  assert.deepStrictEqual(
    { tick: s.tick, board: s.board, items: s.items, self: s.self, health: s.health, armour: s.armour, ammo1: s.ammo1, ammo2: s.ammo2, gun: s.gun },
    { tick: 1000, board: 0, items: [1, 3], self: 1, health: 100, armour: 25, ammo1: 25, ammo2: 0, gun: 2 });
  assert.deepStrictEqual(s.players, [{ slot: 1, state: 3, ping: 2, score: 0, x: 100, y: 200, dir: 90, gun: 0 }]);
  // A spectator (3 bytes), a dead player (4), a firing one (11).
  const mixed = [110, 5, 0, 10, 0, 3, 2, 1, 0, 4, 2, 7, 3, 9, 4, 4, 1, 64, 0, 128, 0, 180, 0, 5, 0, 2, 50, 0, 10, 0, 1];
  const m = P.decode(Uint8Array.from(mixed));
  assert.deepStrictEqual(m.players.map(p => [p.slot, p.state, p.score, p.x, p.y, p.dir, p.gun]),
    [[2, 1, 0, 0, 0, 0, 0], [4, 2, 3, 0, 0, 0, 0], [9, 4, 1, 64, 128, 180, 5]]);
  assert.strictEqual(m.board, 10);
  // One byte short or one too many: not a state packet.
  assert.strictEqual(P.decode(Uint8Array.from(wire.slice(0, -1))), null);
  assert.strictEqual(P.decode(Uint8Array.from([...wire, 0])), null);
});

test("a map packet: text up to its 0 byte, names, settings and the player list", () => {
  const text = "446202\r A@1\rBe";
  const wire = [108, 7, 0, ...latin(text), 0, 6, ...latin("DefMap"), 3, ...latin("Srv"), 20, 0, 10, 2,
    1, 0, 3, ...latin("Ann"), 5, 2, 4, ...latin("[SO]")];
  const m = P.decode(Uint8Array.from(wire));
  assert.deepStrictEqual(m, { type: "map", logBase: 7, text, mapName: "DefMap", serverName: "Srv", scoreLimit: 20, teamPlay: 0, maxPlayers: 10,
    players: [{ slot: 1, team: 0, name: "Ann" }, { slot: 5, team: 2, name: "[SO]" }] });
  assert.strictEqual(P.decode(Uint8Array.from(wire.slice(0, -1))), null);
});

test("log packets: the example, the lines beyond those held, and the wrap", () => {
  const l = P.decode(Uint8Array.from([109, 7, 0, 2, 4, 4, 1, 104, 105, 4, 5, 3, 1, 2]));
  assert.strictEqual(l.last, 7);
  assert.deepStrictEqual(l.lines.map(bytes), [[4, 1, 104, 105], [5, 3, 1, 2]]);
  const cases = [[null, 2], [5, 2], [6, 1], [7, 0], [9, 0]];
  for (const [held, n] of cases) assert.strictEqual(P.newLines(held, l).length, n, "held " + held);
  // Line numbers wrap after 65535: lines 65535, 0 and 1 after 65534.
  const w = { last: 1, lines: [[1], [2], [3]].map(a => Uint8Array.from(a)) };
  assert.deepStrictEqual(P.newLines(65534, w).map(bytes), [[1], [2], [3]]);
  assert.deepStrictEqual(P.newLines(0, w).map(bytes), [[3]]);
});

test("the three replies, and nothing else with their ids", () => {
  assert.deepStrictEqual(P.decode(Uint8Array.of(111)), { type: "nocon" });
  assert.deepStrictEqual(P.decode(Uint8Array.of(112, 29)), { type: "wver", version: 29 });
  assert.deepStrictEqual(P.decode(Uint8Array.of(113)), { type: "full" });
  for (const bad of [[111, 0], [112], [113, 1], [], [107], [200, 1, 2]]) assert.strictEqual(P.decode(Uint8Array.from(bad)), null);
});

test("log lines as the feed shows them, names learnt from connect lines", () => {
  const names = [];
  const name = s => names[s];
  const learn = (slot, team, n) => { names[slot] = n; };
  const lines = [
    [[1, 3, 1, ...latin("Ann")], "Ann connected"],
    [[1, 4, 0, ...latin("Bob")], "Bob connected"],
    [[5, 3, 3, 4], "Ann [mp40] Bob"],
    [[4, 3, ...latin("hi")], "Ann: hi"],
    [[6, 4], "Bob joined the game"],
    [[9, 1], "Mutants team wins!"],
    [[10, ...latin("Brastok Server, v29")], "Brastok Server, v29"],
    [[2, 7], "player 7 disconnected"],
  ];
  for (const [line, text] of lines) assert.strictEqual(P.describe(Uint8Array.from(line), name, learn).text, text);
  assert.strictEqual(P.describe(Uint8Array.from([11, 1]), name, learn), null);
});
