#!/usr/bin/env bash
# How long the screen goes on changing after a held key is let go: each
# command is started under a private Xvfb (1920 x 1080) with openbox, and
# bench/HoldProbe.cpp holds its "next" key for HOLD_MS.
# Usage: scripts/measure-hold.sh BENCH_BUILD KEY HOLD_MS RUNS COMMAND [ARGUMENT...]
set -euo pipefail
build=${1:?usage: $0 BENCH_BUILD KEY HOLD_MS RUNS COMMAND [ARGUMENT...]}
shift
# A free display of its own: the server names it once it is ready.
number=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $wm $xvfb 2>/dev/null || true; rm -f "$number"' EXIT
for _ in $(seq 50); do [ -s "$number" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$number")
openbox >/dev/null 2>&1 &
wm=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
"$build/bench/hold_probe" "$@"
