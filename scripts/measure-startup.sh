#!/usr/bin/env bash
# Time from start to the first picture on screen, for one or more builds of
# the program: each is started under a private Xvfb (1920 x 1080) with
# openbox on a folder with one 24-megapixel photo, and the screen is watched
# from outside (bench/StartupProbe.cpp). Medians over RUNS starts each.
# Usage: scripts/measure-startup.sh BENCH_BUILD RUNS BINARY [BINARY...]
set -euo pipefail
build=${1:?usage: $0 BENCH_BUILD RUNS BINARY [BINARY...]}
runs=${2:?usage: $0 BENCH_BUILD RUNS BINARY [BINARY...]}
shift 2
display=:97
Xvfb $display -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $wm $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
wm=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
"$build/bench/startup_probe" "$runs" "$@"
