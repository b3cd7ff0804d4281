"""What "-http" with a page open costs a loaded server, per tick.

    python3 bench/webcost.py [SECONDS] [PLAYERS] [ROUNDS]   (defaults: 20 s, 24 players, 3 rounds)

Runs two release servers side by side, each with its own load client
(build/brastok_client load -n PLAYERS): one plain, one with "-http 0" and
one open event stream, which is what an open live page reads. Over the load
run it reads the CPU time of each server's game thread (the main thread:
cycles and publishing) and of the whole process (the HTTP threads too, which
build one event per tick) from /proc, and divides by the ticks the players
counted. Side by side, both meet the same background load; the script prints
each round and the median of the rounds' ratios. Build first: make build."""
import http.client
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import threading

B = "build"
SECONDS, PLAYERS, ROUNDS = (int(a) for a in (sys.argv[1:] + ["20", "24", "3"][len(sys.argv) - 1:])[:3])


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


def run(name, with_http, out):
    work = tempfile.mkdtemp(prefix="brastok-webcost-")
    args = [os.path.abspath(f"{B}/brastok_server"), "-port", "0", "-maxplayers", "24"]
    if with_http:
        args += ["-http", "0"]
    p = subprocess.Popen(args, cwd=work, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    udp = hport = None
    for _ in range(4 if with_http else 3):
        line = p.stdout.readline()
        m = re.search(r"UDP port: (\d+)", line)
        udp = int(m.group(1)) if m else udp
        m = re.search(r"http://127.0.0.1:(\d+)/", line)
        hport = int(m.group(1)) if m else hport
    events = [0]
    stop = threading.Event()

    def page():
        c = http.client.HTTPConnection("127.0.0.1", hport, timeout=5)
        c.request("GET", "/events")
        r = c.getresponse()
        while not stop.is_set():
            line = r.fp.readline()
            if not line:
                break
            events[0] += line.startswith(b"data: ")
        c.close()

    reader = threading.Thread(target=page) if with_http else None
    if reader:
        reader.start()
    g0, w0 = cpu_ns(p.pid, False), cpu_ns(p.pid, True)
    load = subprocess.run([f"{B}/brastok_client", "load", "-n", str(PLAYERS), "-t", str(SECONDS), "--json",
                           f"127.0.0.1:{udp}"], capture_output=True, text=True)
    g1, w1 = cpu_ns(p.pid, False), cpu_ns(p.pid, True)
    stop.set()
    p.terminate()
    p.wait(5)
    if reader:
        reader.join(5)
    subprocess.run(["rm", "-rf", work])
    d = json.loads(load.stdout)
    ticks = d["state_packets"] / max(1, d["connected"])
    out[name] = ((g1 - g0) / 1000 / ticks, (w1 - w0) / 1000 / ticks, ticks, events[0])


print(f"{os.cpu_count()} cores, {SECONDS} s, {PLAYERS} players, {ROUNDS} rounds; "
      f"load average {os.getloadavg()[0]:.1f}")
rounds = []
for r in range(ROUNDS):
    out = {}
    t = [threading.Thread(target=run, args=("plain", False, out)),
         threading.Thread(target=run, args=("http", True, out))]
    for x in t:
        x.start()
    for x in t:
        x.join()
    (pg, pw, pt, _), (hg, hw, ht, he) = out["plain"], out["http"]
    print(f"  round {r + 1}: game thread {pg:6.1f} -> {hg:6.1f} us/tick ({hg / pg:.3f}); "
          f"whole process {pw:6.1f} -> {hw:6.1f} us/tick ({hw / pw:.3f}); "
          f"{int(ht)} ticks, {he} events read")
    rounds.append((hg / pg, hw / pw, pg, hg, pw, hw))
med = lambda i: statistics.median(x[i] for x in rounds)
print(f"game thread:   {med(2):.1f} us/tick plain, {med(3):.1f} with -http and a page open; "
      f"ratio {med(0):.3f} (median of rounds)")
print(f"whole process: {med(4):.1f} us/tick plain, {med(5):.1f} with -http and a page open; "
      f"ratio {med(1):.3f} (median of rounds)")
