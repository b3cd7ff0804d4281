"""The live page in a real browser (headless chromium through chromedriver):
it draws the map, follows a walking player, and comes back by itself when
the server restarts. Saves a screenshot. Everything it starts (server,
walking client, browser) is stopped at the end, pass or fail; the whole run
is bounded.

usage: /usr/bin/python3 tests/browser/live_page.py BUILD_DIR [SCREENSHOT.png]"""
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
SHOT = sys.argv[2] if len(sys.argv) > 2 else os.path.join(BUILD, "live-page.png")
TEAM0 = (0xE5, 0x48, 0x4D)  # the page's colour of team 0
WALL, FREE = (0x5B, 0x61, 0x70), (0x2B, 0x2F, 0x38)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server(workdir, http_port, bots):
    p = subprocess.Popen([os.path.join(BUILD, "brastok_server"), "-port", "0", "-bots", str(bots),
                          "-name", "Live page test", "-http", str(http_port)],
                         cwd=workdir, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    udp = None
    for _ in range(4):
        line = p.stdout.readline()
        m = re.match(r"UDP initialized! UDP port: (\d+)", line)
        udp = int(m.group(1)) if m else udp
    assert udp, "no UDP port line"
    return p, udp


def wait(what, cond, seconds=10):
    end = time.time() + seconds
    while time.time() < end:
        v = cond()
        if v:
            return v
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


# One read of the page's own picture: the walking player (a human) where the
# page last drew it (markers glide between events), and the canvas pixels at
# the given map positions.
PROBE = """
const v = window.brastokView; if (!v || !v.state) return null;
const g = document.getElementById('c').getContext('2d');
const px = (x, y) => { const [a, b] = v.toPx(x, y);
  return Array.from(g.getImageData(Math.floor(a), Math.floor(b), 1, 1).data.slice(0, 3)); };
const p = v.state.slots.find(s => !s.bot && (s.state === 'live' || s.state === 'attacking'));
const d = p && v.drawn(p.slot);
return {tick: v.state.tick, cell: v.cellPx, p: d ? {x: d.x, y: d.y, at: px(d.x, d.y)} : null,
        at: arguments[0].map(([x, y]) => px(x, y))};
"""


def near(c, want, tol=40):
    return all(abs(a - b) <= tol for a, b in zip(c, want))


def main():
    procs = []
    driver = None
    work = tempfile.mkdtemp(prefix="brastok-browser-")
    try:
        http = free_port()
        server, udp = start_server(work, http, 3)
        procs.append(server)
        walker = subprocess.Popen([os.path.join(BUILD, "brastok_client"), "load", "-n", "1", "-t", "40",
                                   "--name", "Walker", f"127.0.0.1:{udp}"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(walker)
        url = f"http://127.0.0.1:{http}/"
        status = json.load(urllib.request.urlopen(url + "status.json", timeout=5))

        opts = webdriver.ChromeOptions()
        opts.binary_location = "/usr/bin/chromium"
        for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                  "--window-size=1000,760"):
            opts.add_argument(a)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)
        driver.set_page_load_timeout(15)
        driver.set_script_timeout(5)
        driver.get(url)

        # The map: a wall cell and a free cell of the map text, read at a
        # corner, where no item or marker is drawn.
        rows = status["map"]["text"][6:].split("\r")
        wall = next((c, r) for r, row in enumerate(rows, 1) for c, ch in enumerate(row, 1) if "A" <= ch <= "Z")
        free = next((c, r) for r, row in enumerate(rows, 1) for c, ch in enumerate(row, 1) if ch == " " and c > 1)
        corners = [[c * 64 + 2, r * 64 + 2] for c, r in (wall, free)]
        first = wait("the page's first picture of a live walker",
                     lambda: (lambda s: s if s and s["p"] else None)(driver.execute_script(PROBE, corners)))
        assert near(first["at"][0], WALL), f"wall cell {wall} drawn as {first['at'][0]}"
        assert near(first["at"][1], FREE), f"free cell {free} drawn as {first['at'][1]}"
        assert near(first["p"]["at"], TEAM0), f"marker drawn as {first['p']['at']}"

        # The walker moves a cell or more: its marker is drawn where it is
        # now, and no longer where it was.
        a = first["p"]

        def moved():
            s = driver.execute_script(PROBE, [[a["x"], a["y"]]])
            b = s and s["p"]
            if b and max(abs(b["x"] - a["x"]), abs(b["y"] - a["y"])) >= 64:
                return s
            return None
        later = wait("the walker to move a cell", moved, 20)
        assert near(later["p"]["at"], TEAM0), f"moved marker drawn as {later['p']['at']}"
        assert not near(later["at"][0], TEAM0, 10), "the marker is still drawn where it was"
        print(f"marker moved from ({a['x']},{a['y']}) to ({later['p']['x']},{later['p']['y']})"
              f" between ticks {first['tick']} and {later['tick']}")
        os.makedirs(os.path.dirname(os.path.abspath(SHOT)), exist_ok=True)
        driver.save_screenshot(SHOT)
        print("screenshot:", SHOT)

        # The server restarts on the same HTTP port: the page follows the new
        # one by itself (its tick counter starts again).
        before = driver.execute_script("return window.brastokView.state.tick")
        server.terminate()
        server.wait(5)
        walker.terminate()
        walker.wait(5)
        wait("the page to notice", lambda: driver.execute_script(
            "return document.getElementById('conn').textContent") != "live", 10)
        server, udp = start_server(work, http, 0)
        procs.append(server)
        walker = subprocess.Popen([os.path.join(BUILD, "brastok_client"), "load", "-n", "1", "-t", "20",
                                   "--name", "Again", f"127.0.0.1:{udp}"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(walker)
        wait("the page to follow the new server", lambda: driver.execute_script(
            "const s = window.brastokView.state;"
            "return document.getElementById('conn').textContent === 'live' &&"
            " s.slots.some(p => p.name.startsWith('Again')) && s.tick < arguments[0]", before), 20)
        print("live page: map drawn, marker follows the walker, reconnects after a restart")
    finally:
        if driver:
            driver.quit()
        for p in procs:
            if p.poll() is None:
                p.kill()
            p.wait()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
