#!/bin/sh
# Builds Quorvantis.exe and runs it under Wine with the given arguments
# (default: a low-fidelity benchmark, which changes nothing on the machine).
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >&2
[ $# -gt 0 ] || set -- --benchmark --fidelity low
exec sh scripts/wine-run.sh "$PWD/build/mingw/wineprefix" "$PWD/build/mingw/bin/Quorvantis.exe" "$@"
