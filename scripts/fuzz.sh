#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (address and undefined-
# behaviour sanitizers) in build-fuzz and runs each for FUZZ_SECONDS seconds
# (default 60). Corpora grow in build-fuzz/corpus-NAME, seeded from samples/;
# crashing inputs land in build-fuzz/crashes-NAME.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}

CC=clang-14 CXX=clang++-14 cmake -S "$root/fuzz" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"

status=0
for name in wmf; do
    corpus=$build/corpus-$name
    crashes=$build/crashes-$name
    mkdir -p "$corpus" "$crashes"
    cp -n "$root"/samples/*."$name" "$corpus"/ 2>/dev/null || true
    echo "fuzzing $name for ${seconds}s"
    # Leak checks stay off: Qt keeps caches alive until exit on purpose.
    ASAN_OPTIONS=detect_leaks=0 "$build/${name}_fuzz" "$corpus" \
        -dict="$root/fuzz/$name.dict" -max_total_time="$seconds" -max_len=16384 \
        -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/" || status=$?
done
exit $status
