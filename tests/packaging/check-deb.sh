#!/usr/bin/env bash
# Makes the Debian package of a build tree with CPack, checks its control
# fields and contents, unpacks it into a scratch root (dpkg -x) and checks
# the unpacked program runs from there.
# Usage: check-deb.sh BUILD_DIR VERSION [DEB]
#   DEB: check this package instead of making one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
[ $# -eq 2 ] || [ $# -eq 3 ] || fail "usage: $0 BUILD_DIR VERSION [DEB]"
build=$(cd "$1" && pwd)
version=$2
deb=${3:-}
require_tool dpkg-deb dpkg
require_tool dpkg-shlibdeps dpkg-dev
require_tool dpkg-checkbuilddeps dpkg-dev
make_scratch

if [ -z "$deb" ]; then
    (cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out") \
        >"$scratch/cpack.log" 2>&1 || fail "cpack failed:"$'\n'"$(cat "$scratch/cpack.log")"
    arch=$(dpkg --print-architecture)
    deb=$scratch/out/pictolune_${version}_$arch.deb
    [ -f "$deb" ] || fail "cpack made no $deb:"$'\n'"$(ls "$scratch/out")"
fi
[ -f "$deb" ] || fail "$deb: no such file"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = pictolune ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', expected $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = graphics ] || fail "Section is '$(field Section)'"
grep -Eq '^.+ <[^@ ]+@[^@ ]+>$' <<<"$(field Maintainer)" || fail "Maintainer is '$(field Maintainer)'"
description=$(field Description)
[ "$(wc -l <<<"$description")" -gt 1 ] || fail "no long description: '$description'"

# dpkg-shlibdeps named the libraries the program links, with versions.
depends=$(field Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo libtiff6 libseccomp2 liblcms2-2; do
    grep -Eq "(^|, )${library//+/\\+} \(>= [^)]+\)" <<<"$depends" ||
        fail "Depends does not name $library with a version: $depends"
done
# A platform plug-in, which no linked library brings in for certain.
grep -Eq "(^|, )qt6-qpa-plugins \| qt6-wayland(,|\$)" <<<"$depends" ||
    fail "Depends names no Qt platform plug-in: $depends"
# Every font the metafile renderer draws text with.
for font in fonts-dejavu-core fonts-urw-base35 fonts-symbola; do
    grep -Eq "(^|, )$font(,|\$| )" <<<"$depends" || fail "Depends lacks the font $font: $depends"
done
# And this machine, which ran the program, satisfies them.
printf 'Source: pictolune\n' >"$scratch/control"
dpkg-checkbuilddeps -d "$depends" "$scratch/control" >"$scratch/deps.log" 2>&1 ||
    fail "the package's dependencies are not met here:"$'\n'"$(cat "$scratch/deps.log")"
recommends=$(field Recommends)
for package in qt6-wayland; do
    grep -Eq "(^|, )$package(,|\$| )" <<<"$recommends" || fail "Recommends lacks $package: $recommends"
done

# Every file under /usr, owned by root.
contents=$(dpkg-deb --contents "$deb")
outside=$(awk '{print $NF}' <<<"$contents" | grep -Ev '^\./(usr/.*)?$' || true)
[ -z "$outside" ] || fail "files outside /usr:"$'\n'"$outside"
not_root=$(awk '$2 != "root/root"' <<<"$contents")
[ -z "$not_root" ] || fail "files not owned by root:"$'\n'"$not_root"

dpkg -x "$deb" "$scratch/root"
"$here/check-installed-tree.sh" "$scratch/root/usr" "$version"
echo "package $(basename "$deb"): OK"
