#!/bin/sh
# Fails when the given Windows executable imports, statically, a DLL that is not one of Windows'
# KnownDLLs: such a DLL is resolved before the program's first line runs, and a file of that
# name beside the program (a Downloads folder) would load into it, elevated. Everything else is
# delay-loaded. Also fails on any MinGW runtime DLL (the program is linked statically).
set -eu
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
