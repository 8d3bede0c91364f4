#!/bin/sh
# Builds everything and runs the whole test suite under Wine.
set -eu
cd "$(dirname "$0")/.."
# The layers first: an upward include fails at once, before the long build.
sh scripts/check-layers.sh
sh scripts/check-layers.sh --self-test
sh scripts/build.sh
status=0
retries="$PWD/build/mingw/wineprefix.retries"
rm -f "$retries"
ctest --preset mingw -j2 || status=$?
if [ -s "$retries" ]; then
    echo "Test programs Wine ended before they printed anything, started once more:"
    cat "$retries"
fi
# The parsers again, natively under the sanitizers, and a bounded fuzzing run of each.
sh scripts/native-test.sh 15 || status=$?
# Leave no lingering Wine server holding the prefix once the suite is done.
WINEPREFIX="$PWD/build/mingw/wineprefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
exit $status
