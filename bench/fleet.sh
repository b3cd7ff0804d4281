#!/usr/bin/env bash
# Many servers on one machine.
#
#   bench/fleet.sh N [SECONDS]      (default 60 s)
#
# Starts N release servers (build/brastok_server -bots 23 -maxplayers 24) on
# free loopback ports, and against each one `brastok_client load -n 1`: one
# player, who makes the 23 bots join and play, for SECONDS. Then it prints
# the servers' CPU time over the run (all of them together, in percent of
# one core, from /proc/PID/schedstat; the load players' beside it), each
# server's resident memory at the end (and the part of it that is its own,
# not shared library pages), and how late the ticks came at the players:
# the spacing of the state packets each player received, over the nominal
# 30 ms, at the median and the 99th percentile (the worst server's and the
# median server's). It exits with 1 when a player saw a protocol anomaly or
# did not get in. Every process it starts is stopped before it ends. Build
# first with `make build`.
set -euo pipefail
cd "$(dirname "$0")/.."
N=${1:?usage: bench/fleet.sh N [SECONDS]}
RUN=${2:-60}
B=$PWD/build
for P in brastok_server brastok_client; do
  [ -x "$B/$P" ] || { echo "missing $B/$P: run make build" >&2; exit 2; }
done
WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for P in "${PIDS[@]}"; do kill -TERM "$P" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

LOAD0=$(cut -d' ' -f1-3 /proc/loadavg)
for I in $(seq "$N"); do
  mkdir -p "$WORK/$I/maps"
  (cd "$WORK/$I" && exec "$B/brastok_server" -port 0 -bots 23 -maxplayers 24 -name "fleet $I" \
    >out 2>err </dev/null) &
  PIDS+=($!)
done
PORTS=()
for I in $(seq "$N"); do
  PORT=""
  for _ in $(seq 200); do
    PORT=$(awk '/UDP initialized! UDP port:/ {print $NF; exit}' "$WORK/$I/out")
    [ -n "$PORT" ] && break
    sleep 0.05
  done
  [ -n "$PORT" ] || { echo "server $I did not start: $(cat "$WORK/$I/err")" >&2; exit 1; }
  PORTS+=("$PORT")
done

cpu() { # total CPU nanoseconds of the processes given
  local T=0
  for P in "$@"; do T=$((T + $(cut -d' ' -f1 "/proc/$P/schedstat" 2>/dev/null || echo 0))); done
  echo "$T"
}
CLIENTS=()
for I in $(seq "$N"); do
  "$B/brastok_client" load -n 1 -t "$RUN" --json --timeout 5 "127.0.0.1:${PORTS[$((I - 1))]}" \
    >"$WORK/$I/load.json" 2>"$WORK/$I/load.err" </dev/null &
  CLIENTS+=($!)
done
C0=$(cpu "${PIDS[@]}")
L0=$(cpu "${CLIENTS[@]}")
T0=$(date +%s%N)
sleep "$RUN"
C1=$(cpu "${PIDS[@]}")
L1=$(cpu "${CLIENTS[@]}")
T1=$(date +%s%N)
for I in $(seq "$N"); do
  awk '/^(VmRSS|RssAnon):/ {printf "%s ", $2}' "/proc/${PIDS[$((I - 1))]}/status" >"$WORK/$I/rss"
done
FAILED=0
for C in "${CLIENTS[@]}"; do wait "$C" || FAILED=$((FAILED + 1)); done

python3 - "$WORK" "$N" "$RUN" "$C0" "$C1" "$T0" "$T1" "$FAILED" "$LOAD0" "$L0" "$L1" <<'PY'
import json, os, statistics, sys
work, n, run, c0, c1, t0, t1, failed, load0, l0, l1 = sys.argv[1:]
n = int(n)
cores = os.cpu_count()
cpu = (int(c1) - int(c0)) / (int(t1) - int(t0)) * 100
players = (int(l1) - int(l0)) / (int(t1) - int(t0)) * 100
rss, anon, med, p99, bad = [], [], [], [], []
for i in range(1, n + 1):
    r, a = open(os.path.join(work, str(i), "rss")).read().split()
    rss.append(int(r))
    anon.append(int(a))
    try:
        j = json.load(open(os.path.join(work, str(i), "load.json")))
    except ValueError:
        bad.append("server %d: %s" % (i, open(os.path.join(work, str(i), "load.err")).read().strip()))
        continue
    s = j["state_spacing_ms"]
    if j["anomaly_count"] or j["connected"] != 1 or s["median"] is None:
        bad.append("server %d: %d anomalies, %d connected" % (i, j["anomaly_count"], j["connected"]))
        continue
    med.append(s["median"] - 30)
    p99.append(s["p99"] - 30)
print("fleet: %d servers, 23 bots and 1 load player each, %s s, %d cores; load average before: %s"
      % (n, run, cores, load0))
print("CPU of the servers: %.1f %% of one core in all, %.2f %% each; of the load players: %.1f %%"
      % (cpu, cpu / n, players))
print("resident memory (KiB): %s" % " ".join(str(r) for r in rss))
for what, v in (("resident", rss), ("of it private (anonymous)", anon)):
    print("  %s: min %d, median %d, max %d, total %d KiB" %
          (what, min(v), statistics.median(v), max(v), sum(v)))
if p99:
    worst = max(range(len(p99)), key=lambda k: p99[k])
    print("state spacing over 30 ms: median %+.1f ms (worst server %+.1f); 99th percentile: "
          "median server %+.1f ms, worst server %+.1f ms" %
          (statistics.median(med), max(med), statistics.median(p99), p99[worst]))
    print("99th percentiles, server by server: %s" % " ".join("%+.1f" % p for p in p99))
for b in bad:
    print("FAILED " + b)
sys.exit(1 if bad or int(failed) else 0)
PY
