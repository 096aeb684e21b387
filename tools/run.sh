#!/usr/bin/env bash
# Installs what is missing, builds, and opens the window. The window starts this user's own
# yuming-service by itself (the first start seeds its database under ~/.local/share/yuming/).
# Without a display it runs one search with yuming-cli instead, which starts the service the same
# way. Extra arguments go to the window (or, without a display, to `yuming-cli search`).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target yuming-service yuming-cli $( [ -f "$root/src/app/CMakeLists.txt" ] && echo yuming )

if [ -x "$build/src/app/yuming" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec "$build/src/app/yuming" "$@"
fi
echo "No display: running one search with yuming-cli instead of opening the window." >&2
exec "$build/src/yuming-cli" search "$@"
