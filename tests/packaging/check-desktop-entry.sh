#!/usr/bin/env bash
# Checks the menu entry: valid by desktop-file-validate (warnings and hints
# count as failures), and naming the program, its icon and what it opens.
# Usage: check-desktop-entry.sh FILE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
[ $# -eq 1 ] || fail "usage: $0 FILE"
file=$1
[ -f "$file" ] || fail "$file: no such file"
require_tool desktop-file-validate desktop-file-utils

if ! report=$(desktop-file-validate "$file" 2>&1) || [ -n "$report" ]; then
    fail "desktop-file-validate $file:"$'\n'"$report"
fi

expect() {
    local actual
    actual=$(desktop_value "$file" "$1")
    [ "$actual" = "$2" ] || fail "$file: $1 is '$actual', expected '$2'"
}
expect Type Application
expect Name Pictolune
expect GenericName "Picture Viewer"
expect Exec "pictolune %f"
expect Icon pictolune
expect Terminal false

# Lists: every expected entry present, whatever the order.
expect_in_list() {
    local list item
    list=";$(desktop_value "$file" "$1")"
    shift
    for item in "$@"; do
        case "$list" in
        *";$item;"*) ;;
        *) fail "$file: ${list#;} lacks $item" ;;
        esac
    done
}
expect_in_list Categories Graphics Viewer
expect_in_list MimeType image/jpeg image/bmp image/gif image/tiff image/wmf image/x-wmf
echo "desktop entry $file: OK"
