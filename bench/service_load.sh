#!/bin/sh
# Load figures of yuming-service on loopback with a 200,000-name database:
#   1. prefix ("starts") searches, 8 connections: requests per second (target >= 2000)
#   2. contains ("radom") searches, 4 connections: 99th percentile latency (target < 50 ms)
#   3. resident memory of the service after both (target < 100 MB)
# and the time a fresh database takes to seed.
#
# usage: bench/service_load.sh [yuming-service binary] [database file]
#   DURATION (default 10s) sets the length of each wrk run. The database is seeded on first
#   use and reused afterwards; delete it to time the seeding again.
set -eu
. "$(dirname "$0")/await_service.sh"

here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/service/yuming-service}
db=${2:-${TMPDIR:-/tmp}/yuming-service-bench.sqlite}
duration=${DURATION:-10s}
work=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

command -v wrk >/dev/null || { echo "wrk is not installed" >&2; exit 2; }
[ -x "$bin" ] || { echo "no service binary at $bin" >&2; exit 2; }

# The request log would cost more than the requests; keep only the start-up lines.
"$bin" --listen 127.0.0.1:0 --db "$db" --rows 200000 --no-rdap >"$work/out" 2>"$work/err" &
pid=$!
await_service "$work/out" "$work/err" "$pid"
base="http://127.0.0.1:$port"
ready=$(sed -n 's/^database .* ready in \([0-9]*\) ms$/\1/p' "$work/err")
names=$(sed -n 's/^\([0-9]*\) names on the drop list$/\1/p' "$work/err")

# Warm the page cache and the allocator before measuring.
wrk -t2 -c4 -d2s -s "$here/service_keys.lua" "$base" >/dev/null

KAIWEI=starts wrk -t2 -c8 -d"$duration" --latency -s "$here/service_keys.lua" "$base" >"$work/prefix"
KAIWEI=radom wrk -t2 -c4 -d"$duration" --latency -s "$here/service_keys.lua" "$base" >"$work/contains"
rss_kib=$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$pid/status")
peak_kib=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$pid/status")

prefix_rps=$(sed -n 's/^Requests\/sec:[[:space:]]*\([0-9.]*\)$/\1/p' "$work/prefix")
prefix_p99=$(awk '$1 == "99%" { print $2 }' "$work/prefix")
contains_rps=$(sed -n 's/^Requests\/sec:[[:space:]]*\([0-9.]*\)$/\1/p' "$work/contains")
contains_p99=$(awk '$1 == "99%" { print $2 }' "$work/contains")
errors=$(cat "$work/prefix" "$work/contains" | grep -E 'Non-2xx|Socket errors' || true)

# wrk writes latencies as 812.00us, 3.21ms or 1.02s.
to_ms() {
    echo "$1" | awk '/us$/ { sub("us", ""); print $0 / 1000; next }
                     /ms$/ { sub("ms", ""); print $0 + 0; next }
                     /s$/  { sub("s", "");  print $0 * 1000 }'
}
contains_p99_ms=$(to_ms "$contains_p99")

verdict() { if [ "$1" = 1 ]; then echo "ok"; else echo "MISSED"; fi; }
ok_rps=$(awk -v v="$prefix_rps" 'BEGIN { print (v >= 2000) }')
ok_p99=$(awk -v v="$contains_p99_ms" 'BEGIN { print (v < 50) }')
ok_rss=$(awk -v v="$rss_kib" 'BEGIN { print (v < 100 * 1024) }')

echo "yuming-service load, $names names, ${duration} per run, $(nproc) cores"
echo "  database ready in ${ready} ms (seeding happens only when the file is new)"
echo "  prefix search, 8 connections:   ${prefix_rps} req/s (p99 ${prefix_p99})   target >= 2000 req/s: $(verdict "$ok_rps")"
echo "  contains search, 4 connections: p99 ${contains_p99} (${contains_rps} req/s)   target < 50 ms: $(verdict "$ok_p99")"
echo "  service memory: RSS $((rss_kib / 1024)) MB, peak $((peak_kib / 1024)) MB   target < 100 MB: $(verdict "$ok_rss")"
[ -z "$errors" ] || { echo "  wrk reported errors:"; echo "$errors"; }
[ "$ok_rps" = 1 ] && [ "$ok_p99" = 1 ] && [ "$ok_rss" = 1 ] && [ -z "$errors" ]
