#!/bin/sh
# Fails when the given Windows executable needs a DLL that Windows itself does not ship,
# such as the MinGW runtime (libstdc++, libgcc, libwinpthread).
set -eu
exe=$1
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
[ -n "$dlls" ] || { echo "no import table found in $exe"; exit 1; }
echo "$dlls"
bad=$(echo "$dlls" | grep -E '^(libstdc\+\+|libgcc|libwinpthread|libssp|libatomic|libgomp)' || true)
if [ -n "$bad" ]; then
    echo "not statically linked; needs: $bad"
    exit 1
fi
