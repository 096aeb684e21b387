#!/usr/bin/env bash
# Pictures of the window as a user sees it, under a virtual X display: just started (banner in),
# after a search typed into the keyword box, after the next page and after a lookup.
#
#   tools/screenshot.sh OUTPUT_DIR [BUILD_DIR]
#
# Needs Xvfb, xdotool and ImageMagick's import; BUILD_DIR (default build-app) must hold the built
# yuming and yuming-service.
set -euo pipefail

out=${1:?usage: $0 OUTPUT_DIR [BUILD_DIR]}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${2:-$root/build-app}" && pwd)
app=$build/src/app/yuming
service=$build/service/yuming-service
for tool in Xvfb xdotool import; do
    command -v "$tool" > /dev/null || { echo "$0: $tool is not installed" >&2; exit 1; }
done
[[ -x $app && -x $service ]] || { echo "$0: build yuming and yuming-service in $build first" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Reads the first line matching a pattern from a growing file, giving up after 20 seconds.
await_line() {
    local file=$1 pattern=$2
    for _ in $(seq 200); do
        if grep -m1 -E "$pattern" "$file" 2> /dev/null; then return 0; fi
        sleep 0.1
    done
    echo "$0: timed out waiting for '$pattern' in $file" >&2
    return 1
}

"$service" --listen 127.0.0.1:0 --db "$work/domains.sqlite" --rows 20000 --no-rdap > "$work/service.log" 2>&1 &
pids+=($!)
port=$(await_line "$work/service.log" 'listening on' | sed -E 's/.*:([0-9]+)$/\1/')

exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
display=:$(await_line "$work/display" '^[0-9]+$')
export DISPLAY=$display

QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
    "$app" --service "127.0.0.1:$port" --report-start > "$work/app.log" 2>&1 &
pids+=($!)
await_line "$work/app.log" '^shown$' > /dev/null
window=$(xdotool search --sync --onlyvisible --limit 1 --name '岚桥域名过期查询')
eval "$(xdotool getwindowgeometry --shell "$window")"

# Points inside the window, in window pixels.
click_at() { xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1; }
shot() { import -window "$window" "$out/$1.png"; echo "$out/$1.png"; }

await_line "$work/app.log" '^banner' > /dev/null
sleep 0.5 # the banner's first frame
# Starting the browser gave the window a new native window.
window=$(xdotool search --sync --onlyvisible --limit 1 --name '岚桥域名过期查询')
shot 1-start

click_at 172 166 # the keyword box
xdotool type --delay 20 'ab'
xdotool key Return
sleep 2
shot 2-search

click_at 750 471 # the next-page button
sleep 2
xdotool mousemove --sync $((X + 700)) $((Y + 505))
shot 3-next-page

click_at 160 406 # the lookup box
xdotool type --delay 20 'example.com'
xdotool key Return
sleep 2
shot 4-lookup

xdotool mousemove --sync $((X + 58)) $((Y + 333)) # over the preset-search button
sleep 0.5
shot 5-hover
