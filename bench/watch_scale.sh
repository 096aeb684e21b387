#!/bin/bash
# The watchlist at 10,000 names (NAMES), with registry lookups off (the names are checked from the
# service's own database, so no registry is asked):
#   1. the service's resident memory (VmRSS) with an empty watchlist, after a GET /api/watch;
#   2. 10,000 names added in one POST /api/watch/add, and how long that takes;
#   3. GET /api/watch of all of them: the whole curl process, and `yuming-cli watch list` (which
#      finds the service through its record, asks the same and prints a TSV line a name) beside it
#      in the same runs, median of RUNS (default 11), with the ratio;
#   4. the resident memory with them, once every name has had its first check;
#   5. the registry requests a day the schedule makes for a stated mix (build/bench/watch_requests).
#
# usage: bench/watch_scale.sh SERVICE_BINARY [WATCH_REQUESTS_BINARY]
#   NAMES  watched names (default 10000, the most one request may add)
#   RUNS   GET /api/watch repetitions (default 11)
#   CLI    the yuming-cli binary (default: beside the service's build)
#   KEEP=1 keep the work folder
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/await_service.sh"
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 SERVICE_BINARY [WATCH_REQUESTS_BINARY]" >&2; exit 2; }
bin=$1
requests_bin=${2:-$(dirname "$bin")/../bench/watch_requests}
cli=${CLI:-$(dirname "$bin")/../src/yuming-cli}
names=${NAMES:-10000}
runs=${RUNS:-11}
[ -x "$bin" ] || { echo "watch_scale.sh: no service binary at $bin" >&2; exit 2; }
[[ $names =~ ^[1-9][0-9]*$ ]] && [ "$names" -le 10000 ] || { echo "NAMES: 1 to 10000" >&2; exit 2; }
command -v curl >/dev/null || { echo "watch_scale.sh: curl is not installed" >&2; exit 2; }

bench_workspace
export XDG_RUNTIME_DIR=$work/run XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_RUNTIME_DIR"
"$bin" --user --db "$work/service.sqlite" --rows 200000 --no-rdap >"$work/out" 2>"$work/err" &
pid=$!
pids="$pids $pid"
await_service "$work/out" "$work/err" "$pid"
token=$(sed -n 3p "$XDG_RUNTIME_DIR/yuming/service")
api() { curl -s -H "Authorization: Bearer $token" -H "Content-Type: application/json" "$@"; }
rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$pid/status"; }
now_ns() { date +%s%N; }

echo "watchlist at scale: $bin, $names names"
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores"
api "http://127.0.0.1:$port/api/watch" >/dev/null
rss_empty=$(rss)

# Names of the service's own drop list for the first half (they have dates), made-up ones for the rest.
python3 - "$names" "$work/service.sqlite" >"$work/add.json" <<'PY'
import json, sqlite3, sys
count = int(sys.argv[1])
db = sqlite3.connect(sys.argv[2])
listed = [f"{n}.{s}" for n, s in db.execute(
    "SELECT name, suffix FROM domains WHERE name NOT GLOB '*[^a-z0-9-]*' LIMIT ?", (count // 2,))]
made = [f"watch{i:05d}.{('com', 'net', 'org', 'cn')[i % 4]}" for i in range(count - len(listed))]
print(json.dumps({"names": listed + made}))
PY
t0=$(now_ns)
added=$(api --data-binary "@$work/add.json" "http://127.0.0.1:$port/api/watch/add")
add_ms=$((($(now_ns) - t0) / 1000000))

# Every name has had its first check once none is "unknown" any more.
for _ in $(seq 600); do
    api "http://127.0.0.1:$port/api/watch" >"$work/list.json"
    grep -q '"status":"unknown"' "$work/list.json" || break
    sleep 0.5
done
checked=$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(sum(1 for n in d["names"] if n["status"]!="unknown"), len(d["names"]))' "$work/list.json")

times=()
cli_times=()
for _ in $(seq "$runs"); do
    t0=$(now_ns)
    api -o /dev/null "http://127.0.0.1:$port/api/watch"
    times+=($((($(now_ns) - t0) / 1000)))
    if [ -x "$cli" ]; then
        t0=$(now_ns)
        "$cli" watch list >"$work/list.tsv"
        cli_times+=($((($(now_ns) - t0) / 1000)))
    fi
done
median_of() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }
median=$(median_of "${times[@]}")
bytes=$(stat -c %s "$work/list.json")
rss_full=$(rss)

printf '%-44s %s\n' "add $names names in one request" "$add_ms ms ($added)"
printf '%-44s %s\n' "names checked (first check) / watched" "$checked"
printf '%-44s %s\n' "GET /api/watch, whole curl process (median)" "$((median / 1000)).$(printf '%03d' $((median % 1000))) ms, $bytes bytes"
if [ ${#cli_times[@]} -gt 0 ]; then
    cli_median=$(median_of "${cli_times[@]}")
    printf '%-44s %s\n' "yuming-cli watch list, whole process (median)" "$((cli_median / 1000)).$(printf '%03d' $((cli_median % 1000))) ms, $(wc -l <"$work/list.tsv") lines; $(awk -v a="$cli_median" -v b="$median" 'BEGIN { printf "%.2f", a / b }') x curl"
fi
printf '%-44s %s\n' "VmRSS, empty watchlist" "$((rss_empty / 1024)) MiB ($rss_empty kB)"
printf '%-44s %s\n' "VmRSS, $names names" "$((rss_full / 1024)) MiB ($rss_full kB, +$((rss_full - rss_empty)) kB)"
if [ -x "$requests_bin" ]; then
    echo
    echo "registry requests a day for the mix (the schedule's own pace, default intervals):"
    "$requests_bin" "$names"
fi
