#!/bin/sh
# Configures (once) and builds the Windows x64 program and its tests.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
[ -f build/mingw/build.ninja ] || cmake --preset mingw >/dev/null
cmake --build --preset mingw
