#!/bin/sh
# Builds and runs the performance figures under Wine.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh >&2
# The download figure needs the local vendor server the tests use.
sh scripts/vendor-server.sh start "$PWD/build/mingw/bin/vendor-server" >&2
status=0
sh scripts/wine-run.sh "$PWD/build/mingw/wineprefix" "$PWD/build/mingw/bin/quorvantis_bench.exe" "$@" || status=$?
sh scripts/vendor-server.sh stop "$PWD/build/mingw/bin/vendor-server"
exit $status
