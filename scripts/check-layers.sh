#!/bin/sh
# Fails when a product source includes a folder above its own layer:
#   foundation  <  timer service tweaks gpu driver health afterburner update  <  gui  <  app
# Inside the engine a folder may include another only along the uses the design names (the list
# below); anything else sideways is refused too, so the engine stays free of cycles.
# Usage: check-layers.sh [SOURCE_ROOT]     check-layers.sh --self-test
set -eu

# "folder:folders it may include besides foundation"
engine_uses="timer:
tweaks:
gpu:tweaks
driver:gpu tweaks
afterburner:driver gpu tweaks
service:timer tweaks gpu
health:timer tweaks gpu service
update:service timer tweaks gpu"

layer_of() {
    case $1 in
        foundation) echo 0 ;;
        timer|service|tweaks|gpu|driver|health|afterburner|update) echo 1 ;;
        gui) echo 2 ;;
        app) echo 3 ;;
        *) echo "" ;;
    esac
}

check() {
    root=$1
    bad=0
    for folder in foundation timer service tweaks gpu driver health afterburner update gui app; do
        [ -d "$root/$folder" ] || continue
        own=$(layer_of $folder)
        allowed=$(printf "%s\n" "$engine_uses" | sed -n "s/^$folder://p")
        for file in "$root/$folder"/*.cpp "$root/$folder"/*.h "$root/$folder"/*/*.cpp "$root/$folder"/*/*.h; do
            [ -f "$file" ] || continue
            # Only real include lines: the first word of the line, not a comment that mentions one.
            for target in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' "$file" | sort -u); do
                [ "$target" = "$folder" ] && continue
                theirs=$(layer_of "$target")
                [ -n "$theirs" ] || continue
                refused=""
                if [ "$theirs" -gt "$own" ]; then
                    refused="above its layer"
                elif [ "$theirs" -eq 1 ] && [ "$own" -eq 1 ]; then
                    case " $allowed " in *" $target "*) ;; *) refused="sideways without a named use" ;; esac
                fi
                if [ -n "$refused" ]; then
                    echo "${file#$root/} includes $target/ ($refused)"
                    bad=1
                fi
            done
        done
    done
    return $bad
}

self_test() {
    tree=$(mktemp -d)
    trap 'rm -rf "$tree"' EXIT
    mkdir -p "$tree/foundation" "$tree/timer" "$tree/gui" "$tree/app"
    printf '#include "foundation/text.h"\n// #include "app/entry.h" is only named here\n' > "$tree/timer/a.cpp"
    printf '#include "timer/a.h"\n#include "foundation/text.h"\n' > "$tree/gui/b.cpp"
    check "$tree" >/dev/null || { echo "self-test: a clean tree was refused"; return 1; }
    for planted in 'foundation/c.cpp:gui/app.h' 'timer/d.h:health/monitor.h' 'gui/e.cpp:app/entry.h'; do
        source=${planted%%:*}
        printf '#include "%s"\n' "${planted#*:}" > "$tree/$source"
        if check "$tree" >/dev/null; then
            echo "self-test: $source including ${planted#*:} was not refused"
            return 1
        fi
        rm "$tree/$source"
    done
    echo "The layer check refuses every planted upward or unnamed sideways include."
}

if [ "${1:-}" = "--self-test" ]; then
    self_test
    exit $?
fi
root=${1:-$(dirname "$0")/..}
if check "$root"; then
    echo "Every folder includes only its own layer and those below."
else
    exit 1
fi
