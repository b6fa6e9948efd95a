#!/usr/bin/env bash
# Checks an installed Pictolune under PREFIX (a `cmake --install --prefix`
# tree, or the usr/ of an unpacked package): every file where the desktop
# looks for it, each valid, the icons at their sizes, and the installed
# program running from there with the system's libraries only.
# Usage: check-installed-tree.sh PREFIX VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
[ $# -eq 2 ] || fail "usage: $0 PREFIX VERSION"
prefix=$1
version=$2
require_tool file file
require_tool readelf binutils

binary=$prefix/bin/pictolune
decoder=$prefix/libexec/pictolune/pictolune-decoder
desktop=$prefix/share/applications/pictolune.desktop
metainfo=$prefix/share/metainfo/io.pictolune.Pictolune.metainfo.xml
man_page=$prefix/share/man/man1/pictolune.1.gz
copyright=$prefix/share/doc/pictolune/copyright
for f in "$binary" "$decoder" "$desktop" "$metainfo" "$man_page" "$copyright"; do
    [ -f "$f" ] || fail "not installed: $f"
done
for f in "$binary" "$decoder"; do
    [ -x "$f" ] || fail "$f is not executable"
done

"$here/check-desktop-entry.sh" "$desktop"
"$here/check-metainfo.sh" "$metainfo" "$version"
file -b "$man_page" | grep -q '^gzip compressed data' || fail "$man_page is not gzip-compressed"
"$here/check-man-page.sh" "$man_page" "$version"

# The licence, in Debian's machine-readable copyright format.
head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "$copyright: not in the machine-readable format"
grep -qx 'License: GPL-3+' "$copyright" || fail "$copyright: does not state GPL-3+"

# The menu entry's Exec and Icon name what is installed.
exec_name=$(desktop_value "$desktop" Exec)
exec_name=${exec_name%% *}
[ -x "$prefix/bin/$exec_name" ] || fail "the menu entry runs '$exec_name', not installed in $prefix/bin"
icon_name=$(desktop_value "$desktop" Icon)
icons=$prefix/share/icons/hicolor
for size in 16 32 48 64 128 256; do
    icon=$icons/${size}x${size}/apps/$icon_name.png
    [ -f "$icon" ] || fail "no ${size}x${size} icon: $icon"
    file -b "$icon" | grep -q "^PNG image data, $size x $size," ||
        fail "$icon is not a $size x $size PNG: $(file -b "$icon")"
done
svg=$icons/scalable/apps/$icon_name.svg
[ -f "$svg" ] || fail "no scalable icon: $svg"
file -b "$svg" | grep -q 'SVG' || fail "$svg is not an SVG picture: $(file -b "$svg")"

# Nothing in the program points back into a build tree.
for f in "$binary" "$decoder"; do
    if readelf -d "$f" | grep -Eq '\((RPATH|RUNPATH)\)'; then
        fail "$f carries a library path: $(readelf -d "$f" | grep -E 'R(UN)?PATH')"
    fi
done

# The installed program runs with the system's libraries and plug-ins alone,
# and answers with no display at all, as in a package script or over ssh.
# Its standard output is checked; what it says on standard error is shown
# when a check fails.
errors=$(mktemp "${TMPDIR:-/tmp}/pictolune-stderr.XXXXXX")
trap 'rm -f "$errors"' EXIT
status=0
run() {
    status=0
    out=$(env -u LD_LIBRARY_PATH -u QT_PLUGIN_PATH -u QT_QPA_PLATFORM -u DISPLAY \
        -u WAYLAND_DISPLAY "$binary" "$@" 2>"$errors") || status=$?
}
said() { printf '%s\n%s' "$out" "$(cat "$errors")"; }

run --version
[ "$status" -eq 0 ] || fail "$binary --version exited with $status: $(said)"
[ "$(head -n 1 <<<"$out")" = "pictolune $version" ] ||
    fail "$binary --version printed '$out', expected 'pictolune $version' first"
grep -qx 'License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.' <<<"$out" ||
    fail "$binary --version does not state the licence: $(said)"
run --help
[ "$status" -eq 0 ] || fail "$binary --help exited with $status: $(said)"
grep -q '^Usage: .*pictolune' <<<"$out" || fail "$binary --help printed no usage line: $(said)"
grep -q -- '--version' <<<"$out" || fail "$binary --help does not list --version: $(said)"
# Installed, the manual page is found by its name.
grep -qx 'The manual: man pictolune' <<<"$out" || fail "$binary --help does not point to man pictolune: $(said)"

missing=$(mktemp -u "${TMPDIR:-/tmp}/pictolune-missing.XXXXXX")
run "$missing"
[ "$status" -eq 2 ] || fail "$binary $missing exited with $status, expected 2: $(said)"
grep -qF "$missing" "$errors" || fail "$binary $missing did not name the missing path on stderr: $(said)"
# A start that needs the window ends with one line saying what is missing,
# never in an abort.
run "$prefix"
[ "$status" -eq 1 ] || fail "$binary $prefix with no display exited with $status, expected 1: $(said)"
[ "$(wc -l <"$errors")" -eq 1 ] && grep -q 'DISPLAY' "$errors" ||
    fail "$binary $prefix with no display did not say so in one line: $(said)"

# Shown a folder, the installed program starts its decoders from libexec,
# each locked down, and does not fall back to decoding in the viewer.
folder=$(mktemp -d "${TMPDIR:-/tmp}/pictolune-folder.XXXXXX")
trap 'rm -f "$errors"; rm -rf "$folder"' EXIT
env -u LD_LIBRARY_PATH -u QT_PLUGIN_PATH QT_QPA_PLATFORM=offscreen "$binary" "$folder" 2>"$errors" &
viewer=$!
locked=""
for _ in $(seq 100); do
    for status in /proc/[0-9]*/status; do
        grep -q "^PPid:[[:space:]]*$viewer\$" "$status" 2>/dev/null || continue
        grep -q '^Seccomp:[[:space:]]*2$' "$status" && grep -q '^NoNewPrivs:[[:space:]]*1$' "$status" &&
            locked=$(sed -n 's/^Name:[[:space:]]*//p' "$status")
    done
    [ -n "$locked" ] && break
    sleep 0.1
done
kill "$viewer" 2>/dev/null || true
wait "$viewer" 2>/dev/null || true
[ -n "$locked" ] || fail "$binary started no locked-down decoder: $(cat "$errors")"
[ "$locked" = pictolune-decod ] || fail "$binary's locked-down child is '$locked', not its decoder"
if grep -q 'decoding in the viewer' "$errors"; then
    fail "$binary decodes in the viewer: $(cat "$errors")"
fi
echo "installed tree $prefix: OK"
