#!/usr/bin/env bash
# `yuming-service import` of one 5 M-line drop list from a zip archive and from the same file
# uncompressed, in the same run, each into a new database, in turns (plain, zip, plain, zip) so the
# machine's drift falls on both alike; prints each time and the ratio of the zip's to the plain's.
#   bench/zip_import.sh [build/service/yuming-service] [COUNT]
# The list is made once by bench/make_drop_list.py and kept in $IMPORT_BENCH_DIR
# (default /tmp/yuming-import-bench), beside the ones bench/import.sh makes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
service=${1:-$here/../build/service/yuming-service}
count=${2:-5000000}
rounds=${ROUNDS:-2}
dir=${IMPORT_BENCH_DIR:-/tmp/yuming-import-bench}
mkdir -p "$dir"

list=$dir/list-$count-1.txt
archive=$dir/list-$count-1.zip
[ -s "$list" ] || { echo "making $list"; "$here/make_drop_list.py" --count "$count" --seed 1 -o "$list"; }
[ -s "$archive" ] || python3 - "$list" "$archive" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    z.write(sys.argv[1], "drops.txt")
PY
echo "list $(stat -c %s "$list") bytes, zip $(stat -c %s "$archive") bytes"

# Seconds one import into a new database takes.
timed() {
  rm -f "$dir/zip-bench.sqlite" "$dir/zip-bench.sqlite-wal" "$dir/zip-bench.sqlite-journal"
  local start end
  start=$(date +%s.%N)
  "$service" import "$1" --db "$dir/zip-bench.sqlite" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

plain=0
zip=0
for round in $(seq "$rounds"); do
  p=$(timed "$list")
  z=$(timed "$archive")
  echo "round $round: plain $p s, zip $z s"
  plain=$(awk -v a="$plain" -v b="$p" 'BEGIN { print a + b }')
  zip=$(awk -v a="$zip" -v b="$z" 'BEGIN { print a + b }')
done
rm -f "$dir/zip-bench.sqlite" "$dir/zip-bench.sqlite-wal"
awk -v p="$plain" -v z="$zip" 'BEGIN { printf "total: plain %.2f s, zip %.2f s, zip/plain %.3f\n", p, z, z / p }'
