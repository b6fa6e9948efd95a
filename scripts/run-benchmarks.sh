#!/usr/bin/env bash
# Runs every benchmark binary of a benchmark build (cmake -DPICTOLUNE_BENCH=ON).
# Usage: scripts/run-benchmarks.sh BUILD_DIR [benchmark options...]
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [benchmark options...]}
shift

shopt -s nullglob
binaries=("$build"/bench/bench_*)
if [ ${#binaries[@]} -eq 0 ]; then
  echo "no benchmark binaries in $build/bench; configure with -DPICTOLUNE_BENCH=ON and build" >&2
  exit 1
fi

for binary in "${binaries[@]}"; do
  [ -f "$binary" ] && [ -x "$binary" ] || continue
  echo "== $(basename "$binary")"
  "$binary" "$@"
done
