#!/usr/bin/env bash
# Writes the hostile corpus, files made to break a picture viewer (see
# tests/hostile/HostileCorpus.h), into FOLDER: by default
# build-hostile-corpus/, which is replaced. The tests make their own copy in
# a temporary folder; this one is for trying the real program by hand
# (pictolune build-hostile-corpus) and for seeding the fuzzers.
#
# Usage: scripts/make-hostile-corpus.sh [FOLDER]   (FOLDER new or empty)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-hostile-corpus}
if [ $# -eq 0 ] && [ -e "$out" ]; then
    chmod -R u+rwX "$out"
    rm -rf "$out"
fi
tool=$(mktemp -d)
trap 'rm -rf "$tool"' EXIT
# shellcheck disable=SC2046 # pkg-config prints several words on purpose
g++ -std=c++20 -O1 -fPIC -DQT_NO_KEYWORDS -I"$root/tests" $(pkg-config --cflags Qt6Gui) \
    "$root/scripts/make-hostile-corpus.cpp" "$root/tests/hostile/HostileCorpus.cpp" \
    "$root/tests/support/TestPictures.cpp" $(pkg-config --libs Qt6Gui) \
    -o "$tool/make-hostile-corpus"
"$tool/make-hostile-corpus" "$out"
