#!/bin/bash
# yuming-service with a large drop list (default 5,000,000 names), one thing at a time:
#   1. seeding a new database (unless BENCH_DB is given), and importing a ROWS-line drop list
#      into a new database when the service has an "import" command;
#   2. start-up on the existing database: process start to "listening on", median of 3;
#   3. resident memory (VmRSS, VmHWM) after start and after all the searches;
#   4. every kind of search under wrk (search_kinds.lua): req/s, p50, p99, in one table.
#
# usage: bench/drop_scale.sh SERVICE_BINARY
#   ROWS         names to seed or import (default 5000000)
#   BENCH_DB     reuse this database instead of seeding one (it is copied first: the service
#                may change the file it serves)
#   DURATION     length of each wrk run (default 10s)
#   CONNECTIONS  wrk connections (default 8)
#   IMPORT_FILE  the drop list to import (default: one made by bench/make_drop_list.py)
#   KEEP=1       keep the work folder (databases, wrk output, service logs)
#   WARMUP       length of the warm-up searches after the third start (default 2s; the search
#                index's block counts are worked out on a thread for the first seconds)
#   ONLY         run only these kinds of search (names separated by blanks, e.g. "all4 letters")
#
# Only one thing runs at a time: on two cores wrk and the service already compete with each
# other, so nothing else should run beside this.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
usage() { echo "usage: $0 SERVICE_BINARY   (environment: ROWS BENCH_DB DURATION CONNECTIONS IMPORT_FILE KEEP ONLY WARMUP)" >&2; exit 2; }
[ $# -eq 1 ] || usage
bin=$1
rows=${ROWS:-5000000}
duration=${DURATION:-10s}
connections=${CONNECTIONS:-8}
keep=${KEEP:-0}
warmup=${WARMUP:-2s}

fail() { echo "drop_scale.sh: $*" >&2; exit 2; }
[ -x "$bin" ] && [ -f "$bin" ] || fail "no service binary at $bin"
command -v wrk >/dev/null || fail "wrk is not installed (apt-get install wrk)"
[[ $rows =~ ^[1-9][0-9]*$ ]] || fail "ROWS must be a whole number above 0, not '$rows'"
[[ $connections =~ ^[1-9][0-9]*$ ]] || fail "CONNECTIONS must be a whole number above 0, not '$connections'"
[[ $warmup =~ ^[1-9][0-9]*[smh]?$ ]] || fail "WARMUP must be like 2s or 10s, not '$warmup'"
[[ $duration =~ ^[1-9][0-9]*[smh]?$ ]] || fail "DURATION must be like 10s, 2m or 30, not '$duration'"
if [ -n "${BENCH_DB:-}" ]; then [ -f "$BENCH_DB" ] && [ -r "$BENCH_DB" ] || fail "BENCH_DB: no readable file at $BENCH_DB"; fi
if [ -n "${IMPORT_FILE:-}" ]; then [ -f "$IMPORT_FILE" ] && [ -r "$IMPORT_FILE" ] || fail "IMPORT_FILE: no readable file at $IMPORT_FILE"; fi
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")

work=$(mktemp -d "${TMPDIR:-/tmp}/drop-scale.XXXXXX")
pid=
cleanup() {
    stop_service
    if [ "$keep" = 1 ]; then echo "work folder kept: $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

now_ns() { date +%s%N; }
ms_since() { echo $((($(now_ns) - $1) / 1000000)); }
status_kib() { sed -n "s/^$1:[[:space:]]*\([0-9]*\) kB$/\1/p" "/proc/$pid/status"; }
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }

stop_service() {
    if [ -n "$pid" ]; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        pid=
    fi
    exec 3<&-
}

# Starts the service on database $1 and waits for its "listening on" line, read from a pipe so
# the moment it is written is the moment it is seen. Sets pid, port and started_ms (process
# start to that line). The request log goes to a file of its own that rotates at 4 MiB.
start_service() {
    local db=$1 log=$2 line
    rm -f "$work/stdout"
    mkfifo "$work/stdout"
    local t0
    t0=$(now_ns)
    "$bin" --listen 127.0.0.1:0 --db "$db" --rows "$rows" --log "$log" --no-rdap >"$work/stdout" &
    pid=$!
    exec 3<"$work/stdout"
    # Seeding 5 M names takes minutes on this machine; an hour means something is wrong.
    while :; do
        if ! IFS= read -r -t 3600 line <&3; then
            echo "drop_scale.sh: the service did not start; its log ends:" >&2
            tail -n 5 "$log" >&2 2>/dev/null || true
            exit 1
        fi
        [[ $line != "listening on "* ]] || break
    done
    started_ms=$(ms_since "$t0")
    port=${line##*:}
}

names_in_log() { sed -n 's/^\([0-9]*\) names on the drop list.*$/\1/p' "$1" | tail -n 1; }

echo "yuming-service at scale: $bin"
load() { cut -d' ' -f1-3 /proc/loadavg; }
load_before=$(load)
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, wrk ${duration} per run, ${connections} connections"
echo

# 1. The database: seeded here, or a copy of BENCH_DB.
db=$work/service.sqlite
seed_note=
if [ -n "${BENCH_DB:-}" ]; then
    cp "$BENCH_DB" "$db"
    seed_note="not seeded: a copy of $BENCH_DB"
else
    echo "seeding $rows names ..." >&2
    start_service "$db" "$work/seed.log"
    seeded=$(sed -n 's/^database .* ready in \([0-9]*\) ms$/\1/p' "$work/seed.log" | head -n 1)
    stop_service
    seed_note="seeded in ${seeded:-?} ms (database ready), first start to listening ${started_ms} ms"
fi

import_note=
if "$bin" import --help >/dev/null 2>&1; then
    list=${IMPORT_FILE:-}
    if [ -z "$list" ] && [ -f "$here/make_drop_list.py" ]; then
        list=$work/drop-list.txt
        echo "making a $rows-line drop list with make_drop_list.py ..." >&2
        gen_help=$(python3 "$here/make_drop_list.py" --help 2>&1 || true)
        gen_args=()
        if grep -q -- '--count' <<<"$gen_help"; then gen_args+=(--count "$rows"); else gen_args+=("$rows"); fi
        if grep -q -- '--seed' <<<"$gen_help"; then gen_args+=(--seed 1); fi
        if grep -qE -- '--output|--out\b' <<<"$gen_help"; then
            out_opt=$(grep -oE -- '--output|--out\b' <<<"$gen_help" | head -n 1)
            python3 "$here/make_drop_list.py" "${gen_args[@]}" "$out_opt" "$list" || list=
        else
            python3 "$here/make_drop_list.py" "${gen_args[@]}" >"$list" || list=
        fi
        [ -n "$list" ] && [ -s "$list" ] || { import_note="skipped: make_drop_list.py made no file (see its --help)"; list=; }
    fi
    if [ -n "$list" ]; then
        lines=$(wc -l <"$list")
        echo "importing $lines lines ..." >&2
        t0=$(now_ns)
        if "$bin" import "$list" --db "$work/imported.sqlite" >"$work/import.out" 2>"$work/import.err"; then
            import_note="$(ms_since "$t0") ms for $lines lines: $(tail -n 1 "$work/import.out")"
        else
            import_note="FAILED ($(tail -n 1 "$work/import.err"))"
        fi
        rm -f "$work/imported.sqlite"
    elif [ -z "$import_note" ]; then
        import_note="skipped: no bench/make_drop_list.py and no IMPORT_FILE"
    fi
else
    import_note="skipped: this service has no import command"
fi

# 2. Start-up on the existing database, three times; the third one stays up for the searches.
starts=()
for round in 1 2 3; do
    echo "start $round of 3 ..." >&2
    start_service "$db" "$work/service-$round.log"
    starts+=("$started_ms")
    [ "$round" = 3 ] || stop_service
done
median_start=$(printf '%s\n' "${starts[@]}" | sort -n | sed -n 2p)
names=$(names_in_log "$work/service-3.log")
rss_start=$(status_kib VmRSS)
hwm_start=$(status_kib VmHWM)

# 3. Every kind of search, one wrk run each, after a short warm-up.
base="http://127.0.0.1:$port"
threads=$((connections < 2 ? 1 : 2))
KIND=contains2 wrk -t"$threads" -c"$connections" -d"$warmup" -s "$here/search_kinds.lua" "$base" >/dev/null

kinds=(
    "prefix|prefix (kaiwei=starts), 1-5 letters"
    "suffix|suffix (end), 1-5 letters"
    "startsend|prefix or suffix (startsend)"
    "contains1|contains (radom), 1 letter"
    "contains2|contains, 2 letters"
    "contains3|contains, 3 letters"
    "letters|contains, letters only (op=char)"
    "digits|contains digits, digits only (op=num)"
    "o_1|contains, sort o_1 (deletion time)"
    "o_2|contains, sort o_2 (name)"
    "o_3|contains, sort o_3 (suffix)"
    "o_4|contains, sort o_4 (length)"
    "o_5|contains, sort o_5 (day, length)"
    "deep200|contains 1 letter, page=200"
    "deep2000|contains 1 letter, page=2000"
    "deeptwo|contains 2 letters, pages 500 and 2000"
    "deepsorts|no keyword, 1 and 2 letters, pages 2000 and 5000, sorts o_1-o_4"
    "nokey|no keyword, pages 0-9"
    "nokey2000|no keyword, page=2000"
    "com|contains, com only"
    "all4|contains, all four suffixes"
)

# wrk writes latencies as 812.00us, 3.21ms or 1.02s.
to_ms() {
    awk -v v="$1" 'BEGIN {
        if (v ~ /us$/) { sub("us", "", v); printf "%.2f", v / 1000 }
        else if (v ~ /ms$/) { sub("ms", "", v); printf "%.2f", v }
        else if (v ~ /m$/) { sub("m", "", v); printf "%.0f", v * 60000 }
        else if (v ~ /s$/) { sub("s", "", v); printf "%.0f", v * 1000 }
        else printf "?" }'
}

table=$work/table
: >"$table"
for entry in "${kinds[@]}"; do
    kind=${entry%%|*}
    what=${entry#*|}
    if [ -n "${ONLY:-}" ] && [[ " $ONLY " != *" $kind "* ]]; then continue; fi
    echo "wrk: $kind ..." >&2
    out=$work/wrk-$kind
    KIND=$kind wrk -t"$threads" -c"$connections" -d"$duration" --timeout 10s --latency \
        -s "$here/search_kinds.lua" "$base" >"$out" 2>&1 || true
    rps=$(sed -n 's/^Requests\/sec:[[:space:]]*\([0-9.]*\)$/\1/p' "$out")
    p50=$(awk '$1 == "50%" { print $2 }' "$out")
    p99=$(awk '$1 == "99%" { print $2 }' "$out")
    non2xx=$(sed -n 's/^[[:space:]]*Non-2xx or 3xx responses: \([0-9]*\)$/\1/p' "$out")
    kib=$(awk '/requests in .* read$/ { v = $(NF - 1); n = $1; u = v; sub(/[0-9.]+/, "", u); sub(/[A-Za-z]+$/, "", v)
                                        f = (u == "GB") ? 1048576 : (u == "MB") ? 1024 : (u == "KB") ? 1 : 1 / 1024
                                        if (n > 0) printf "%.1f", v * f / n }' "$out")
    socket=$(sed -n 's/^[[:space:]]*Socket errors: \(.*\)$/\1/p' "$out")
    errors=
    [ -z "$non2xx" ] || errors="non-2xx $non2xx"
    [ -z "$socket" ] || errors="${errors:+$errors; }$socket"
    if [ -z "$rps" ]; then
        errors="wrk failed: $(head -n 1 "$out")"
        rps=0
    fi
    printf '| %s | %s | %.0f | %s | %s | %s | %s |\n' "$kind" "$what" "$rps" "$(to_ms "${p50:-?}")" \
        "$(to_ms "${p99:-?}")" "${kib:-?}" "${errors:-none}" >>"$table"
done
kill -0 "$pid" 2>/dev/null || { echo "drop_scale.sh: the service died during the searches (log: $work/service-3.log)" >&2; KEEP=1 keep=1; exit 1; }
rss_end=$(status_kib VmRSS)
hwm_end=$(status_kib VmHWM)
stop_service

echo "## $(printf "%'d" "${names:-0}") names on the drop list"
echo
echo "| step | measured |"
echo "|---|---|"
echo "| database | $seed_note |"
echo "| import of a drop list into a new database | $import_note |"
echo "| start-up (process start to \"listening on\"), median of 3 | ${median_start} ms (${starts[*]} ms) |"
echo "| memory after start: VmRSS / VmHWM | $(mib "$rss_start") MB / $(mib "$hwm_start") MB |"
echo "| memory after the searches: VmRSS / VmHWM | $(mib "$rss_end") MB / $(mib "$hwm_end") MB |"
echo "| load average (1, 5, 15 min) before / after | $load_before / $(load) |"
echo
echo "Searches, wrk ${duration} each, ${connections} connections, ${threads} threads, one kind at a time:"
echo
echo "| kind | search | req/s | p50 ms | p99 ms | KiB/answer | errors |"
echo "|---|---|---|---|---|---|---|"
cat "$table"
