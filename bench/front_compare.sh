#!/bin/sh
# Two builds of yuming-service side by side under crowds of clients (bench/front_bench.cpp):
#   slow clients:   0 / 64 / 300 / 1,000 connections trickling a request head in, one byte a
#                   second, and 1,000 of them with 256 busy kept-alive clients besides; for each,
#                   p50/p99 of 50 ordinary searches on new connections (timeout after 10 s)
#   kept alive:     8 / 64 / 256 connections asking prefix or contains searches one after another
#                   for 5 s: req/s, p99, errors, how many connections were answered at all, the
#                   fewest answers one of them got, and new-connection searches meanwhile
# Each service runs alone on the same 200,000-name database, its request log discarded.
#
# usage: bench/front_compare.sh BEFORE_BINARY AFTER_BINARY [front_bench binary] [database file]
set -eu
. "$(dirname "$0")/await_service.sh"

here=$(cd "$(dirname "$0")" && pwd)
before=$1
after=$2
bench=${3:-$here/../build/bench/front_bench}
db=${4:-${TMPDIR:-/tmp}/yuming-front-bench.sqlite}
work=$(mktemp -d)
pid=
cleanup() {
    if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

for f in "$before" "$after" "$bench"; do
    [ -x "$f" ] || { echo "not a program: $f" >&2; exit 2; }
done

slow="slow:0 slow:64 slow:300 slow:1000 mixed:1000:256"
busy="busy:8:prefix busy:8:contains busy:64:prefix busy:64:contains busy:256:prefix busy:256:contains"

# Runs every scenario against one binary; rows go to $work/$2.
measure() {
    cp "$db" "$work/db.sqlite"
    "$1" --listen 127.0.0.1:0 --db "$work/db.sqlite" --rows 200000 --no-rdap >"$work/out" 2>/dev/null &
    pid=$!
    await_service "$work/out" /dev/null "$pid"
    # shellcheck disable=SC2086
    "$bench" "$port" $slow $busy >"$work/$2"
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
    rm -f "$work/db.sqlite"
}

if [ ! -s "$db" ]; then
    echo "seeding $db (200,000 names)..." >&2
    "$after" --listen 127.0.0.1:0 --db "$db" --rows 200000 --no-rdap >"$work/out" 2>/dev/null &
    pid=$!
    until grep -q '^listening on ' "$work/out" 2>/dev/null; do sleep 0.2; done
    kill -TERM "$pid"; wait "$pid" 2>/dev/null || true; pid=
fi

started=$(date +%s)
measure "$before" before
measure "$after" after

echo "yuming-service under crowds of clients, 200,000 names, $(nproc) cores, $(($(date +%s) - started)) s"
echo
echo "Searches on new connections while slow clients trickle request heads (ms; timeouts at 10 s of 50):"
echo
echo "| slow clients | before p50 | before p99 | before timeouts | after p50 | after p99 | after timeouts |"
echo "|---|---|---|---|---|---|---|"
paste "$work/before" "$work/after" | awk -F '\t' '$1 ~ /^(slow|mixed)/ {
    name = $1; sub(/^slow:/, "", name); sub(/^mixed:/, "", name); sub(/:/, " + busy ", name)
    printf "| %s | %s | %s | %s | %s | %s | %s |\n", name, $2, $3, $4, $6, $7, $8 }'
echo
echo "Kept-alive clients asking one search after another for 5 s (answered: connections that got at"
echo "least one answer; fewest: answers to the least served one; newcomer: searches on new"
echo "connections meanwhile, ms, with timeouts of 50):"
echo
echo "| clients, search | before req/s | p99 ms | errors | answered | fewest | newcomer p50/p99 | after req/s | p99 ms | errors | answered | fewest | newcomer p50/p99 |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
paste "$work/before" "$work/after" | awk -F '\t' '$1 ~ /^busy/ {
    name = $1; sub(/^busy:/, "", name); sub(/:/, ", ", name)
    printf "| %s | %s | %s | %s | %s | %s | %s/%s (%s) | %s | %s | %s | %s | %s | %s/%s (%s) |\n",
           name, $2, $3, $4, $5, $6, $7, $8, $9, $11, $12, $13, $14, $15, $16, $17, $18 }'
