#!/usr/bin/env bash
# First start of a day on a generated database, two builds taking turns.
#
#   BENCH_DB=/work/big/big5m.db bench/day_start.sh BEFORE AFTER
#
# BENCH_DB is a database a build has started today (as the seeding leaves it). Made from it once,
# with AFTER, and never served itself: the same file as if it had been made and last started
# yesterday, the landed way (generated rows one day earlier, dated and catalogue_day yesterday, a
# stored index of yesterday's list; AFTER moves the stored index back a day for it, started once
# on a copy marked as dated tomorrow). Then each round, for each build, on a fresh copy of that:
#   first    process start to "listening on": the first start of today;
#   again    the next start the same day (the file as the first start left it);
# ROUNDS (default 3). Prints one line per start and the service's own stderr lines; both builds
# must say the same number of names on the drop list.
set -euo pipefail

before=${1:?usage: day_start.sh BEFORE AFTER}
after=${2:?usage: day_start.sh BEFORE AFTER}
source_db=${BENCH_DB:?BENCH_DB names the database to copy}
rounds=${ROUNDS:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/day_start.XXXXXX")
pid=
cleanup() {
    [[ -z $pid ]] || kill "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

tomorrow=$(date -d tomorrow +%F)
yesterday=$(date -d yesterday +%F)
now_ns() { date +%s%N; }

# Starts $1 on $2 and prints the ms to its "listening on" line; stops it a second later, so the
# index it has to store again is stored on the way out.
timed_start() {
    local bin=$1 db=$2 line t0
    rm -f "$work/stdout"
    mkfifo "$work/stdout"
    t0=$(now_ns)
    "$bin" --listen 127.0.0.1:0 --db "$db" --no-rdap >"$work/stdout" 2>"$work/stderr" &
    pid=$!
    exec 3<"$work/stdout"
    while IFS= read -r -t 600 line <&3; do
        [[ $line != "listening on "* ]] || break
    done
    echo $((($(now_ns) - t0) / 1000000))
    sleep 1
    kill "$pid"
    wait "$pid" || true
    pid=
    exec 3<&-
}

made=$work/yesterday.sqlite
cp "$source_db" "$made"
sqlite3 "$made" "UPDATE meta SET value = '$tomorrow' WHERE key = 'dated'; DELETE FROM meta WHERE key IN ('shown', 'catalogue_dates')"
echo "index moved back a day: $(timed_start "$after" "$made") ms"
sed 's/^/    /' "$work/stderr"
sqlite3 "$made" "UPDATE domains SET expiry = datetime(expiry, '-1 days'), deletion = datetime(deletion, '-1 days') WHERE origin = 0;
UPDATE meta SET value = '$yesterday' WHERE key IN ('dated', 'catalogue_day');
DELETE FROM meta WHERE key IN ('shown', 'catalogue_dates');"

for round in $(seq "$rounds"); do
    for side in before after; do
        bin=$before
        [[ $side == after ]] && bin=$after
        db=$work/db.sqlite
        rm -f "$db" "$db-wal" "$db-shm"
        cp "$made" "$db"
        echo "round $round $side first: $(timed_start "$bin" "$db") ms"
        sed 's/^/    /' "$work/stderr" | grep -v 'stopped' || true
        echo "round $round $side again: $(timed_start "$bin" "$db") ms"
        sed 's/^/    /' "$work/stderr" | grep -v 'stopped' || true
    done
done
