#!/usr/bin/env bash
# Whole-process cost of the server at full load, against the floor program.
#
#   bench/measure.sh [SECONDS] [PLAYERS] [ROUNDS]   (defaults: 30 s, 24 players, 3 rounds)
#   FILES=1 bench/measure.sh ...   the server against itself with -log and -record
#
# Starts the release server (build/brastok_server -maxplayers 24) on a free
# loopback port, runs `brastok_client load -n PLAYERS -t SECONDS` against it,
# and reads the server's CPU time from /proc over the client's run; then the
# same with the floor program (build/brastok_floor), which does only the
# system work of a tick, once moving each datagram with its own system call
# (floor) and once in batches (bfloor: recvmmsg and sendmmsg). Server and
# floors run side by side, each with its own load client, ROUNDS times, so
# all meet the same background load (this virtual machine's CPU accounting
# swings by half from minute to minute); the medians are printed: CPU
# microseconds per tick for each, the server's ratio to each floor, the
# server's peak resident memory, and the CPU per datagram each program sent
# (the server sends log and map packets besides the state packets, which
# the floors do not). Build first with `make build`.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_RUN=${1:-30}
PLAYERS=${2:-24}
ROUNDS=${3:-3}
B=build
for P in brastok_server brastok_floor brastok_client; do
  [ -x "$B/$P" ] || { echo "missing $B/$P: run make build" >&2; exit 2; }
done
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# measure NAME COMMAND...: prints "NAME CPU_US_PER_TICK TICKS PEAK_RSS_KIB UTIME_MS STIME_MS
# CPU_US_PER_DATAGRAM_SENT"
measure() {
  local NAME=$1; shift
  "$@" -port 0 > "$WORK/$NAME.out" 2>&1 &
  local PID=$!
  trap "kill $PID 2>/dev/null || true" EXIT
  local PORT=""
  for _ in $(seq 100); do
    PORT=$(awk '/UDP initialized! UDP port:/ {print $NF; exit}' "$WORK/$NAME.out")
    [ -n "$PORT" ] && break
    sleep 0.05
  done
  [ -n "$PORT" ] || { echo "$NAME did not start" >&2; exit 1; }
  local CPU0
  CPU0=$(awk '{print $1}' /proc/$PID/schedstat)
  local U0 S0
  read -r U0 S0 < <(awk '{print $14, $15}' /proc/$PID/stat)
  "$B/brastok_client" load -n "$PLAYERS" -t "$SECONDS_RUN" --json "127.0.0.1:$PORT" > "$WORK/$NAME.json" || true
  local CPU1 U1 S1
  CPU1=$(awk '{print $1}' /proc/$PID/schedstat)
  read -r U1 S1 < <(awk '{print $14, $15}' /proc/$PID/stat)
  local HWM
  HWM=$(awk '/VmHWM/ {print $2}' /proc/$PID/status)
  kill -TERM $PID; wait $PID 2>/dev/null || true
  # Ticks covered: the state packets each player received over the run.
  local TICKS
  TICKS=$(python3 -c "import json,sys; d=json.load(open('$WORK/$NAME.json')); print(d['state_packets']/max(1,d['connected']))")
  # Datagrams the program sent: what its players received.
  local OUT
  OUT=$(python3 -c "import json,sys; print(json.load(open('$WORK/$NAME.json'))['datagrams_received'])")
  local HZ
  HZ=$(getconf CLK_TCK)
  python3 -c "
cpu=($CPU1-$CPU0)/1000.0; t=$TICKS
print('$NAME', round(cpu/t,1), int(t), $HWM, ($U1-$U0)*1000//$HZ, ($S1-$S0)*1000//$HZ, round(cpu/max(1,$OUT),2))"
}

# FILES=1: beside the server runs the server again with the JSON log and a
# recording (into the scratch folder) instead of the floors: what they cost.
OTHERS=("floor $B/brastok_floor" "bfloor $B/brastok_floor -batch")
if [ -n "${FILES:-}" ]; then
  OTHERS=("files $B/brastok_server -maxplayers 24 -log $WORK/log.jsonl -record $WORK/rec")
fi
echo "date: $(date -u +%Y-%m-%d), $(nproc) cores, $SECONDS_RUN s, $PLAYERS players, $ROUNDS rounds;" \
  "load average before: $(cut -d' ' -f1-3 /proc/loadavg); commit $(git rev-parse --short HEAD 2>/dev/null || echo '?')"
for R in $(seq "$ROUNDS"); do
  measure server "$B/brastok_server" -maxplayers 24 > "$WORK/server$R" &
  K=0
  for O in "${OTHERS[@]}"; do
    # shellcheck disable=SC2086 # the name and the command, split on purpose
    measure $O > "$WORK/other$R.$K" &
    K=$((K + 1))
  done
  wait
  cat "$WORK/server$R" "$WORK"/other"$R".* >> "$WORK/all"
done
python3 - "$WORK/all" "${#OTHERS[@]}" <<'PY'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
per = 1 + int(sys.argv[2])  # rows of one round: the server first
def med(name, col):
    return statistics.median(float(r[col]) for r in rows if r[0] == name)
for r in rows:
    print(f"  {r[0]:6} {r[1]:>7} us/tick over {r[2]} ticks, user {r[4]} ms, system {r[5]} ms; "
          f"{r[6]} us per datagram sent")
rounds = [rows[i:i + per] for i in range(0, len(rows), per)]
print(f"server: {med('server', 1):.1f} us CPU per tick (median); peak RSS {int(med('server', 3))} KiB")
for k in range(1, per):
    other = rounds[0][k][0]
    print(f"{other + ':':7} {med(other, 1):.1f} us CPU per tick (median)")
for name in [r[0] for r in rounds[0]]:
    print(f"{name + ':':7} {med(name, 6):.2f} us CPU per datagram sent (median)")
for k in range(1, per):
    other = rounds[0][k][0]
    # Each round's server against the program that ran beside it.
    ratios = [float(r[0][1]) / float(r[k][1]) for r in rounds]
    print(f"ratio server/{other}: {statistics.median(ratios):.2f} (median of the rounds: "
          + ", ".join(f"{x:.2f}" for x in ratios) + ")")
PY
