#!/bin/bash
# What a lookup that teaches the drop list costs on a large list: each service in turn (the one
# given first, "before", and the one given second, "after", alternating for ROUNDS rounds) serves a
# copy of BENCH_DB with --rdap against a stand-in registry (python3 -m http.server) that has every
# name it is asked about in pending delete, so each lookup puts a new name on the drop list. Per
# service and round: the time of each of LOOKUPS such lookups (curl, one after another), whether a
# search sent right after the lookup's answer finds the name, the service's VmRSS before the
# lookups, and its VmHWM once the list it rebuilds in the background is swapped in (once the
# service has used no CPU for 3 s, at most FOLD_WAIT seconds, default 120); then `import` of
# IMPORTED (default 1000) new names beside the running service, and its VmHWM (counted afresh)
# once it has switched to the imported list; last, the time of one search after each switch.
#
# usage: BENCH_DB=copy-of-a-large.db bench/learn_lookup.sh BEFORE-SERVICE AFTER-SERVICE
set -euo pipefail
. "$(dirname "$0")/await_service.sh"

before=${1:?usage: BENCH_DB=DB $0 BEFORE AFTER}
after=${2:?usage: BENCH_DB=DB $0 BEFORE AFTER}
db=${BENCH_DB:?BENCH_DB names the database to copy}
rounds=${ROUNDS:-2}
lookups=${LOOKUPS:-5}
foldWait=${FOLD_WAIT:-120}
imported=${IMPORTED:-1000}
bench_workspace

command -v curl >/dev/null || { echo "curl is not installed" >&2; exit 2; }

mkdir -p "$work/registry/rdap/domain"
stand_in_registry

# answer NAME: the registry has NAME.com in pending delete since an hour ago.
answer() {
    local changed
    changed=$(date -u -d '1 hour ago' +%Y-%m-%dT%H:%M:%SZ)
    printf '{"objectClassName":"domain","ldhName":"%s.com","status":["pending delete"],"events":[{"eventAction":"last changed","eventDate":"%s"}]}' \
        "$1" "$changed" >"$work/registry/rdap/domain/$1.com"
}

# settle PID: waits until PID has used no CPU for 3 s in a row (at most $foldWait s); prints the
# seconds waited.
settle() {
    local last="" quiet=0 waited=0 now
    while [ "$quiet" -lt 3 ] && [ "$waited" -lt "$foldWait" ]; do
        now=$(awk '{ print $14 + $15 }' "/proc/$1/stat")
        if [ "$now" = "$last" ]; then quiet=$((quiet + 1)); else quiet=0; fi
        last=$now; sleep 1; waited=$((waited + 1))
    done
    echo $((waited - 3))
}

search_ms() {
    curl -s -o /dev/null -w '%{time_total}' \
        "http://127.0.0.1:$1/s/?key=a&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do&page=0" |
        awk '{ printf "%.0f", $1 * 1000 }'
}

# searches_during PORT SECONDS: 4 clients, one after another each, sending one-letter contains
# searches (sort o_5) for SECONDS; prints the count, p50 and p99 of their times.
searches_during() {
    local end=$(( $(date +%s) + $2 )) c letters=abcdefghijklmnopqrstuvwxyz
    for c in 1 2 3 4; do
        (
            local k=0
            while [ "$(date +%s)" -lt "$end" ]; do
                k=$(( (k + 1) % 26 ))
                curl -s -o /dev/null -w '%{time_total}\n' \
                    "http://127.0.0.1:$1/s/?key=${letters:k:1}&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do&page=0"
            done
        ) >"$work/load.$c" &
    done
    wait
    cat "$work"/load.* | sort -n | awk '{ t[NR] = $1 * 1000 } END { printf "%d searches, p50 %.1f ms, p99 %.1f ms", NR, t[int(NR * 0.5) + 1], t[int(NR * 0.99) + 1] }'
}

status() { sed -n "s/^$2:[[:space:]]*\([0-9]*\) kB\$/\1/p" "/proc/$1/status"; }

# run LABEL BINARY ROUND
run() {
    local label=$1 bin=$2 round=$3 times="" seen=0 i name t pid port
    cp "$db" "$work/domains.sqlite"
    rm -f "$work/domains.sqlite-wal" "$work/domains.sqlite-shm"
    "$bin" --listen 127.0.0.1:0 --db "$work/domains.sqlite" --rdap --rdap-bootstrap "$work/bootstrap.json" \
        --rdap-rate 1000 >"$work/$label.out" 2>"$work/$label.err" &
    pid=$!; pids="$pids $pid"
    await_service "$work/$label.out" "$work/$label.err" "$pid"
    sleep 3 # the start's own work settles
    local rss
    rss=$(status "$pid" VmRSS)
    for i in $(seq "$lookups"); do
        name="qzlearn${round}x${i}$label"
        answer "$name"
        t=$(curl -s -o /dev/null -w '%{time_total}' \
            "http://127.0.0.1:$port/whois/?domain=$name.com&Whois%5B%5D=1&Whois%5B%5D=2&Whois%5B%5D=3")
        times="$times $(awk -v t="$t" 'BEGIN { printf "%.0f", t * 1000 }')"
        if curl -s "http://127.0.0.1:$port/s/?key=$name&kaiwei=radom&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do&page=0" |
            grep -q "$name"; then seen=$((seen + 1)); fi
    done
    local folded foldPeak firstSearch switched importPeak importSearch load=""
    if [ -n "${LOAD:-}" ]; then
        load="; searches during the fold: $(searches_during "$port" 15)"
    fi
    folded=$(settle "$pid")
    foldPeak=$(( $(status "$pid" VmHWM) / 1024 ))
    firstSearch=$(search_ms "$port")
    local deletion
    deletion=$(date -d '+10 days' '+%Y-%m-%d 02:30:00')
    for i in $(seq "$imported"); do printf 'qzimport%sx%s.com\t%s\n' "$i" "$round" "$deletion"; done >"$work/list.txt"
    # The peak is counted afresh for the import's switch.
    echo 5 >"/proc/$pid/clear_refs"
    local importStart importSecs
    importStart=$(date +%s)
    "$bin" import "$work/list.txt" --db "$work/domains.sqlite" >"$work/$label.import" 2>&1
    importSecs=$(( $(date +%s) - importStart ))
    switched=$(settle "$pid")
    importPeak=$(( $(status "$pid" VmHWM) / 1024 ))
    importSearch=$(search_ms "$port")
    local shows=no
    if curl -s "http://127.0.0.1:$port/s/?key=qzimport1x$round&kaiwei=starts&min=0&max=0&op=zahe&o=o_5&com=com&net=net&tsym=0&d=0&do=do&page=0" |
        grep -q "qzimport1x$round"; then shows=yes; fi
    printf '%-7s round %s: lookup ms%s; found by the next search %s/%s; VmRSS before %s MB%s\n' \
        "$label" "$round" "$times" "$seen" "$lookups" $(( rss / 1024 )) "$load"
    printf '%-7s round %s: fold settled after %s s, VmHWM %s MB, then a search %s ms; import of %s (%s s) settled after %s s, VmHWM %s MB, then a search %s ms (imported names shown: %s); VmRSS at the end %s MB\n' \
        "$label" "$round" "$folded" "$foldPeak" "$firstSearch" "$imported" "$importSecs" "$switched" "$importPeak" "$importSearch" "$shows" \
        $(( $(status "$pid" VmRSS) / 1024 ))
    kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
}

for round in $(seq "$rounds"); do
    run before "$before" "$round"
    run after "$after" "$round"
done
