#!/usr/bin/env bash
# yuming-cli fetching every page of a search against a service of its own: pages per second and
# the CLI's peak memory, for the preset search (all names about to expire) and for a search of
# a few pages, whose peak memory should be the same: rows are streamed out, never held.
# Usage: bench/all_pages.sh [BUILD_DIR]   (seeds a 200,000-name database in a temporary folder)
set -euo pipefail
build="${1:-$(cd "$(dirname "$0")/.." && pwd)/build}"
work=$(mktemp -d)
"$build/service/yuming-service" --db "$work/db.sqlite" --listen 127.0.0.1:0 --no-rdap >"$work/out" 2>/dev/null &
service=$!
trap 'kill $service 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 600); do grep -q listening "$work/out" && break; sleep 0.1; done
address=$(sed -n 's/^listening on //p' "$work/out")
run() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$build/src/yuming-cli" --service "$address" "$@" --all-pages \
    --delay 0 --quiet >"$work/rows"
  read -r seconds kb <"$work/time"
  pages=$(head -n 1 "$work/rows" | cut -f2)
  printf '%-28s %6s pages %8s s %8.0f pages/s  peak RSS %6.1f MB\n' "$*" "$pages" "$seconds" \
    "$(echo "$pages / $seconds" | bc -l)" "$(echo "$kb / 1024" | bc -l)"
}
run preset
run search --key ab
