#!/bin/sh
# Builds and runs the performance figures under Wine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >&2
exec sh scripts/wine-run.sh "$PWD/build/mingw/wineprefix" "$PWD/build/mingw/bin/quorvantis_bench.exe"
