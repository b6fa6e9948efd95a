#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (address and undefined-
# behaviour sanitizers) in build-fuzz and runs each for FUZZ_SECONDS seconds
# (default 60). Corpora grow in build-fuzz/corpus-NAME, seeded from samples/
# (and, for the loader, from the hostile corpus); crashing inputs land in
# build-fuzz/crashes-NAME. FUZZ_TARGETS picks targets (default: all).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
targets=${FUZZ_TARGETS:-wmf loader leading_number}

CC=clang-14 CXX=clang++-14 cmake -S "$root/fuzz" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"

# The loader's input is one byte choosing the file's ending (see
# fuzz/LoaderFuzz.cpp), then the file: seeds are the small files of the
# hostile corpus and the samples, each behind the byte of its ending.
seed_loader() {
    local corpus=$1 made endings=(.jpg jpeg .bmp .gif tiff .wmf) n=0 i
    made=$(mktemp -d)
    "$root/scripts/make-hostile-corpus.sh" "$made/corpus" >/dev/null || true
    while IFS= read -r -d '' file; do
        for i in "${!endings[@]}"; do
            if [[ $file == *"${endings[$i]}" ]]; then
                { printf "\\x0$i"; cat "$file"; } >"$corpus/seed-$n" 2>/dev/null || true
                n=$((n + 1))
            fi
        done
    done < <(find "$made/corpus" "$root/samples" -maxdepth 1 -type f -size -64k -print0)
    chmod -R u+rwX "$made"
    rm -rf "$made"
}

status=0
for name in $targets; do
    corpus=$build/corpus-$name
    crashes=$build/crashes-$name
    mkdir -p "$corpus" "$crashes"
    options=(-max_len=16384)
    case $name in
    wmf) cp -n "$root"/samples/*."$name" "$corpus"/ 2>/dev/null || true ;;
    loader)
        [ -n "$(ls -A "$corpus")" ] || seed_loader "$corpus"
        options=(-max_len=65536)
        ;;
    leading_number)
        printf '1.5' >"$corpus/seed-plain"
        printf ' \t-2.5e-3 seconds' >"$corpus/seed-exponent"
        options=(-max_len=4096)
        ;;
    esac
    [ -f "$root/fuzz/$name.dict" ] && options+=(-dict="$root/fuzz/$name.dict")
    echo "fuzzing $name for ${seconds}s"
    # Leak checks stay off: Qt keeps caches alive until exit on purpose.
    ASAN_OPTIONS=detect_leaks=0 "$build/${name}_fuzz" "$corpus" "${options[@]}" \
        -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/" || status=$?
done
exit $status
