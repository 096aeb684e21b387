#!/usr/bin/env bash
# Builds the Debian package of yuming (the window, its banner module, yuming-cli and
# yuming-service) into $BUILD_DIR (default build-pkg/), checks it with lintian and prints its path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$root/build-pkg}"

"$root/tools/install-deps.sh"
tools=(dpkg-dev lintian desktop-file-utils file)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

desktop-file-validate "$root/src/app/yuming.desktop"

# Debian's hardening flags (stack protector, fortified functions, full RELRO); no debug
# information, the package's binaries are stripped anyway.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g \
        dpkg-buildflags --export=sh)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DYUMING_BUILD_TESTS=OFF -DYUMING_BUILD_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS=$CPPFLAGS $CXXFLAGS" \
  "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" "-DCMAKE_MODULE_LINKER_FLAGS=$LDFLAGS" \
  "-DCMAKE_SHARED_LINKER_FLAGS=$LDFLAGS" >/dev/null
cmake --build "$build" -j"$(nproc)"
report=$(cd "$build" && cpack -G DEB)
echo "$report"
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$report")

# lintian refuses to run as root unless told it may; it fails on errors, not on warnings.
status=0
lintian --allow-root --info "$deb" || status=$?
echo "Package: $deb"
exit $status
