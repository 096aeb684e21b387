#!/bin/bash
# How long a lookup takes with lookups asking the registries (the default, rdap = auto), in one
# run: online against a stand-in registry on loopback (python3 -m http.server), the first lookup
# of each name (asking it) and the same names again (answers kept); offline with the registry out
# of reach, a closed port and a host that does not resolve, the first lookup (the one that finds
# it down) and the following ones of names the database holds and does not hold; and the peer,
# the same lookups with --no-rdap (the database alone). Each figure is the median and the
# slowest of LOOKUPS (default 50) lookups sent one after another on one connection, in ms.
#
# usage: bench/offline_lookup.sh [yuming-service binary]
set -euo pipefail
. "$(dirname "$0")/await_service.sh"

here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/service/yuming-service}
lookups=${LOOKUPS:-50}
bench_workspace

command -v python3 >/dev/null || { echo "python3 is not installed" >&2; exit 2; }
[ -x "$bin" ] || { echo "no service binary at $bin" >&2; exit 2; }

# start NAME ARGS...: runs the service on the bench's database, sets $port and $pid.
start() {
    local name=$1
    shift
    "$bin" --listen 127.0.0.1:0 --db "$work/domains.sqlite" --time-zone UTC "$@" \
        >"$work/$name.out" 2>"$work/$name.err" &
    pid=$!
    pids="$pids $pid"
    await_service "$work/$name.out" "$work/$name.err" "$pid"
}
stop() { kill -TERM "$pid"; wait "$pid" 2>/dev/null || true; }
bootstrap() {
    printf '{"version":"1.0","services":[[["com","net","org"],["%s"]]]}\n' "$1" >"$work/$2.json"
}

# timed LABEL FILE: looks up the names of FILE, one after another; prints LABEL, median, slowest.
timed() {
    python3 - "$port" "$2" "$1" <<'PY'
import http.client, sys, time
conn = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=60)
times = []
for name in open(sys.argv[2]).read().split():
    start = time.perf_counter()
    conn.request("GET", "/whois/?domain=" + name + "&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3")
    conn.getresponse().read()
    times.append((time.perf_counter() - start) * 1000)
times.sort()
print("%-46s %8.2f %8.2f %5d" % (sys.argv[3], times[len(times) // 2], times[-1], len(times)))
PY
}

# The database (20,000 names) and the names looked up: held ones of com, net and org, and as
# many the database does not hold; the stand-in registry knows the held ones as active.
start seed --rows 20000 --no-rdap
stop
stand_in_registry
python3 - "$work" "$lookups" <<'PY'
import json, os, sqlite3, sys, time
work, count = sys.argv[1], int(sys.argv[2])
db = sqlite3.connect(os.path.join(work, "domains.sqlite"))
held = [n + "." + s for n, s in db.execute(
    "SELECT name, suffix FROM domains WHERE suffix IN ('com','net','org') ORDER BY id LIMIT ?", (count,))]
open(os.path.join(work, "held"), "w").write("\n".join(held) + "\n")
open(os.path.join(work, "unheld"), "w").write("\n".join("zz-unheld-%d.com" % i for i in range(count)) + "\n")
folder = os.path.join(work, "registry", "rdap", "domain")
os.makedirs(folder, exist_ok=True)
expiry = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(time.time() + 200 * 86400))
for name in held:
    json.dump({"objectClassName": "domain", "ldhName": name, "status": ["active"],
               "events": [{"eventAction": "expiration", "eventDate": expiry}]},
              open(os.path.join(folder, name), "w"))
PY
head -n 1 "$work/unheld" >"$work/first"
tail -n +2 "$work/unheld" >"$work/unheld-next"

echo "lookups on loopback, $(nproc) cores; ms per lookup"
printf '%-46s %8s %8s %5s\n' "" median slowest count

start online --rdap auto --rdap-bootstrap "$work/bootstrap.json" --rdap-rate 1000
timed "auto, registry reached: first lookup of a name" "$work/held"
timed "auto, registry reached: the same names again" "$work/held"
stop

bootstrap "http://127.0.0.1:1/rdap/" closed
bootstrap "http://no-such-registry.invalid/rdap/" unresolved
for down in closed unresolved; do
    start "$down" --rdap auto --rdap-bootstrap "$work/$down.json"
    timed "auto, registry $down: first lookup" "$work/first"
    timed "auto, registry $down: following, held" "$work/held"
    timed "auto, registry $down: following, not held" "$work/unheld-next"
    stop
done

start local --no-rdap
timed "--no-rdap (database alone): held" "$work/held"
timed "--no-rdap (database alone): not held" "$work/unheld"
stop
