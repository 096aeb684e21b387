#!/usr/bin/env bash
# `yuming-service import` of one 5 M-line drop list from a zip archive and from the same file
# uncompressed, in the same run, each into a new database, in turns (plain, zip, plain, zip, ...) so
# the machine's drift falls on both alike; prints each round and the zip's figures against the
# plain file's.
#   bench/zip_import.sh [build/service/yuming-service] [COUNT]
# The list is made once by bench/make_drop_list.py and kept in $IMPORT_BENCH_DIR
# (default /tmp/yuming-import-bench), beside the ones bench/import.sh makes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
service=${1:-$here/../build/service/yuming-service}
count=${2:-5000000}
rounds=${ROUNDS:-3}
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

# "WALL CPU": seconds one import into a new database takes, and the processor time it used.
timed() {
  rm -f "$dir/zip-bench.sqlite" "$dir/zip-bench.sqlite-wal" "$dir/zip-bench.sqlite-journal"
  /usr/bin/time -f "%e %U %S" -o "$dir/zip-bench.time" "$service" import "$1" --db "$dir/zip-bench.sqlite" >/dev/null
  awk '{ printf "%.2f %.2f", $1, $2 + $3 }' "$dir/zip-bench.time"
}

# The machine is shared: the fastest round of each (wall) and the processor time over all rounds
# are the figures that other work disturbs least.
results=()
for round in $(seq "$rounds"); do
  read -r pw pc <<<"$(timed "$list")"
  read -r zw zc <<<"$(timed "$archive")"
  echo "round $round: plain $pw s ($pc s cpu), zip $zw s ($zc s cpu)"
  results+=("$pw $pc $zw $zc")
done
rm -f "$dir/zip-bench.sqlite" "$dir/zip-bench.sqlite-wal" "$dir/zip-bench.time"
printf '%s\n' "${results[@]}" | awk '
  NR == 1 || $1 < pw { pw = $1 } NR == 1 || $3 < zw { zw = $3 } { pc += $2; zc += $4 }
  END { printf "fastest: plain %.2f s, zip %.2f s, zip/plain %.3f; cpu: plain %.2f s, zip %.2f s, zip/plain %.3f\n",
               pw, zw, zw / pw, pc, zc, zc / pc }'
