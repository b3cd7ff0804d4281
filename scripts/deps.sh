#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are
# missing. Does nothing on a machine that has them all.
set -euo pipefail

need=(g++ make cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
      nlohmann-json3-dev libboost1.81-dev libssl-dev openssl iproute2 python3 python3-prometheus-client
      ccache)
# The tests of the browser game's modules run under Node.js.
command -v node >/dev/null 2>&1 || need+=(nodejs)
for a in "$@"; do
  case "$a" in
    --fuzz) need+=(clang libclang-rt-14-dev) ;;
    --valgrind) need+=(valgrind) ;;
    --windows) need+=(g++-mingw-w64-x86-64-posix) ;;
    --wine) need+=(wine64) ;;
    --package) need+=(dpkg-dev file) ;;
    --container) need+=(podman jq) ;;
    --web) need+=(chromium chromium-driver python3-selenium)
           command -v npm >/dev/null 2>&1 || need+=(nodejs npm) ;;
    # Node.js and npm for gamedig (tests/query) and the browser game's test
    # (tests/browser); a machine whose Node.js carries its own npm needs
    # neither package (Debian's npm would clash with it).
    --node) command -v npm >/dev/null 2>&1 || need+=(nodejs npm) ;;
    --all) need+=(clang libclang-rt-14-dev valgrind dpkg-dev file podman jq chromium chromium-driver
                  python3-selenium)
           command -v npm >/dev/null 2>&1 || need+=(nodejs npm) ;;
  esac
done

missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >&2
$sudo apt-get install -y -qq "${missing[@]}" >&2
