#!/bin/sh
# What answering lookups from registries costs yuming-service once their answers are kept:
#   1. lookups of 20 names answered from the database (offline) against the same lookups
#      answered from kept registry answers (--rdap), 8 connections each, the two services
#      taking turns in one run: the median ratio of the rounds (target: the kept answers cost
#      at most 10% more);
#   2. the service's resident memory before and after looking up N distinct names (default
#      5000) at a registry that knows none of them: the answers go to the database, not to
#      memory.
# A loopback HTTP server (python3 -m http.server) stands in for the registry.
#
# usage: bench/rdap_lookup.sh [yuming-service binary]
#   ROUNDS (default 6) of two wrk runs of DURATION (default 5s) each; NAMES (default 5000) for
#   the memory figure.
set -eu
. "$(dirname "$0")/await_service.sh"

here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/service/yuming-service}
duration=${DURATION:-5s}
rounds=${ROUNDS:-6}
distinct=${NAMES:-5000}
bench_workspace

command -v wrk >/dev/null || { echo "wrk is not installed" >&2; exit 2; }
command -v python3 >/dev/null || { echo "python3 is not installed" >&2; exit 2; }
[ -x "$bin" ] || { echo "no service binary at $bin" >&2; exit 2; }

# start NAME ARGS...: runs the service, sets $port and $pid.
start() {
    name=$1; shift
    "$bin" --listen 127.0.0.1:0 --db "$work/domains.sqlite" "$@" >"$work/$name.out" 2>"$work/$name.err" &
    pid=$!; pids="$pids $pid"
    await_service "$work/$name.out" "$work/$name.err" "$pid"
}
stop() { kill -TERM "$pid"; wait "$pid" 2>/dev/null || true; }
rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB$/\1/p' "/proc/$1/status"; }
p99() { awk '$1 == "99%" { print $2 }' "$1"; }
rps() { sed -n 's/^Requests\/sec:[[:space:]]*\([0-9.]*\)$/\1/p' "$1"; }

# The database, and 20 of its names: offline, lookups of these read their rows.
start seed --rows 200000 --no-rdap
stop
python3 - "$work" <<'PY'
import sqlite3, sys, os, json, time
work = sys.argv[1]
db = sqlite3.connect(os.path.join(work, "domains.sqlite"))
names = [n + "." + s for n, s in db.execute(
    "SELECT name, suffix FROM domains WHERE suffix IN ('com','net','org') ORDER BY id LIMIT 20")]
open(os.path.join(work, "names"), "w").write("\n".join(names) + "\n")
# The registry's answers for them: pending delete, changed an hour ago (kept for an hour).
folder = os.path.join(work, "registry", "rdap", "domain")
os.makedirs(folder)
changed = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(time.time() - 3600))
for name in names:
    json.dump({"objectClassName": "domain", "ldhName": name, "status": ["pending delete"],
               "events": [{"eventAction": "last changed", "eventDate": changed}]},
              open(os.path.join(folder, name), "w"))
PY

stand_in_registry

export LOOKUP_NAMES="$work/names"
start online --rdap --rdap-bootstrap "$work/bootstrap.json" --rdap-rate 1000
online_pid=$pid; online_port=$port
# The first lookup of each name asks the stand-in registry (and, a name's dates changing, rebuilds
# the drop list); from then on the answer is kept.
python3 - "$online_port" "$LOOKUP_NAMES" <<'PY'
import http.client, sys
conn = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=60)
for name in open(sys.argv[2]).read().split():
    conn.request("GET", "/whois/?domain=" + name)
    conn.getresponse().read()
PY
asked=$(grep -c '"GET /rdap/domain/' "$work/registry.out" || true)
start offline --no-rdap
offline_port=$port

# Both services run side by side and take turns, in the order ABBA, so that the machine's drift
# falls on both alike; each round's two runs give one ratio, and the median of them is reported.
bench() { wrk -t2 -c8 -d"$2" --latency -s "$here/lookup_names.lua" "http://127.0.0.1:$1"; }
bench "$offline_port" 2s >/dev/null
bench "$online_port" 2s >/dev/null
round=1
while [ "$round" -le "$rounds" ]; do
    if [ $((round % 2)) -eq 1 ]; then
        bench "$offline_port" "$duration" >"$work/offline.$round"
        bench "$online_port" "$duration" >"$work/online.$round"
    else
        bench "$online_port" "$duration" >"$work/online.$round"
        bench "$offline_port" "$duration" >"$work/offline.$round"
    fi
    echo "$(rps "$work/offline.$round") $(rps "$work/online.$round") $(p99 "$work/offline.$round") $(p99 "$work/online.$round")" >>"$work/rounds"
    round=$((round + 1))
done
pid=$online_pid

# Memory: distinct names the registry does not know, each asked once.
before=$(rss "$pid")
python3 - "$online_port" "$distinct" <<'PY'
import http.client, sys
port, count = int(sys.argv[1]), int(sys.argv[2])
conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
for i in range(count):
    conn.request("GET", "/whois/?domain=bench-unknown-%d.com" % i)
    conn.getresponse().read()
PY
after=$(rss "$pid")
kept=$(python3 -c "import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute('SELECT COUNT(*) FROM rdap_answers').fetchone()[0])" "$work/domains.sqlite")
stop

ratio=$(awk '{ print $1 / $2 }' "$work/rounds" | sort -n | awk '{ r[NR] = $1 } END { printf "%.3f", NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }')
ok=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.10) }')
echo "yuming-service lookups, 200,000-name database, $rounds rounds of ${duration} each, $(nproc) cores"
awk '{ printf "  round %d: offline %s req/s (p99 %s), kept answers %s req/s (p99 %s): %.3fx\n", NR, $1, $3, $2, $4, $1 / $2 }' "$work/rounds"
echo "  the registry was asked ${asked} times, for the first lookup of each name"
echo "  cost of a kept answer: ${ratio}x the offline lookup (median of the rounds)   target <= 1.10: $([ "$ok" = 1 ] && echo ok || echo MISSED)"
echo "  memory: RSS $((before / 1024)) MB before, $((after / 1024)) MB after ${distinct} distinct names ($kept answers kept)"
