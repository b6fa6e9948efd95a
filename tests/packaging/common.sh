# Helpers shared by the packaging checks; sourced, not run.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# require_tool NAME PACKAGE: fails with the Debian package to install when a
# tool the check needs is missing (scripts/install-deps.sh installs them all).
require_tool() {
    command -v "$1" >/dev/null 2>&1 || fail "$1 not found (Debian package $2; run scripts/install-deps.sh)"
}

# A scratch directory removed when the check ends.
make_scratch() {
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/pictolune-packaging.XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
}

# desktop_value FILE KEY: the value of KEY in the [Desktop Entry] group.
desktop_value() {
    sed -n '/^\[Desktop Entry\]$/,/^\[/{s/^'"$2"'=//p}' "$1"
}
