#!/usr/bin/env bash
# Regenerates samples/shapes.wmf from the test metafile writer. The WMF tests
# check that the committed file is what the writer makes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O1 -fPIC -DQT_NO_KEYWORDS -I"$root/tests" $(pkg-config --cflags Qt6Gui) \
    "$root/scripts/make-wmf-sample.cpp" "$root/tests/wmf/SampleWmf.cpp" \
    "$root/tests/wmf/WmfWriter.cpp" $(pkg-config --libs Qt6Gui) -o "$out/make-wmf-sample"
"$out/make-wmf-sample" "$root/samples/shapes.wmf"
file "$root/samples/shapes.wmf"
