// The game's own datagrams, byte for byte: what the page sends (connect,
// disconnect, input data, chat) and exact readers of what the server sends.
// Words are 16 bits, low byte first; a string is a length byte and that many
// bytes. A reader gives null for a datagram that does not parse to exactly its
// length, so a packet read wrongly is never half-believed.
(function (B) {
  "use strict";
  const P = {
    VERSION: 29,
    // Client to server.
    CCON: 102, CDCON: 103, CDAT: 104, CCHAT: 105,
    // Server to client.
    MAP: 108, LOGL: 109, SHAP: 110, NOCON: 111, WVER: 112, SVFULL: 113,
    // Player states in the state packet.
    PS_SPEC: 1, PS_DEAD: 2, PS_LIVE: 3, PS_ATTA: 4,
    // Action codes of the data message.
    ACT_NONE: 0, ACT_FIRE: 10, ACT_TOGGLE: 11, ACT_MAP: 15,
    // Event-log line kinds.
    L_CONNECT: 1, L_DISCONNECT: 2, L_TIMEOUT: 3, L_CHAT: 4, L_KILL: 5,
    L_ENTER: 6, L_LEAVE: 7, L_WIN: 8, L_TEAMWIN: 9, L_NOTICE: 10,
    MAXNAME: 20,
    // A chat text this long still makes a log line that one string carries.
    MAXCHAT: 200,
    SLOTS: 24,
    WEAPONS: ["", "knife", "pistol", "mp40", "chaingun", "rifle"],
    // Ammunition kind of each weapon (the knife needs none).
    AMMOKIND: [0, 0, 1, 1, 1, 2],
    TEAMTAGS: ["SS", "MU", "SO", "OF"],
    TEAMNAMES: ["SS", "Mutants", "Soldiers", "Officers"],
  };

  // ---- text ----

  const utf8 = new TextDecoder("utf-8", { fatal: true });
  const latin1 = new TextDecoder("latin1");
  const encoder = new TextEncoder();
  // Names and chat travel as raw bytes: UTF-8 where they are, Latin-1
  // otherwise (what older clients send).
  function textOf(bytes) {
    try {
      return utf8.decode(bytes);
    } catch (e) {
      return latin1.decode(bytes);
    }
  }
  // UTF-8, cut to at most MAX bytes without splitting a character, so that
  // the server's cut never leaves half of one.
  function bytesOf(text, max) {
    const out = [];
    for (const ch of String(text)) {
      const b = encoder.encode(ch);
      if (out.length + b.length > max) break;
      for (const x of b) out.push(x);
    }
    return out;
  }

  // ---- messages the page sends ----

  function connect(name, team) {
    const n = bytesOf(name, P.MAXNAME);
    return Uint8Array.from([P.CCON, P.VERSION, n.length, ...n, (team >>> 0) & 255]);
  }
  function disconnect() {
    return Uint8Array.of(P.CDCON);
  }
  // One input message: the tick echoed, the facing, one action, the position
  // asked for and the newest log line held.
  function data(m) {
    const b = new Uint8Array(12);
    const w = (at, v) => { b[at] = v & 255; b[at + 1] = (v >>> 8) & 255; };
    b[0] = P.CDAT;
    w(1, m.echo);
    w(3, m.dir);
    b[5] = m.act & 255;
    w(6, m.mx);
    w(8, m.my);
    w(10, m.ack);
    return b;
  }
  function chat(text) {
    const t = bytesOf(text, P.MAXCHAT);
    return Uint8Array.from([P.CCHAT, t.length, ...t]);
  }

  // ---- packets the server sends ----

  // A cursor that remembers whether every read stayed inside the datagram.
  function reader(d) {
    let at = 1, ok = true;
    const has = n => (ok = ok && at + n <= d.length);
    return {
      byte() { if (!has(1)) return 0; return d[at++]; },
      word() { if (!has(2)) return 0; const v = d[at] | (d[at + 1] << 8); at += 2; return v; },
      bytes(n) { if (!has(n)) return d.subarray(0, 0); const s = d.subarray(at, at + n); at += n; return s; },
      string() { const n = this.byte(); return this.bytes(n); },
      get at() { return at; },
      set at(v) { at = v; },
      get ok() { return ok; },
      exact() { return ok && at === d.length; },
    };
  }

  function readState(d) {
    const r = reader(d);
    const s = { type: "state", tick: r.word(), board: r.word(), players: [], items: [] };
    const n = r.byte();
    for (let i = 0; i < n && r.ok; i++) {
      const e = { slot: r.byte(), state: r.byte(), ping: r.byte(), score: 0, x: 0, y: 0, dir: 0, gun: 0 };
      if (e.state >= P.PS_DEAD) e.score = r.byte();
      if (e.state >= P.PS_LIVE) { e.x = r.word(); e.y = r.word(); e.dir = r.word(); }
      if (e.state === P.PS_ATTA) e.gun = r.byte();
      s.players.push(e);
    }
    const ni = r.byte();
    for (let i = 0; i < ni && r.ok; i++) s.items.push(r.byte());
    s.self = r.byte();
    s.health = r.byte();
    s.armour = r.byte();
    s.ammo1 = r.byte();
    s.ammo2 = r.byte();
    s.gun = r.byte();
    return r.exact() ? s : null;
  }

  function readMap(d) {
    const r = reader(d);
    const m = { type: "map", logBase: r.word() };
    // The map text is not length-prefixed: it ends at its 0 byte.
    const end = d.indexOf(0, 3);
    if (!r.ok || end < 0) return null;
    // One character per byte, exactly as the server holds the text.
    let text = "";
    for (let i = 3; i < end; i++) text += String.fromCharCode(d[i]);
    m.text = text;
    r.at = end + 1;
    m.mapName = textOf(r.string());
    m.serverName = textOf(r.string());
    m.scoreLimit = r.byte();
    m.teamPlay = r.byte();
    m.maxPlayers = r.byte();
    m.players = [];
    const n = r.byte();
    for (let i = 0; i < n && r.ok; i++) {
      m.players.push({ slot: r.byte(), team: r.byte(), name: textOf(r.string()) });
    }
    return r.exact() ? m : null;
  }

  function readLog(d) {
    const r = reader(d);
    const l = { type: "log", last: r.word(), lines: [] };
    const n = r.byte();
    for (let i = 0; i < n && r.ok; i++) l.lines.push(Uint8Array.from(r.string()));
    return r.exact() ? l : null;
  }

  // Any datagram from the server: a packet object, or null when it is none.
  function decode(d) {
    if (!(d instanceof Uint8Array)) d = new Uint8Array(d);
    if (d.length === 0) return null;
    switch (d[0]) {
      case P.SHAP: return readState(d);
      case P.MAP: return readMap(d);
      case P.LOGL: return readLog(d);
      case P.NOCON: return d.length === 1 ? { type: "nocon" } : null;
      case P.WVER: return d.length === 2 ? { type: "wver", version: d[1] } : null;
      case P.SVFULL: return d.length === 1 ? { type: "full" } : null;
      default: return null;
    }
  }

  // ---- event-log lines ----

  // The lines a log packet brings beyond the newest one held (line numbers
  // are 16 bits and wrap, so "beyond" is serial arithmetic). held is null
  // before the first packet of a connection.
  function newLines(held, log) {
    const n = log.lines.length;
    if (held === null) return log.lines.slice();
    const ahead = (log.last - held) & 0xffff;
    if (ahead === 0 || ahead >= 0x8000) return [];
    return log.lines.slice(Math.max(0, n - ahead));
  }

  // One line as the feed shows it. names(slot) gives a slot's name; a
  // connect line first teaches the name it carries (onName).
  function describe(line, names, onName) {
    if (line.length < 2) return null;
    const kind = line[0], c = line[1];
    const who = s => names(s) || "player " + s;
    switch (kind) {
      case P.L_CONNECT: {
        const name = textOf(line.subarray(3, 3 + P.MAXNAME));
        if (onName) onName(c, line[2] & 3, name);
        return { kind, text: name + " connected", slot: c };
      }
      case P.L_DISCONNECT: return { kind, text: who(c) + " disconnected", slot: c };
      case P.L_TIMEOUT: return { kind, text: who(c) + " timed out", slot: c };
      case P.L_CHAT: return { kind, text: who(c) + ": " + textOf(line.subarray(2)), slot: c };
      case P.L_KILL: {
        if (line.length < 4) return null;
        const gun = P.WEAPONS[c] || "?";
        return { kind, text: who(line[2]) + " [" + gun + "] " + who(line[3]), killer: line[2], victim: line[3], gun: c };
      }
      case P.L_ENTER: return { kind, text: who(c) + " joined the game", slot: c };
      case P.L_LEAVE: return { kind, text: who(c) + " left the game", slot: c };
      case P.L_WIN: return { kind, text: who(c) + " wins!", slot: c };
      case P.L_TEAMWIN: return { kind, text: (P.TEAMNAMES[c & 3]) + " team wins!", team: c & 3 };
      case P.L_NOTICE: return { kind, text: textOf(line.subarray(1)) };
      default: return null;
    }
  }

  B.protocol = Object.assign(P, {
    connect, disconnect, data, chat, decode, newLines, describe, textOf, bytesOf,
  });
})(globalThis.Brastok = globalThis.Brastok || {});
if (typeof module === "object") module.exports = globalThis.Brastok.protocol;
