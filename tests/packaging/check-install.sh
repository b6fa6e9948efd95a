#!/usr/bin/env bash
# Installs a build tree into a scratch prefix, as `make install PREFIX=...`
# does, and checks what was installed.
# Usage: check-install.sh BUILD_DIR VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
[ $# -eq 2 ] || fail "usage: $0 BUILD_DIR VERSION"
build=$1
version=$2
make_scratch
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
    fail "cmake --install $build failed:"$'\n'"$(cat "$scratch/install.log")"
# Everything lands under the prefix, in the directories the checks know.
unexpected=$(cd "$prefix" && find . -type f | grep -Ev '^\./(bin/pictolune|libexec/pictolune/pictolune-decoder|share/(applications|metainfo|icons/hicolor|man/man1)/.*|share/doc/pictolune/copyright)$' || true)
[ -z "$unexpected" ] || fail "unexpected files installed:"$'\n'"$unexpected"
"$here/check-installed-tree.sh" "$prefix" "$version"
