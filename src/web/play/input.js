// What the player does with keys, mouse and fingers, as a few plain values
// the game reads once per data message: the wish to move (forward, sideways),
// the facing, fire held, and one-off commands (a weapon, join or leave, the
// score board, chat).
(function (B) {
  "use strict";

  function create(surface, hooks) {
    const keys = new Set();
    const inp = {
      facing: 0, // degrees, 0 toward growing x, 90 toward growing y
      fireHeld: false,
      fireTaps: 0, // clicks not yet sent
      weapon: 0, // a weapon asked for, 0 for none
      toggle: false, // join or leave asked for
      scores: false,
      typing: false,
      touch: false,
      stick: { x: 0, y: 0 }, // the left thumb's wish, -1 to 1 each way
      sensitivity: 0.16,
    };

    const held = (...codes) => codes.some(c => keys.has(c));
    // Forward and right, each -1 to 1.
    inp.wish = function () {
      let f = (held("KeyW", "ArrowUp") ? 1 : 0) - (held("KeyS", "ArrowDown") ? 1 : 0);
      let s = (held("KeyD") ? 1 : 0) - (held("KeyA") ? 1 : 0);
      if (inp.touch) { f -= inp.stick.y; s += inp.stick.x; }
      return { f: Math.max(-1, Math.min(1, f)), s: Math.max(-1, Math.min(1, s)) };
    };
    // Keyboard turning, in degrees per second.
    inp.turnRate = function () {
      return ((held("ArrowRight", "KeyE") ? 1 : 0) - (held("ArrowLeft", "KeyQ") ? 1 : 0)) * 150;
    };
    inp.firing = function () {
      return inp.fireHeld || held("Space");
    };

    const GAMEKEYS = new Set(["Space", "Tab", "ArrowUp", "ArrowDown", "ArrowLeft", "ArrowRight"]);
    addEventListener("keydown", (e) => {
      if (inp.typing) return;
      if (e.code === "Enter") { e.preventDefault(); hooks.chat(); return; }
      if (GAMEKEYS.has(e.code)) e.preventDefault();
      if (e.repeat) return;
      keys.add(e.code);
      if (e.code === "Space") inp.fireTaps++;
      if (e.code >= "Digit1" && e.code <= "Digit5") inp.weapon = +e.code.slice(5);
      if (e.code === "KeyJ") inp.toggle = true;
      if (e.code === "Tab") inp.scores = true;
    });
    addEventListener("keyup", (e) => {
      keys.delete(e.code);
      if (e.code === "Tab") inp.scores = false;
    });
    addEventListener("blur", () => { keys.clear(); inp.fireHeld = false; inp.scores = false; });

    // The mouse: the first click takes the pointer, then it turns and fires.
    surface.addEventListener("mousedown", (e) => {
      if (inp.touch || e.button !== 0) return;
      if (document.pointerLockElement !== surface) {
        if (surface.requestPointerLock) {
          const p = surface.requestPointerLock();
          if (p && p.catch) p.catch(() => {});
        }
        return;
      }
      inp.fireHeld = true;
      inp.fireTaps++;
    });
    addEventListener("mouseup", (e) => { if (e.button === 0) inp.fireHeld = false; });
    addEventListener("mousemove", (e) => {
      if (document.pointerLockElement === surface) inp.facing = (inp.facing + e.movementX * inp.sensitivity + 360) % 360;
    });

    // Touch: the left half is a stick where the thumb comes down, the right
    // half turns by dragging, and the fire button fires while held.
    const fingers = new Map();
    const pad = document.getElementById("touch");
    function setupTouch() {
      if (inp.touch) return;
      inp.touch = true;
      document.body.classList.add("touch");
    }
    surface.addEventListener("touchstart", (e) => {
      setupTouch();
      e.preventDefault();
      for (const t of e.changedTouches) {
        const left = t.clientX < innerWidth / 2;
        fingers.set(t.identifier, { left, x0: t.clientX, y0: t.clientY, x: t.clientX });
        if (left) hooks.stick(t.clientX, t.clientY, true);
      }
    }, { passive: false });
    surface.addEventListener("touchmove", (e) => {
      e.preventDefault();
      for (const t of e.changedTouches) {
        const f = fingers.get(t.identifier);
        if (!f) continue;
        if (f.left) {
          const r = 60;
          inp.stick.x = Math.max(-1, Math.min(1, (t.clientX - f.x0) / r));
          inp.stick.y = Math.max(-1, Math.min(1, (t.clientY - f.y0) / r));
          hooks.stick(f.x0 + inp.stick.x * r, f.y0 + inp.stick.y * r, true);
        } else {
          inp.facing = (inp.facing + (t.clientX - f.x) * 0.35 + 360) % 360;
          f.x = t.clientX;
        }
      }
    }, { passive: false });
    const lift = (e) => {
      for (const t of e.changedTouches) {
        const f = fingers.get(t.identifier);
        fingers.delete(t.identifier);
        if (f && f.left) { inp.stick.x = 0; inp.stick.y = 0; hooks.stick(0, 0, false); }
      }
    };
    surface.addEventListener("touchend", lift);
    surface.addEventListener("touchcancel", lift);
    if (pad) {
      const fire = document.getElementById("tfire");
      fire.addEventListener("touchstart", (e) => { e.preventDefault(); setupTouch(); inp.fireHeld = true; inp.fireTaps++; }, { passive: false });
      fire.addEventListener("touchend", (e) => { e.preventDefault(); inp.fireHeld = false; });
      document.getElementById("tjoin").addEventListener("touchstart", (e) => { e.preventDefault(); inp.toggle = true; }, { passive: false });
      document.getElementById("tchat").addEventListener("touchstart", (e) => { e.preventDefault(); hooks.chat(); }, { passive: false });
      document.getElementById("tscore").addEventListener("touchstart", (e) => { e.preventDefault(); inp.scores = !inp.scores; }, { passive: false });
      document.getElementById("tgun").addEventListener("touchstart", (e) => { e.preventDefault(); hooks.nextWeapon(); }, { passive: false });
    }
    if (matchMedia && matchMedia("(pointer: coarse)").matches) setupTouch();
    return inp;
  }

  B.input = { create };
})(globalThis.Brastok = globalThis.Brastok || {});
