#!/usr/bin/env bash
# Many servers on one machine.
#
#   bench/fleet.sh N [SECONDS] [RUNS]      (defaults: 60 s, 1 run)
#   PLAYERS=each bench/fleet.sh ...        one load process per server, as before
#
# Starts N release servers (build/brastok_server -bots 23 -maxplayers 24) on
# free loopback ports, and one `brastok_client load -n 1` process that plays
# one player on every one of them (the player makes the 23 bots join and
# play) for SECONDS, moving its datagrams in batches. Then it prints the CPU
# time over the run of the servers (all of them together, in percent of one
# core, from /proc/PID/schedstat) and of the load process beside it (both
# over the same SECONDS, the players playing a second longer), each
# server's resident memory at the end (and the part of it that is its own,
# not shared library pages), and how late the ticks came at the players: the
# spacing of the state packets each player received (stamped by the system
# as they arrived), over the nominal 30 ms, at the median and the 99th
# percentile (the worst server's and the median server's). RUNS repeats it
# all, each time with new servers, and ends with how many runs kept every
# server's 99th percentile within 5 ms over 30. It exits with 1 when a player
# saw a protocol anomaly or did not get in. Every process it starts is
# stopped before it ends. Build first with `make build`.
set -euo pipefail
cd "$(dirname "$0")/.."
N=${1:?usage: bench/fleet.sh N [SECONDS] [RUNS]}
RUN=${2:-60}
RUNS=${3:-1}
B=$PWD/build
for P in brastok_server brastok_client; do
  [ -x "$B/$P" ] || { echo "missing $B/$P: run make build" >&2; exit 2; }
done
WORK=$(mktemp -d)
PIDS=()
CLIENTS=()
cleanup() {
  for P in "${PIDS[@]}" "${CLIENTS[@]}"; do kill -TERM "$P" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

cpu() { # total CPU nanoseconds of the processes given, read at once
  local P F=()
  for P in "$@"; do F+=("/proc/$P/schedstat"); done
  # %.0f: mawk's %d stops at 2^31, a few seconds of nanoseconds
  cat "${F[@]}" 2>/dev/null | awk '{T += $1} END {printf "%.0f\n", T}'
}

# One run: N servers and their players; its summary on standard output.
fleet() {
  local R=$1 DIR="$WORK/run$1"
  local LOAD0 I PORT
  LOAD0=$(cut -d' ' -f1-3 /proc/loadavg)
  PIDS=()
  CLIENTS=()
  for I in $(seq "$N"); do
    mkdir -p "$DIR/$I/maps"
    (cd "$DIR/$I" && exec "$B/brastok_server" -port 0 -bots 23 -maxplayers 24 -name "fleet $I" \
      >out 2>err </dev/null) &
    PIDS+=($!)
  done
  local ADDRS=()
  for I in $(seq "$N"); do
    PORT=""
    for _ in $(seq 200); do
      PORT=$(awk '/UDP initialized! UDP port:/ {print $NF; exit}' "$DIR/$I/out")
      [ -n "$PORT" ] && break
      sleep 0.05
    done
    [ -n "$PORT" ] || { echo "server $I did not start: $(cat "$DIR/$I/err")" >&2; exit 1; }
    ADDRS+=("127.0.0.1:$PORT")
  done
  if [ "${PLAYERS:-}" = each ]; then
    for I in $(seq "$N"); do
      "$B/brastok_client" load -n 1 -t "$((RUN + 1))" --json --timeout 5 "${ADDRS[$((I - 1))]}" \
        >"$DIR/load.$I.json" 2>>"$DIR/load.err" </dev/null &
      CLIENTS+=($!)
    done
  else
    "$B/brastok_client" load -n 1 -t "$((RUN + 1))" --json --timeout 5 "${ADDRS[@]}" \
      >"$DIR/load.json" 2>"$DIR/load.err" </dev/null &
    CLIENTS+=($!)
  fi
  local C0 L0 T0 C1 L1 T1
  # The players play a second longer than the window in which both are
  # measured, so they are all still there at its end.
  L0=$(cpu "${CLIENTS[@]}")
  C0=$(cpu "${PIDS[@]}")
  T0=$(date +%s%N)
  sleep "$RUN"
  L1=$(cpu "${CLIENTS[@]}")
  C1=$(cpu "${PIDS[@]}")
  T1=$(date +%s%N)
  for I in $(seq "$N"); do
    awk '/^(VmRSS|RssAnon):/ {printf "%s ", $2}' "/proc/${PIDS[$((I - 1))]}/status" >"$DIR/$I/rss"
  done
  local FAILED=0 C
  for C in "${CLIENTS[@]}"; do wait "$C" || FAILED=$((FAILED + 1)); done
  for P in "${PIDS[@]}"; do kill -TERM "$P" 2>/dev/null || true; done
  for P in "${PIDS[@]}"; do wait "$P" 2>/dev/null || true; done
  PIDS=()
  CLIENTS=()
  cat "$DIR"/load*.json >"$DIR/all.json" 2>/dev/null || true
  python3 - "$DIR" "$N" "$RUN" "$C0" "$C1" "$L0" "$L1" "$T0" "$T1" "$FAILED" "$LOAD0" \
    "${ADDRS[@]}" <<'PY'
import json, os, statistics, sys
d, n, run, c0, c1, l0, l1, t0, t1, failed, load0 = sys.argv[1:12]
addrs = sys.argv[12:]
n = int(n)
span = int(t1) - int(t0)
cpu = (int(c1) - int(c0)) / span * 100
players = (int(l1) - int(l0)) / span * 100
runs = {}
for line in open(os.path.join(d, "all.json")):
    try:
        j = json.loads(line)
    except ValueError:
        continue
    runs[j["server"]] = j
err = open(os.path.join(d, "load.err")).read().strip()
rss, anon, med, p99, bad = [], [], [], [], []
for i in range(1, n + 1):
    r, a = open(os.path.join(d, str(i), "rss")).read().split()
    rss.append(int(r))
    anon.append(int(a))
    j = runs.get(addrs[i - 1])
    if j is None:
        bad.append("server %d: no report (%s)" % (i, err or "the load process failed"))
        continue
    s = j["state_spacing_ms"]
    if j["anomaly_count"] or j["connected"] != 1 or s["median"] is None:
        bad.append("server %d: %d anomalies, %d connected" % (i, j["anomaly_count"], j["connected"]))
        continue
    med.append(s["median"] - 30)
    p99.append(s["p99"] - 30)
print("fleet: %d servers, 23 bots and 1 load player each, %s s, %d cores; load average before: %s"
      % (n, run, os.cpu_count(), load0))
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
kept = not bad and not int(failed) and len(p99) == n and max(p99) <= 5.0
print("every server within 5 ms at the 99th percentile: %s" % ("yes" if kept else "no"))
for b in bad:
    print("FAILED " + b)
sys.exit(1 if bad or int(failed) else (0 if kept else 3))
PY
}

echo "commit $(git rev-parse --short HEAD 2>/dev/null || echo '?'), $(date -u '+%Y-%m-%d %H:%M') UTC"
KEPT=0
STATUS=0
for R in $(seq "$RUNS"); do
  [ "$RUNS" -gt 1 ] && echo "run $R of $RUNS"
  S=0
  fleet "$R" || S=$?
  [ "$S" -eq 0 ] && KEPT=$((KEPT + 1))
  [ "$S" -eq 1 ] && STATUS=1
  rm -rf "$WORK/run$R"
done
if [ "$RUNS" -gt 1 ]; then
  echo "$N servers kept every 99th percentile within 5 ms in $KEPT of $RUNS runs"
fi
exit "$STATUS"
