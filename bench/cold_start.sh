#!/usr/bin/env bash
# The first search with no service running (the service starts on an existing database, then
# answers), and the cost of finding a running service against naming its address.
# Usage: bench/cold_start.sh [BUILD_DIR]   (needs hyperfine)
set -euo pipefail
build="${1:-$(cd "$(dirname "$0")/.." && pwd)/build}"
cli="$build/src/yuming-cli"
home=$(mktemp -d)
export HOME="$home" XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/.config"
unset XDG_DATA_HOME XDG_CACHE_HOME
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The service the tool starts answers from its database alone.
mkdir -p "$XDG_CONFIG_HOME/yuming" && echo "rdap = off" >"$XDG_CONFIG_HOME/yuming/service.conf"
stop() {
  local pid
  pid=$(sed -n 2p "$XDG_RUNTIME_DIR/yuming/service" 2>/dev/null) || true
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || true
  while kill -0 "$pid" 2>/dev/null; do sleep 0.01; done
}
trap 'stop; rm -rf "$home"' EXIT
export -f stop

"$cli" search >/dev/null 2>&1 # seeds the default 200,000 names
echo "database: $(du -h "$home/.local/share/yuming/service.sqlite" | cut -f1)"

hyperfine -N --warmup 1 --runs 15 --prepare 'bash -c stop' -n 'cold: start the service + first search' \
  "$cli search"

"$cli" search >/dev/null 2>&1
address=$(head -n 1 "$XDG_RUNTIME_DIR/yuming/service")
hyperfine -N --warmup 5 --runs 60 -n 'running service, found' "$cli search" \
  -n "running service, --service $address" "$cli --service $address search"
