#!/usr/bin/env bash
# The container image (deploy/container/Dockerfile), built and run with
# podman where it is installed: the server starts in it as user 35700 on a
# sample map, answers the image's own client (status and a short load run
# from inside the container), its HEALTHCHECK passes while every slot is
# taken, and SIGTERM stops it
# with status 0. The image holds nothing but the programs, the maps, the
# libraries they link, the CA certificates and two small files of /etc.
#
# The build stage is replaced by the programs of build/ (this machine is the
# same Debian release), because no base image can be pulled where this runs;
# FULL=1 builds the Dockerfile's own Debian stage instead.
#
# Where setrlimit and the mixed cgroup hierarchy are denied to the container
# runtime (some sandboxes), the run goes through a small wrapper of crun
# that drops the container's resource limits and hides the cgroup v2 mount;
# where even that fails, the test says so and is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "container-test: $*"; }

if ! command -v podman >/dev/null; then
  say "skipped: podman is not installed"
  exit 0
fi
work=$(mktemp -d /tmp/brastok-container.XXXXXX)
pm=(podman --root "$work/root" --runroot "$work/run" --storage-driver vfs)
name=brastok-test-$$
cleanup() {
  "${pm[@]}" ${runtime:+--runtime "$runtime"} rm -f "$name" >/dev/null 2>&1 || true
  "${pm[@]}" image unmount -a >/dev/null 2>&1 || true
  "${pm[@]}" rmi -a -f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  say "FAILED: $*"
  exit 1
}

if [ "${FULL:-0}" = 1 ]; then
  "${pm[@]}" build --format docker -f deploy/container/Dockerfile -t brastok . >"$work/build.log" 2>&1 ||
    fail "build: $(tail -5 "$work/build.log")"
else
  deploy/container/rootfs.sh build "$work/ctx/rootfs"
  "${pm[@]}" build --format docker --build-context build="$work/ctx" \
    -f deploy/container/Dockerfile -t brastok . >"$work/build.log" 2>&1 ||
    fail "build: $(tail -5 "$work/build.log")"
fi
say "image built: $("${pm[@]}" image inspect --format '{{.Size}} bytes, user {{.Config.User}}, health check {{.HealthCheck.Test}}' brastok)"

# Each container gets a network of its own (loopback only), so the server
# listens on its default port whatever runs on this machine.
args=(run -d --name "$name" --network none brastok -name boxed -bots 23 -maxplayers 24 -map yard)
runtime=""
if ! "${pm[@]}" "${args[@]}" >"$work/run.log" 2>&1; then
  say "plain run failed: $(grep -o 'Error.*' "$work/run.log" | sed -n 1p)"
  "${pm[@]}" rm -f "$name" >/dev/null 2>&1 || true
  runtime="$work/bin/crun"
  mkdir -p "$work/bin"
  cat >"$runtime" <<'SHIM'
#!/bin/sh
for a in "$@"; do
  case "$prev" in --bundle | -b) f="$a/config.json" ;; --process | -p) f="$a" ;; esac
  prev="$a"
done
if [ -n "$f" ] && [ -f "$f" ]; then
  jq 'del(.process.rlimits) | del(.rlimits)' "$f" >"$f.new" && mv "$f.new" "$f"
fi
exec unshare -m --propagation private sh -c 'umount /sys/fs/cgroup/unified 2>/dev/null; exec /usr/bin/crun "$@"' crun "$@"
SHIM
  chmod +x "$runtime"
  if ! "${pm[@]}" --runtime "$runtime" "${args[@]:0:1}" --cgroups=disabled "${args[@]:1}" \
    >"$work/run.log" 2>&1; then
    say "skipped: the container cannot run here, even without resource limits and cgroups:"
    grep -o 'Error.*' "$work/run.log" | sed -n 1,3p
    exit 0
  fi
  say "running through the crun wrapper, without resource limits and cgroups"
  pm+=(--runtime "$runtime")
fi

ex() { "${pm[@]}" exec "$name" /usr/bin/brastok_client "$@" 127.0.0.1; }
for _ in 1 2 3 4 5 6 7 8 9 10; do
  ex status --json --timeout 1 >"$work/status" 2>/dev/null && break
done
status=$(cat "$work/status")
say "status from inside: $status"
echo "$status" | grep -q '"server":"boxed","map":"yard"' || fail "status: $status"
pid=$("${pm[@]}" inspect --format '{{.State.Pid}}' "$name")
grep -q '^Uid:[[:space:]]*35700[[:space:]]' "/proc/$pid/status" || fail "the server does not run as 35700"
# The player and the 23 bots fill every slot: the health check must still
# pass, or an orchestrator would restart a full server.
ex load -n 1 -t 3 >"$work/load" &
sleep 2
"${pm[@]}" healthcheck run "$name" 2>/dev/null || fail "the health check does not pass on a full server"
say "health check passed on a full server"
wait $! || fail "load run: $(cat "$work/load")"
grep 'anomalies' "$work/load"
fs=$("${pm[@]}" image mount brastok)
extra=$(cd "$fs" && find . -mindepth 1 -not -type d |
  grep -v -E '^\./(usr/bin/brastok_|usr/share/brastok/maps/|var/lib/brastok/maps/|lib/|lib64/|usr/lib/ssl/cert\.pem$|etc/(passwd|group)$)' || true)
[ -z "$extra" ] || fail "the image holds more than it needs: $extra"
"${pm[@]}" stop -t 10 "$name" >/dev/null 2>&1
code=$("${pm[@]}" inspect --format '{{.State.ExitCode}}' "$name")
[ "$code" = 0 ] || fail "the server stopped with status $code"
"${pm[@]}" logs "$name" 2>/dev/null | sed -n 1,3p
say passed
