#!/usr/bin/env bash
# `yuming-service import` of a large drop list: into a new database, and into one that already
# holds as many names (a second list of another seed, about a fifth of it the same names).
#   bench/import.sh [build/service/yuming-service] [COUNT]
# The lists are made once by bench/make_drop_list.py and kept in $IMPORT_BENCH_DIR
# (default /tmp/yuming-import-bench); each run prints the summary, wall time and peak memory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
service=${1:-$here/../build/service/yuming-service}
count=${2:-5000000}
dir=${IMPORT_BENCH_DIR:-/tmp/yuming-import-bench}
mkdir -p "$dir"

for seed in 1 2; do
  list=$dir/list-$count-$seed.txt
  [ -s "$list" ] || { echo "making $list"; "$here/make_drop_list.py" --count "$count" --seed "$seed" -o "$list"; }
done

timed() { /usr/bin/time -f "  %e s wall, %M KiB peak" "$@"; }
rm -f "$dir/new.sqlite" "$dir/new.sqlite-journal"
echo "== $count lines into a new database"
timed "$service" import "$dir/list-$count-1.txt" --db "$dir/new.sqlite"
echo "== $count lines into a database of $count names"
timed "$service" import "$dir/list-$count-2.txt" --db "$dir/new.sqlite"
echo "== the same list again (nothing changes)"
timed "$service" import "$dir/list-$count-2.txt" --db "$dir/new.sqlite"
rm -f "$dir/new.sqlite"
