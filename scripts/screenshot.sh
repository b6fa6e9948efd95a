#!/usr/bin/env bash
# Takes the README's screenshot: runs the viewer on the sample pictures in a
# private X server (Xvfb with openbox), calls up the options panel with the
# pointer at the bottom edge, and writes the screen to docs/screenshot.png.
#
# Usage: scripts/screenshot.sh [BINARY [FOLDER [OUTPUT]]]
#   BINARY  default build/pictolune (make build makes it)
#   FOLDER  default samples
#   OUTPUT  default docs/screenshot.png
# Needs xvfb, openbox, xdotool, x11-utils and imagemagick
# (scripts/install-deps.sh installs them).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
binary=${1:-build/pictolune}
folder=${2:-samples}
output=${3:-docs/screenshot.png}
width=1024
height=640

for tool in Xvfb openbox xdotool xprop xdpyinfo import; do
    command -v "$tool" >/dev/null || {
        echo "screenshot: $tool is missing; run scripts/install-deps.sh" >&2
        exit 1
    }
done
[ -x "$binary" ] || {
    echo "screenshot: no program at $binary; run make build first" >&2
    exit 1
}

tmp=$(mktemp -d)
pids=()
cleanup() {
    # Newest first: the viewer, then openbox, then the server.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT

# Polls a command until it succeeds, at most $1 tenths of a second.
wait_for() {
    local tenths=$1
    shift
    for ((t = 0; t < tenths; t++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# A free display number: Xvfb reports the number through -displayfd once it
# accepts connections, and exits at once if another server holds it.
display=
for n in $(seq 170 230); do
    [ -e "/tmp/.X$n-lock" ] && continue
    : >"$tmp/displayfd"
    Xvfb ":$n" -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp -noreset \
        3>"$tmp/displayfd" 2>"$tmp/xvfb.log" &
    pid=$!
    if wait_for 100 test -s "$tmp/displayfd" && kill -0 "$pid" 2>/dev/null; then
        pids+=("$pid")
        display=:$n
        break
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
done
[ -n "$display" ] || {
    echo "screenshot: no free X display" >&2
    exit 1
}
export DISPLAY=$display

openbox --sm-disable >"$tmp/openbox.log" 2>&1 &
pids+=($!)
wait_for 100 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || {
    echo "screenshot: openbox did not start" >&2
    exit 1
}

QT_QPA_PLATFORM=xcb ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} \
    "$binary" "$folder" >"$tmp/viewer.log" 2>&1 &
viewer=$!
pids+=("$viewer")
wait_for 300 xdotool search --onlyvisible --name '^Pictolune$' || {
    echo "screenshot: the viewer's window did not appear" >&2
    cat "$tmp/viewer.log" >&2
    exit 1
}
window=$(xdotool search --onlyvisible --name '^Pictolune$' | head -1)

# The picture is on screen once the centre of the window is no longer black.
centre_drawn() {
    local pixel
    pixel=$(import -window root -crop "1x1+$((width / 2))+$((height / 2))" txt:- | tail -1)
    ! grep -qE '#000000|black' <<<"$pixel"
}
wait_for 300 centre_drawn || echo "screenshot: the picture did not appear; going on" >&2

# The pointer just above the bottom edge calls up the options panel; wait
# until two screenshots of the bottom band agree, so the slide is over.
xdotool windowactivate --sync "$window" mousemove $((width / 2)) $((height - 8))
band() { import -window root -crop "${width}x50+0+$((height - 50))" rgb:- | md5sum; }
previous=
for ((t = 0; t < 50; t++)); do
    sleep 0.2
    current=$(band)
    [ -n "$previous" ] && [ "$current" = "$previous" ] && break
    previous=$current
done

kill -0 "$viewer" 2>/dev/null || {
    echo "screenshot: the viewer ended early" >&2
    cat "$tmp/viewer.log" >&2
    exit 1
}
mkdir -p "$(dirname "$output")"
import -window root "$tmp/shot.png"
/usr/bin/convert "$tmp/shot.png" -strip -define png:exclude-chunk=date,time "$output" 2>/dev/null ||
    cp "$tmp/shot.png" "$output"
echo "screenshot: wrote $output"
