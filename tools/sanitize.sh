#!/usr/bin/env bash
# Builds the network and fault tests with AddressSanitizer and LeakSanitizer and runs them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${ASAN_BUILD_DIR:-$root/build-asan}"
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DYUMING_SANITIZE=ON -DYUMING_BUILD_APP=OFF \
  -DYUMING_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fault_suite_test fetch_test search_logic_test text_test
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for t in text_test search_logic_test fetch_test fault_suite_test; do
  echo "== $t under AddressSanitizer + LeakSanitizer"
  "$build/tests/$t" --gtest_brief=1
done
