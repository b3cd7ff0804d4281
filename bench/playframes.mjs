// The play page's frame time in headless chromium (Debian's, through the
// browser tests' playwright-core): a server with 23 bots on the built-in
// map, the page joined as the 24th player at 960x540, walking and turning
// through the match. Prints the median time the page spends on a frame
// (brastok.stats().work), the median time between frames, and the drawing
// resolution it settled on; then the same with the CPU slowed down
// (Chrome's CPU throttling, RATE times slower), as a slower machine.
//
//     node bench/playframes.mjs [SECONDS] [RATE]     (defaults: 15 s, 4)
// Build first (make build) and install the package (cd tests/browser && npm ci).
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { createRequire } from "node:module";

const require = createRequire(path.resolve("tests/browser/package.json"));
const { chromium } = require("playwright-core");
const SECONDS = +(process.argv[2] || 15), RATE = +(process.argv[3] || 4);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

const dir = fs.mkdtempSync(path.join(os.tmpdir(), "brastok-frames-"));
const server = spawn(path.resolve("build/brastok_server"),
  ["-port", "0", "-http", "0", "-bots", "23", "-maxplayers", "24", "-score", "255"],
  { cwd: dir, stdio: ["ignore", "pipe", "inherit"] });
let out = "";
server.stdout.setEncoding("latin1");
const http = await new Promise((resolve) => server.stdout.on("data", (d) => {
  out += d;
  const m = out.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
  if (m) resolve(+m[1]);
}));
const browser = await chromium.launch({
  executablePath: "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
try {
  const page = await browser.newPage({ viewport: { width: 960, height: 540 } });
  await page.goto(`http://127.0.0.1:${http}/play?name=Frames`);
  await page.waitForFunction(() => brastok.g.st && brastok.g.myState >= 3, null, { timeout: 20000 });
  for (const [name, rate] of [["this machine", 1], [`CPU ${RATE} times slower`, RATE]]) {
    const cdp = await page.context().newCDPSession(page);
    await cdp.send("Emulation.setCPUThrottlingRate", { rate });
    await page.keyboard.down("KeyW");
    await page.keyboard.down("ArrowRight");
    const samples = [];
    for (const end = Date.now() + SECONDS * 1000; Date.now() < end;) {
      await sleep(1000);
      samples.push(await page.evaluate(() => brastok.stats()));
    }
    await page.keyboard.up("ArrowRight");
    await page.keyboard.up("KeyW");
    const med = (a) => a.slice().sort((x, y) => x - y)[a.length >> 1];
    const s = samples.slice(2); // the first seconds settle the resolution
    const last = s[s.length - 1];
    console.log(`${name}: frame work ${med(s.map((x) => x.work)).toFixed(1)} ms (median of ` +
      `per-second medians), ${med(s.map((x) => x.interval)).toFixed(1)} ms between frames, drawn at ` +
      `${last.w}x${last.h} (${Math.round(last.scale * 100)} % of 960x540), ` +
      `${(await page.evaluate(() => brastok.g.st.players.length))} players in sight of the server`);
  }
} finally {
  await browser.close();
  server.kill();
  fs.rmSync(dir, { recursive: true, force: true });
}
