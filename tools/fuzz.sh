#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on its seed
# corpus. Exits non-zero when a target finds a crash; the crashing input is left in build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds="${1:-60}"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
command -v clang++ >/dev/null || {
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
}
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUMING_FUZZ=ON \
  -DYUMING_BUILD_APP=OFF -DYUMING_BUILD_TESTS=OFF -DYUMING_BUILD_BENCH=OFF >/dev/null
targets=(fuzz_result_parser:result_page fuzz_lookup_parser:lookup_page fuzz_receive_path:receive_path
         fuzz_search_query:search_query)
names=(); for t in "${targets[@]}"; do names+=("${t%%:*}"); done
cmake --build "$build" -j"$(nproc)" --target "${names[@]}"
status=0
for t in "${targets[@]}"; do
  name=${t%%:*}; seeds=${t#*:}
  seeds="$root/tests/fuzz/corpus/$seeds"
  bin=$(find "$build" -type f -name "$name" -perm -u+x | head -n 1)
  work="$build/corpus/$name"; mkdir -p "$work"
  echo "== $name ($seconds s)"
  (cd "$build" && "$bin" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 "$work" "$seeds" 2>&1) \
    | grep -E '^(#[0-9]+ +DONE|Done|stat::number_of_executed_units|stat::peak_rss|==[0-9]+== ERROR|SUMMARY)' || true
  ls "$build"/crash-* >/dev/null 2>&1 && { echo "$name found a crash"; status=1; }
done
exit $status
