#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60) on its seed
# corpus. Exits non-zero when a target finds a crash; the crashing input is left in build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds="${1:-60}"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
if ! command -v clang++ >/dev/null || ! dpkg-query -W libclang-rt-14-dev >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DYUMING_FUZZ=ON \
  -DYUMING_BUILD_APP=OFF -DYUMING_BUILD_TESTS=OFF -DYUMING_BUILD_BENCH=OFF >/dev/null
targets=(fuzz_result_parser:result_page fuzz_lookup_parser:lookup_page fuzz_receive_path:receive_path
         fuzz_search_query:search_query fuzz_drop_list:drop_list)
names=(); for t in "${targets[@]}"; do names+=("${t%%:*}"); done
cmake --build "$build" -j"$(nproc)" --target "${names[@]}"
# All targets at once: each gets its SECONDS of wall time while sharing the machine's cores.
pids=()
for t in "${targets[@]}"; do
  name=${t%%:*}
  bin=$(find "$build" -type f -name "$name" -perm -u+x | head -n 1)
  work="$build/corpus/$name"; mkdir -p "$work"
  (cd "$build" && exec "$bin" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
     -artifact_prefix="$build/$name-" "$work" "$root/tests/fuzz/corpus/${t#*:}" >"$build/$name.log" 2>&1) &
  pids+=($!)
done
status=0
for i in "${!pids[@]}"; do
  name=${targets[$i]%%:*}
  wait "${pids[$i]}" || status=1
  echo "== $name ($seconds s)"
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss|==[0-9]+== ERROR|SUMMARY)|cov: ' "$build/$name.log" \
    | grep -vE '^#[0-9]+ +(NEW|REDUCE|pulse|INITED)' | tail -n 4 || true
  ls "$build/$name"-crash-* >/dev/null 2>&1 && { echo "$name found a crash: $(ls "$build/$name"-crash-*)"; status=1; }
done
exit $status
