#!/bin/sh
# Fails when a product source names a drive in a string ("C:\..."): on a PC whose Windows is not
# on that drive, any user may create such a path, and an elevated program would then run or
# read what they put there. Folders come from the system (known folders, the system folder).
# Usage: check-paths.sh SOURCE_ROOT
set -eu
root=${1:-.}
cd "$root"
found=$(grep -nE "\"[A-Za-z]:(\\\\\\\\|/)" -r --include='*.cpp' --include='*.h' \
            app foundation timer service tweaks gpu driver health gui afterburner update || true)
if [ -n "$found" ]; then
    echo "Literal drive paths in product sources:"
    printf "%s\n" "$found"
    exit 1
fi
echo "No product source names a drive."
