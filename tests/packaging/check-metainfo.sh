#!/usr/bin/env bash
# Checks the AppStream metainfo: valid by appstream-util validate-relax
# without the network, for the right desktop entry and binary, with a
# description, a screenshot and the current version as newest release.
# Usage: check-metainfo.sh FILE VERSION [SCREENSHOT]
#   SCREENSHOT: the picture in the source tree that the screenshot URL
#   publishes; checked to be a PNG when given.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
[ $# -eq 2 ] || [ $# -eq 3 ] || fail "usage: $0 FILE VERSION [SCREENSHOT]"
file=$1
version=$2
screenshot=${3:-}
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
grep -Eq '<image[^>]*>https://[^<]+\.png</image>' "$file" || fail "$file: no screenshot"

newest=$(grep -o '<release [^>]*version="[^"]*"' "$file" | head -n 1 | sed 's/.*version="\([^"]*\)"/\1/')
[ "$newest" = "$version" ] ||
    fail "$file: the newest release is '$newest', the program's version is $version"

if [ -n "$screenshot" ]; then
    [ -f "$screenshot" ] || fail "$screenshot: no such file (the screenshot the metainfo shows)"
    require_tool file file
    file -b "$screenshot" | grep -q '^PNG image data' || fail "$screenshot: not a PNG picture"
    grep -Eq "<image[^>]*>https://[^<]+/$(basename "$screenshot")</image>" "$file" ||
        fail "$file: the screenshot is not $(basename "$screenshot")"
fi
echo "metainfo $file: OK"
