#!/usr/bin/env bash
# Checks the manual page: groff renders it without a warning, man renders it
# (compressed or not), it carries the program's version, and it documents the
# command line, every key, the files shown and every exit status.
# Usage: check-man-page.sh FILE VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
[ $# -eq 2 ] || fail "usage: $0 FILE VERSION"
file=$1
version=$2
[ -f "$file" ] || fail "$file: no such file"
require_tool groff groff-base
require_tool man man-db

source_text() {
    case "$file" in
    *.gz) gzip -dc "$file" ;;
    *) cat "$file" ;;
    esac
}

# -ww turns on every warning; -z renders without output.
if ! warnings=$(source_text | groff -man -Tutf8 -ww -z 2>&1) || [ -n "$warnings" ]; then
    fail "groff warns about $file:"$'\n'"$warnings"
fi

grep -q "^\.TH PICTOLUNE 1 .*\"Pictolune $version\"" <<<"$(source_text)" ||
    fail "$file: the title line does not carry version $version"

# The page as a reader sees it, plain text, one long line per paragraph so
# that no phrase is split.
page=$(MANWIDTH=1000 MAN_KEEP_FORMATTING= LC_ALL=C.UTF-8 man -l "$file" 2>&1 | sed 's/.\x08//g') ||
    fail "man -l $file failed:"$'\n'"$page"

# section NAME: the text of one section, up to the next heading.
section() {
    sed -n "/^$1\$/,/^[A-Z][A-Z ]*\$/p" <<<"$page" | sed '1d;$d'
}

for heading in NAME SYNOPSIS DESCRIPTION OPTIONS KEYS MOUSE "FILES SHOWN" "EXIT STATUS" DIAGNOSTICS; do
    grep -qx "$heading" <<<"$page" || fail "$file: no $heading section"
done

grep -q 'pictolune \[FOLDER|PICTURE\]\.\.\.' <<<"$(section SYNOPSIS)" ||
    fail "$file: the synopsis does not show pictolune [FOLDER|PICTURE]..."
for option in --help --version; do
    grep -Eq "^ +(-[a-z], )?$option( |\$)" <<<"$(section OPTIONS)" || fail "$file: option $option not described"
done

# Each key is the tag of one entry in KEYS.
keys=$(section KEYS)
for key in Space 1 0 Right Left P S R Enter A M Esc; do
    grep -Eq "^ {7}$key( |\$)" <<<"$keys" || fail "$file: key $key not described"
done

mouse=$(section MOUSE)
for label in Play Stop "Previous Image" "Next Image" "Random Off" "Random On" \
    "Add a Directory" "Change Directory"; do
    grep -q "$label" <<<"$mouse" || fail "$file: panel label '$label' not described"
done

shown=$(section "FILES SHOWN")
for ending in .jpg jpeg .bmp .gif tiff .wmf; do
    grep -qF -- "$ending" <<<"$shown" || fail "$file: files ending in $ending not described"
done

statuses=$(section "EXIT STATUS")
for status in 0 1 2; do
    grep -Eq "^ {7}$status( |\$)" <<<"$statuses" || fail "$file: exit status $status not described"
done
grep -q 'pictolune: PATH: REASON' <<<"$(section DIAGNOSTICS)" ||
    fail "$file: the line a failed picture prints on standard error is not described"
echo "man page $file: OK"
