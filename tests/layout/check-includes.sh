#!/usr/bin/env bash
# Every include of the sources points one way: each folder may include only
# the folders its library stands on. The decoder's side and the viewer's
# side of decoding both stand on the codecs and the protocol, never on each
# other. Usage: check-includes.sh SRC
set -euo pipefail
src=$1

# Folder: the folders (under src/) it may include.
declare -A allowed=(
    [platform/base]="platform/base"
    [platform/controls]="platform/base platform/controls"
    [platform/files]="platform/base platform/files"
    [platform/wmf]="platform/base platform/wmf"
    [platform/codecs]="platform/base platform/wmf platform/codecs"
    [platform/protocol]="platform/base platform/protocol"
    [platform/decoder]="platform/base platform/wmf platform/codecs platform/protocol platform/decoder"
    [platform/loading]="platform/base platform/wmf platform/codecs platform/protocol platform/files platform/loading"
    [decoder]="platform/base platform/protocol platform/decoder"
    [catalogue]="platform/base platform/controls platform/files catalogue"
    [display]="platform/base platform/controls platform/files platform/wmf platform/codecs platform/protocol platform/loading catalogue display"
    [window]="platform/base platform/controls platform/files platform/wmf platform/codecs platform/protocol platform/loading catalogue display window"
    [.]="platform/base platform/controls platform/files platform/codecs platform/loading catalogue display window"
)

status=0
while IFS= read -r -d '' file; do
    relative=${file#"$src"/}
    folder=$(dirname "$relative")
    if [[ -z ${allowed[$folder]+set} ]]; then
        echo "$relative: in a folder that is no library: $folder"
        status=1
        continue
    fi
    while IFS= read -r included; do
        target=$(dirname "$included")
        if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
            echo "$relative: includes $included, which $folder does not stand on"
            status=1
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.cpp' -print0 -o -name '*.h' -print0)
[ $status -eq 0 ] && echo "every include points one way"
exit $status
