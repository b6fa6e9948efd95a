#!/usr/bin/env bash
# Checks the AppStream metainfo: valid by appstream-util validate-relax
# without the network, for the right desktop entry and binary, with a
# description, the project's licence and the current version as newest
# release.
# Usage: check-metainfo.sh FILE VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
[ $# -eq 2 ] || fail "usage: $0 FILE VERSION"
file=$1
version=$2
[ -f "$file" ] || fail "$file: no such file"
require_tool appstream-util appstream-util

if ! report=$(appstream-util validate-relax --nonet "$file" 2>&1); then
    fail "appstream-util validate-relax $file:"$'\n'"$report"
fi

id=$(basename "$file" .metainfo.xml)
grep -q "<id>$id</id>" "$file" || fail "$file: the component id is not $id"
grep -q '<launchable type="desktop-id">pictolune.desktop</launchable>' "$file" ||
    fail "$file: does not launch pictolune.desktop"
grep -q '<binary>pictolune</binary>' "$file" || fail "$file: does not provide the pictolune binary"
grep -q '<description>' "$file" || fail "$file: no description"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$file" ||
    fail "$file: the project licence is not GPL-3.0-or-later"

newest=$(grep -o '<release [^>]*version="[^"]*"' "$file" | head -n 1 | sed 's/.*version="\([^"]*\)"/\1/')
[ "$newest" = "$version" ] ||
    fail "$file: the newest release is '$newest', the program's version is $version"

echo "metainfo $file: OK"
