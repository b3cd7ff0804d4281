"""What "-http" with pages open costs a loaded server, per tick.

    python3 bench/webcost.py [SECONDS] [PLAYERS] [ROUNDS] [PAGES]
    (defaults: 20 s, 24 players, 3 rounds, pages "1,16")

Runs release servers side by side, each with its own load client
(build/brastok_client load -n PLAYERS): one plain, and one with "-http 0"
for each count in PAGES (comma-separated) with that many event streams
open, which is what open live pages read. Over the load run it reads the
CPU time of each server's game thread (the main thread: cycles and
publishing) and of the whole process (the HTTP thread too, which makes and
writes the events) from /proc, and divides by the ticks the players
counted. Side by side, all meet the same background load; each round
starts them in another order. The script prints each round and the median
of the rounds' ratios to the plain server, and the HTTP thread's own CPU
per tick over the plain server's (the part of the ratio that the game
threads' own noise does not blur). Build first: make build."""
import http.client
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time

B = "build"
ARGV = sys.argv[1:] + ["20", "24", "3", "1,16"][len(sys.argv) - 1:]
SECONDS, PLAYERS, ROUNDS = (int(a) for a in ARGV[:3])
PAGES = [int(p) for p in ARGV[3].split(",")]


def cpu_ns(pid, whole):
    """CPU nanoseconds of the main thread, or of every thread."""
    tasks = os.listdir(f"/proc/{pid}/task") if whole else [str(pid)]
    total = 0
    for t in tasks:
        try:
            with open(f"/proc/{pid}/task/{t}/schedstat") as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:
            pass
    return total


def page(hport, stop, events):
    """One open page: reads /events until STOP, counting the events."""
    c = http.client.HTTPConnection("127.0.0.1", hport, timeout=5)
    c.request("GET", "/events")
    r = c.getresponse()
    tail = b""
    while not stop.is_set():
        try:
            data = r.read1(65536)
        except (OSError, http.client.HTTPException):
            break
        if not data:
            break
        seen = tail + data
        events[0] += seen.count(b"data: ") - tail.count(b"data: ")
        tail = seen[-8:]
    c.close()


def run(name, pages, out):
    work = tempfile.mkdtemp(prefix="brastok-webcost-")
    args = [os.path.abspath(f"{B}/brastok_server"), "-port", "0", "-maxplayers", "24"]
    if pages is not None:
        args += ["-http", "0"]
    p = subprocess.Popen(args, cwd=work, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    udp = hport = None
    for _ in range(4 if pages is not None else 3):
        line = p.stdout.readline()
        m = re.search(r"UDP port: (\d+)", line)
        udp = int(m.group(1)) if m else udp
        m = re.search(r"http://127.0.0.1:(\d+)/", line)
        hport = int(m.group(1)) if m else hport
    events = [0]
    stop = threading.Event()
    readers = [threading.Thread(target=page, args=(hport, stop, events)) for _ in range(pages or 0)]
    for r in readers:
        r.start()
    time.sleep(0.2)  # the streams open before the load starts
    g0, w0 = cpu_ns(p.pid, False), cpu_ns(p.pid, True)
    load = subprocess.run([f"{B}/brastok_client", "load", "-n", str(PLAYERS), "-t", str(SECONDS), "--json",
                           f"127.0.0.1:{udp}"], capture_output=True, text=True)
    g1, w1 = cpu_ns(p.pid, False), cpu_ns(p.pid, True)
    stop.set()
    p.terminate()
    p.wait(5)
    for r in readers:
        r.join(5)
    subprocess.run(["rm", "-rf", work])
    d = json.loads(load.stdout)
    ticks = d["state_packets"] / max(1, d["connected"])
    out[name] = ((g1 - g0) / 1000 / ticks, (w1 - w0) / 1000 / ticks, ticks, events[0])


def loadavg():
    return os.getloadavg()[0]


configs = [("plain", None)] + [(f"{n} page{'s' if n != 1 else ''}", n) for n in PAGES]
print(f"{os.cpu_count()} cores, {SECONDS} s, {PLAYERS} players, {ROUNDS} rounds, "
      f"{len(configs)} servers side by side; load average {loadavg():.1f} before")
rounds = []
for r in range(ROUNDS):
    out = {}
    order = configs[r % len(configs):] + configs[:r % len(configs)]
    t = [threading.Thread(target=run, args=(name, pages, out)) for name, pages in order]
    for x in t:
        x.start()
    for x in t:
        x.join()
    pg, pw, pt, _ = out["plain"]
    row = {}
    text = f"  round {r + 1} (load average {loadavg():.1f}): plain {pg:6.1f} / {pw:6.1f} us/tick"
    for name, _ in configs[1:]:
        hg, hw, ht, he = out[name]
        row[name] = (hg / pg, hw / pw, hg, hw, (hw - hg) / pw)
        text += (f"; {name} {hg:6.1f} / {hw:6.1f} ({hg / pg:.3f} / {hw / pw:.3f}, "
                 f"HTTP thread {(hw - hg) / pw:.3f}, {he} events)")
    print(text + "   [game thread / whole process]")
    rounds.append((pg, pw, row))

med = statistics.median
print(f"plain: game thread {med(x[0] for x in rounds):.1f} us/tick, "
      f"whole process {med(x[1] for x in rounds):.1f} us/tick (medians)")
for name, _ in configs[1:]:
    print(f"{name}: game thread {med(x[2][name][2] for x in rounds):.1f} us/tick, ratio "
          f"{med(x[2][name][0] for x in rounds):.3f}; whole process "
          f"{med(x[2][name][3] for x in rounds):.1f} us/tick, ratio "
          f"{med(x[2][name][1] for x in rounds):.3f}; the HTTP thread alone "
          f"{med(x[2][name][4] for x in rounds):.3f} of the plain server (medians of the rounds)")
print(f"load average {loadavg():.1f} after")
