// The browser game in a real browser (Debian's chromium, driven by
// playwright-core): the page joins a server with bots over its WebSocket,
// walks (the server's position of its slot changes), turns, fires until it
// kills, chats (the console prints the line), plays on after a console
// `next` (the page connects again by itself), and saves a screenshot.
// Everything it starts is stopped at the end, pass or fail; the whole run is
// bounded.
//
// usage: node tests/browser/play_page.mjs BUILD_DIR [SCREENSHOT.png]
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const BUILD = path.resolve(process.argv[2] || "build");
const SHOT = path.resolve(process.argv[3] || path.join(BUILD, "play.png"));
const LIMIT_MS = 90000;

// An open room: the bots cannot hide for long, so a kill comes soon.
const ARENA = [
  "446202",
  "AAAAAAAAAAAAAA",
  "A@    2     @A",
  "A            A",
  "A   e    e   A",
  "A@    88    @A",
  "A   e    e   A",
  "A            A",
  "A@    2     @A",
  "AAAAAAAAAAAAAA",
].join("\n") + "\n";

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
let server = null, browser = null, dir = null;

function cleanup() {
  if (browser) browser.close().catch(() => {});
  if (server && server.exitCode === null) server.kill("SIGKILL");
  if (dir) fs.rmSync(dir, { recursive: true, force: true });
}
const guard = setTimeout(() => { console.error("FAIL: out of time"); cleanup(); process.exit(1); }, LIMIT_MS);

// The server's console, line by line, with waits for a line.
const lines = [];
function waitLine(re, ms, from = 0) {
  const end = Date.now() + ms;
  return new Promise((resolve, reject) => {
    const look = () => {
      for (let i = from; i < lines.length; i++) if (re.test(lines[i])) return resolve(i);
      if (Date.now() > end) return reject(new Error("no console line " + re + " within " + ms + " ms"));
      setTimeout(look, 50);
    };
    look();
  });
}

async function status(http) {
  const r = await fetch(`http://127.0.0.1:${http}/status.json`);
  return r.json();
}
const slotOf = (st, n) => st.slots.find((s) => s.slot === n);

async function main() {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), "brastok-play-"));
  fs.mkdirSync(path.join(dir, "maps"));
  fs.writeFileSync(path.join(dir, "maps", "arena.brsk"), ARENA);
  server = spawn(path.join(BUILD, "brastok_server"),
    ["-port", "0", "-http", "0", "-bots", "3", "-map", "arena", "-score", "100", "-name", "Play page test"],
    { cwd: dir, stdio: ["pipe", "pipe", "inherit"] });
  let rest = "";
  server.stdout.setEncoding("latin1");
  server.stdout.on("data", (d) => {
    rest += d;
    let at;
    while ((at = rest.indexOf("\n")) >= 0) { lines.push(rest.slice(0, at)); rest = rest.slice(at + 1); }
  });
  const h = await waitLine(/^HTTP initialized! http:\/\/127\.0\.0\.1:\d+\/$/, 10000);
  const http = +lines[h].match(/:(\d+)\/$/)[1];
  const console_ = (cmd) => server.stdin.write(cmd + "\n");

  browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  const page = await browser.newPage({ viewport: { width: 960, height: 540 } });
  const errors = [];
  page.on("pageerror", (e) => errors.push(String(e)));

  // Joins at once with ?name=, and asks to play by itself.
  await page.goto(`http://127.0.0.1:${http}/play?name=Web`);
  await waitLine(/^Web connected!$/, 10000);
  await page.waitForFunction(() => brastok.g.st && brastok.g.myState >= 3, null, { timeout: 15000 });
  const self = await page.evaluate(() => brastok.g.st.self);
  console.log(`joined as slot ${self}`);

  // Walks: the server moves the slot.
  let before = slotOf(await status(http), self);
  await page.keyboard.down("KeyW");
  await sleep(900);
  await page.keyboard.up("KeyW");
  await sleep(300);
  let after = slotOf(await status(http), self);
  if (before.x === after.x && before.y === after.y) throw new Error("walking moved nothing on the server");
  console.log(`walked from ${before.x},${before.y} to ${after.x},${after.y}`);

  // Turns with the keyboard: the server's facing follows.
  before = after;
  await page.keyboard.down("ArrowRight");
  await sleep(500);
  await page.keyboard.up("ArrowRight");
  await sleep(300);
  after = slotOf(await status(http), self);
  if (before.dir === after.dir) throw new Error("turning changed no facing on the server");
  console.log(`turned from ${before.dir} to ${after.dir} degrees`);

  // Fights: faces the nearest living bot (what the mouse would do) and
  // fires until the console names this player as a killer; a dead player
  // respawns by firing.
  const fightFrom = lines.length;
  let killed = false;
  await page.keyboard.down("Space");
  for (const end = Date.now() + 45000; !killed && Date.now() < end;) {
    const st = await status(http), me = slotOf(st, self);
    let best = null;
    for (const s of st.slots) {
      if (s.slot === self || !(s.state === "live" || s.state === "attacking") || !me || me.x === undefined) continue;
      const d = Math.hypot(s.x - me.x, s.y - me.y);
      if (!best || d < best.d) best = { d, a: (Math.atan2(s.y - me.y, s.x - me.x) * 180) / Math.PI };
    }
    if (best) await page.evaluate((a) => { brastok.inp.facing = (a + 360) % 360; }, best.a);
    killed = lines.slice(fightFrom).some((l) => /^Web > \S+ > /.test(l));
    await sleep(60);
  }
  await page.keyboard.up("Space");
  if (!killed) throw new Error("no kill by the page within 45 s");
  console.log("killed: " + lines.slice(fightFrom).find((l) => /^Web > /.test(l)));

  // Chats: Enter, a line, Enter.
  const chatFrom = lines.length;
  await page.keyboard.press("Enter");
  await page.keyboard.type("hello from the browser");
  await page.keyboard.press("Enter");
  await waitLine(/^Web: hello from the browser$/, 5000, chatFrom);

  // A new map frees every slot: the page connects again and plays on.
  const nextFrom = lines.length;
  console_("next");
  await waitLine(/^Web connected!$/, 10000, nextFrom);
  await page.waitForFunction(() => brastok.g.st && brastok.g.myState >= 3, null, { timeout: 15000 });
  const again = await page.evaluate(() => brastok.g.st.self);
  before = slotOf(await status(http), again);
  await page.keyboard.down("KeyW");
  await page.keyboard.down("ArrowLeft");
  await sleep(900);
  await page.keyboard.up("ArrowLeft");
  await page.keyboard.up("KeyW");
  await sleep(300);
  after = slotOf(await status(http), again);
  if (before.x === after.x && before.y === after.y && before.dir === after.dir) {
    throw new Error("after the new map the page does not play on");
  }
  console.log(`after next: slot ${again} moved from ${before.x},${before.y} to ${after.x},${after.y}`);

  // The picture for the README: facing the nearest bot, firing.
  const st = await status(http), me = slotOf(st, again);
  const bots = st.slots.filter((s) => s.bot && (s.state === "live" || s.state === "attacking") && s.x !== undefined);
  if (me && bots.length) {
    bots.sort((a, b) => Math.hypot(a.x - me.x, a.y - me.y) - Math.hypot(b.x - me.x, b.y - me.y));
    const a = (Math.atan2(bots[0].y - me.y, bots[0].x - me.x) * 180) / Math.PI;
    await page.evaluate((a) => { brastok.inp.facing = (a + 360) % 360; }, a);
  }
  await page.keyboard.down("Space");
  await sleep(400);
  await page.screenshot({ path: SHOT });
  await page.keyboard.up("Space");
  console.log("screenshot: " + SHOT);

  if (errors.length) throw new Error("page errors: " + errors.join("; "));
  console_("quit");
}

main().then(() => {
  clearTimeout(guard);
  cleanup();
  console.log("1 passed, 0 failed");
}, (e) => {
  clearTimeout(guard);
  console.error("FAIL: " + e.message);
  console.error(lines.slice(-15).join("\n"));
  cleanup();
  console.log("0 passed, 1 failed");
  process.exit(1);
});
