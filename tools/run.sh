#!/usr/bin/env bash
# Installs what is missing, builds, starts the bundled search service on a free loopback port
# and opens the window against it. Without a display it runs one search with yuming-cli instead.
# Extra arguments go to the window (or, without a display, to `yuming-cli search`).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target yuming-service yuming-cli $( [ -f "$root/src/app/CMakeLists.txt" ] && echo yuming )

data="${XDG_DATA_HOME:-$HOME/.local/share}/yuming"
mkdir -p "$data"
log=$(mktemp)
"$build/service/yuming-service" --listen 127.0.0.1:0 --db "$data/service.sqlite" >"$log" 2>"$data/service.log" &
service_pid=$!
trap 'kill $service_pid 2>/dev/null; rm -f "$log"' EXIT
# The first start seeds the database; the service prints its address once it is ready.
for _ in $(seq 1 600); do
  grep -q '^listening on ' "$log" && break
  kill -0 $service_pid 2>/dev/null || { echo "yuming-service did not start; see $data/service.log" >&2; exit 1; }
  sleep 0.1
done
address=$(sed -n 's/^listening on //p' "$log" | head -n 1)
[ -n "$address" ] || { echo "yuming-service did not report its address" >&2; exit 1; }
echo "search service on $address (database $data/service.sqlite)"

if [ -x "$build/src/app/yuming" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  "$build/src/app/yuming" --service "$address" "$@"
else
  echo "No display: running one search with yuming-cli instead of opening the window." >&2
  "$build/src/yuming-cli" --service "$address" search "$@"
fi
