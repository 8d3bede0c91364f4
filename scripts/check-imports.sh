#!/bin/sh
# Fails when the given Windows executable imports, statically, a DLL that is not one of Windows'
# KnownDLLs: such a DLL is resolved before the program's first line runs, and a file of that
# name beside the program (a Downloads folder) would load into it, elevated. Everything else is
# delay-loaded. Also fails on any MinGW runtime DLL (the program is linked statically).
# Also fails on a delay-loaded function not listed in delay-imports.txt (see there why).
# --self-test DELAY_FOLDER: builds a program that delay-loads a function taking floats and checks
# that it is refused.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--self-test" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    mkdir "$work/bin"
    ln -s "$2" "$work/delay"
    printf 'extern "C" void D2D1SinCos(float angle, float* s, float* c);\nint main() { float s = 0, c = 0; D2D1SinCos(0.5f, &s, &c); return s > c; }\n' >"$work/probe.cpp"
    x86_64-w64-mingw32-g++ -static -o "$work/bin/probe.exe" "$work/probe.cpp" "$2/libd2d1_delay.a"
    if out=$(sh "$0" "$work/bin/probe.exe" 2>&1); then
        echo "a delay-loaded function taking floats was not refused"
        exit 1
    fi
    echo "$out" | grep -q "D2D1SinCos" || { echo "refused, but not for D2D1SinCos: $out"; exit 1; }
    echo "refused as it should be: D2D1SinCos"
    exit 0
fi
exe=$1
# Only the static import table: objdump lists delay-loaded DLLs after "Delay Import".
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed '/^The Delay Import Tables/,$d' | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no import table found in $exe"; exit 1; }
echo "$dlls"
bad=$(echo "$dlls" | grep -E '^(libstdc\+\+|libgcc|libwinpthread|libssp|libatomic|libgomp)' || true)
if [ -n "$bad" ]; then
    echo "not statically linked; needs: $bad"
    exit 1
fi
known="kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll msvcrt.dll ntdll.dll"
for dll in $dlls; do
    case " $known " in
    *" $dll "*) ;;
    *) echo "$dll is imported statically but is not a KnownDLL; delay-load it"; exit 1 ;;
    esac
done

delay=$(dirname "$exe")/../delay
if [ -d "$delay" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    for def in "$delay"/*.def; do tail -n +3 "$def"; done | sort -u >"$work/exports"
    x86_64-w64-mingw32-nm "$exe" | awk '$2 == "T" { print $3 }' | sort -u >"$work/defined"
    comm -12 "$work/exports" "$work/defined" >"$work/used"
    grep -v '^#' "$here/delay-imports.txt" | sort -u >"$work/allowed"
    unlisted=$(comm -23 "$work/used" "$work/allowed" | tr '\n' ' ')
    if [ -n "$unlisted" ]; then
        echo "delay-loaded but not known to take no floating-point arguments (see scripts/delay-imports.txt): $unlisted"
        exit 1
    fi
fi
