#!/usr/bin/env python3
"""Soak: a full server for a long while, on 127.0.0.1.

The release server runs with 8 bots and a player limit of 24, and
brastok_client load plays 16 simulated players on it for SECONDS: bots and
players fill all 24 slots and all of them play. (More players could not
connect; fewer bots would leave the map changes, where 16 players race 8
new bots for the slots, untested. 16 players also stay inside one address's
24 connects in ten seconds when every one of them connects again at a map
change.) It passes when

  - the load tool exits with 0: every player connected, none was refused,
    no protocol anomaly;
  - memory is flat: the resident memory sampled at the end is not above the
    sample taken after the warm-up (a quarter of the run, at most a minute)
    by more than TOLERANCE KiB;
  - every slot the players held is freed at the end: the console's last
    line about each player is its disconnect line, and a status afterwards
    lists the bots and nobody else;
  - the server still runs and stops with status 0 on SIGTERM.

  scripts/soak.py [--seconds N] [--server BIN] [--client BIN]

Every process started here is stopped before the script ends.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import time

from brastok_run import CLIENT_BIN, SERVER_BIN, Server, verdict

BOTS = 8
PLAYERS = 16
MAXSLOTS = BOTS + PLAYERS
SCORE = 5
# Room for the heap and stdio pages a steady server may still touch for the
# first time late in a run (a rare event in a rare slot, a map change); a
# leak of one small block per tick, or per datagram, would pass it within
# minutes.
TOLERANCE = 256


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--seconds", type=int, default=int(os.environ.get("SOAK_SECONDS", "600")))
    ap.add_argument("--server", default=SERVER_BIN)
    ap.add_argument("--client", default=CLIENT_BIN)
    a = ap.parse_args()
    if a.seconds < 10:
        sys.exit("soak: --seconds must be at least 10")

    failures = []
    server = Server(a.server, ["-bots", str(BOTS), "-maxplayers", str(MAXSLOTS), "-score", str(SCORE)])
    try:
        failures = soak(server, a)
    finally:
        status = server.stop()
    if status != 0:
        failures.append("the server ended with status %s on SIGTERM" % status)
    if server.errors:
        failures.append("the server wrote to standard error: %s" % "\n".join(server.errors))
    verdict("soak", failures)


def soak(server, a):
    failures = []
    print("soak: %d players and %d bots on %s for %d s" % (PLAYERS, BOTS, server.addr, a.seconds))
    load = subprocess.Popen([a.client, "load", "-n", str(PLAYERS), "-t", str(a.seconds), "--json",
                             server.addr], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    warmup = min(60.0, a.seconds / 4)
    interval = max(1.0, min(10.0, a.seconds / 30))
    samples = []  # (seconds, KiB)
    start = time.monotonic()
    while load.poll() is None and time.monotonic() - start < a.seconds + 60:
        samples.append((time.monotonic() - start, server.rss_kib()))
        time.sleep(interval)
    try:
        out, err = load.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        load.kill()
        out, err = load.communicate()
        failures.append("the load run did not end in time")

    # The load run.
    try:
        j = json.loads(out)
    except ValueError:
        j = {}
        failures.append("no summary from the load run: %r %r" % (out, err))
    lat = j.get("input_latency_ticks", {})
    print("soak: %s state packets per player per second, input latency median %s p99 %s ticks, "
          "%s reconnects, log lines %s of %s, %s anomalies" %
          (j.get("state_packets_per_player_per_second"), lat.get("median"), lat.get("p99"),
           j.get("reconnects"), j.get("log_lines", {}).get("received"),
           j.get("log_lines", {}).get("expected"), j.get("anomaly_count")))
    if load.returncode != 0:
        failures.append("the load run ended with status %s: %s" % (load.returncode, err.strip()))
    if j and (j.get("anomaly_count") != 0 or j.get("connected") != PLAYERS or j.get("refused")):
        failures.append("load run: %s" % out.strip())

    # Memory.
    after = [kib for t, kib in samples if t >= warmup]
    if len(after) < 2:
        failures.append("too few memory samples after the warm-up: %s" % samples)
    else:
        base, last, top = after[0], after[-1], max(after)
        print("soak: resident memory %d KiB after the warm-up (%.0f s), %d KiB at the end, "
              "%d KiB at most; %d samples" % (base, warmup, last, top, len(samples)))
        if last > base + TOLERANCE:
            failures.append("memory grew from %d KiB to %d KiB" % (base, last))

    # Every player's slot is freed: its last line is its disconnect.
    names = ["load%d" % i for i in range(1, PLAYERS + 1)]
    tail = {}

    def all_left():
        tail.clear()
        for line in server.lines:
            m = re.fullmatch(r"(load\d+) (connected|disconnected|time out)!", line)
            if m:
                tail[m.group(1)] = m.group(2)
        return all(tail.get(n) == "disconnected" for n in names)

    # A player whose connect was still on its way when the run ended holds
    # a slot it never learned of: that one ends with its time-out, 255 ticks.
    if not server.wait_for(all_left, 12.0):
        failures.append("players still holding a slot: %s" %
                        [n for n in names if tail.get(n) != "disconnected"])
    maps = sum(1 for line in server.lines if line.endswith(" WINS!"))
    print("soak: %d console lines, %d matches won" % (len(server.lines), maps))

    # And a status shows only the bots.
    st = subprocess.run([a.client, "status", "--json", server.addr], stdin=subprocess.DEVNULL,
                        capture_output=True, text=True, timeout=30)
    try:
        players = [p["name"] for p in json.loads(st.stdout)["players"]]
    except (ValueError, KeyError):
        players = None
        failures.append("status failed (%d): %s %s" % (st.returncode, st.stdout, st.stderr))
    if players is not None:
        print("soak: status afterwards lists %s" % ", ".join(players))
        if sorted(players) != sorted("BOT #%d" % i for i in range(1, BOTS + 1)):
            failures.append("status afterwards lists %s, not just the %d bots" % (players, BOTS))
    if server.proc.poll() is not None:
        failures.append("the server is gone")
    return failures


if __name__ == "__main__":
    main()
