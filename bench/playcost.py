"""What a browser player costs the server against a UDP player, at full load.

    python3 bench/playcost.py [SECONDS] [PLAYERS] [ROUNDS]
    (defaults: 20 s, 24 players, 3 rounds)

Runs two release servers side by side, both with "-http 0", each with its
own load client (build/brastok_client load -n PLAYERS: players that walk,
fight, respawn and chat): one played over UDP, the other over WebSocket,
through build/brastok_wsrelay, which gives each simulated player its own
/play/ws session, so the second server has only browser players. Over the
load run it reads the CPU time of each server's game thread and of the
whole process (the HTTP thread too, which reads and writes the sessions)
from /proc, and divides by the ticks the players counted and by the
players. Each round starts them in the other order. It prints each round
and the medians of the rounds' ratios.

Beside them run two floors, each with its own load client: the batched UDP
floor (build/brastok_floor -batch: one recvmmsg and one sendmmsg a tick, no
game) and the TCP floor (build/brastok_floor -tcp, through brastok_wsrelay
-raw: one recv and one send per player and tick, no WebSocket framing, no
game). Their ratio per datagram delivered is the least a player over TCP
can cost against a player over UDP, whatever the server does above the
socket. Build first: make build."""
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import threading

B = "build"
ARGV = sys.argv[1:] + ["20", "24", "3"][len(sys.argv) - 1:]
SECONDS, PLAYERS, ROUNDS = (int(a) for a in ARGV[:3])


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


def run(name, out):
    work = tempfile.mkdtemp(prefix="brastok-playcost-")
    if name in ("udp", "websocket"):
        args = [os.path.abspath(f"{B}/brastok_server"), "-port", "0", "-maxplayers", "24", "-http", "0"]
    else:
        args = [os.path.abspath(f"{B}/brastok_floor"), "-batch" if name == "udpfloor" else "-tcp"]
    p = subprocess.Popen(args, cwd=work, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    udp = hport = None
    for _ in range(4 if name in ("udp", "websocket") else 1):
        line = p.stdout.readline()
        m = re.search(r"(?:UDP|TCP) port: (\d+)", line)
        udp = int(m.group(1)) if m else udp
        m = re.search(r"http://127.0.0.1:(\d+)/", line)
        hport = int(m.group(1)) if m else hport
    relay = None
    target = udp
    if name in ("websocket", "tcpfloor"):
        relay = subprocess.Popen([f"{B}/brastok_wsrelay"] + (["-raw", str(udp)] if name == "tcpfloor" else [str(hport)]),
                                 stdout=subprocess.PIPE, text=True)
        target = int(relay.stdout.readline().split()[-1])
    g0, w0 = cpu_ns(p.pid, False), cpu_ns(p.pid, True)
    load = subprocess.run([f"{B}/brastok_client", "load", "-n", str(PLAYERS), "-t", str(SECONDS), "--json",
                           f"127.0.0.1:{target}"], capture_output=True, text=True)
    g1, w1 = cpu_ns(p.pid, False), cpu_ns(p.pid, True)
    if relay:
        relay.terminate()
        relay.wait(5)
    p.terminate()
    p.wait(5)
    subprocess.run(["rm", "-rf", work])
    d = json.loads(load.stdout)
    ticks = d["state_packets"] / max(1, d["connected"])
    per = PLAYERS * ticks
    out[name] = ((g1 - g0) / 1000 / per, (w1 - w0) / 1000 / per, ticks, d["connected"], d.get("kills", 0))


print(f"{os.cpu_count()} cores, {SECONDS} s, {PLAYERS} players, {ROUNDS} rounds, two servers side by side; "
      f"load average {os.getloadavg()[0]:.1f} before")
rounds = []
for r in range(ROUNDS):
    out = {}
    order = ["udp", "websocket", "udpfloor", "tcpfloor"]
    order = order if r % 2 == 0 else order[::-1]
    threads = [threading.Thread(target=run, args=(n, out)) for n in order]
    for x in threads:
        x.start()
    for x in threads:
        x.join()
    u, w = out["udp"], out["websocket"]
    f, t = out["udpfloor"], out["tcpfloor"]
    rounds.append((u, w, w[0] / u[0], w[1] / u[1], t[1] / f[1], f, t))
    print(f"  round {r + 1}: UDP {u[0]:.2f} / {u[1]:.2f} us per player-tick ({u[3]} players, {u[2]:.0f} ticks, "
          f"{u[4]} kills); WebSocket {w[0]:.2f} / {w[1]:.2f} ({w[3]} players, {w[2]:.0f} ticks, {w[4]} kills); "
          f"ratio {w[0] / u[0]:.3f} / {w[1] / u[1]:.3f}   [game thread / whole process]; "
          f"floors per datagram delivered: UDP batched {f[1]:.2f}, TCP {t[1]:.2f}, ratio {t[1] / f[1]:.3f}")
med = statistics.median
print(f"UDP player: {med(x[0][1] for x in rounds):.2f} us of server CPU per tick (whole process); "
      f"browser player: {med(x[1][1] for x in rounds):.2f}; ratio {med(x[3] for x in rounds):.3f} "
      f"(game thread alone {med(x[2] for x in rounds):.3f}), medians of the rounds")
print(f"floors: UDP batched {med(x[5][1] for x in rounds):.2f} us per datagram delivered, TCP "
      f"{med(x[6][1] for x in rounds):.2f}; ratio {med(x[4] for x in rounds):.3f}")
print(f"load average {os.getloadavg()[0]:.1f} after")
