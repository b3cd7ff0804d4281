#!/usr/bin/env bash
# Runs every fuzzer for the given seconds, each from its checked-in seeds.
# New inputs go to fuzz-out/TARGET/ (not checked in); a crash leaves its input
# as fuzz-out/TARGET-crash-* and fails the run: copy it to
# fuzz/regressions/TARGET/ once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
status=0
for T in datagrams mapfile cmdline recording banfile console; do
  mkdir -p "fuzz-out/$T"
  echo "== fuzz_$T for ${SECONDS_EACH}s" >&2
  if ! ./build-fuzz/fuzz_$T -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
      -artifact_prefix="fuzz-out/$T-" "fuzz-out/$T" "fuzz/corpus/$T" 2>"fuzz-out/$T.log"; then
    tail -n 40 "fuzz-out/$T.log" >&2
    status=1
  else
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "fuzz-out/$T.log" >&2 || true
  fi
done
exit $status
