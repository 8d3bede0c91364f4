#!/bin/sh
# Builds Quorvantis.exe and runs it under Wine with the given arguments (default: --help).
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >&2
[ $# -gt 0 ] || set -- --help
exec sh scripts/wine-run.sh "$PWD/build/mingw/wineprefix" "$PWD/build/mingw/bin/Quorvantis.exe" "$@"
