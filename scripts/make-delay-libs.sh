#!/bin/sh
# Makes MinGW delay-load import libraries for the given system libraries: a library the program
# imports statically is resolved by Windows before the program's first line runs, from beside the
# program if a file of that name lies there; a delay-loaded one is resolved at its first call,
# after the program has limited library loading to the system folder.
# Usage: make-delay-libs.sh OUTPUT_FOLDER LIBRARY...   (writes lib<LIBRARY>_delay.a for each)
set -eu
out=$1
shift
mkdir -p "$out"
for name in "$@"; do
    import=/usr/x86_64-w64-mingw32/lib/lib$name.a
    [ -f "$import" ] || { echo "no import library for $name" >&2; exit 1; }
    dll=$(x86_64-w64-mingw32-dlltool -I "$import")
    {
        echo "LIBRARY $dll"
        echo "EXPORTS"
        x86_64-w64-mingw32-nm -g --defined-only "$import" 2>/dev/null | awk '$2 == "T" { print $3 }' | sort -u
    } > "$out/$name.def"
    x86_64-w64-mingw32-dlltool --input-def "$out/$name.def" --dllname "$dll" --output-delaylib "$out/lib${name}_delay.a"
done
