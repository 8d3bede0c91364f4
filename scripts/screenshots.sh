#!/bin/sh
# Renders every screen offscreen under Wine and refreshes the README's screenshots in docs/screens.
# The full set (one image per stage and GPU Clean phase) stays in build/mingw/screens for review.
set -eu
cd "$(dirname "$0")/.."
sh scripts/build.sh
out="$PWD/build/mingw/screens"
mkdir -p "$out" docs/screens
prefix="$PWD/build/mingw/wineprefix"
# Wine's drive Z: is the Unix root.
windows_out="Z:$(printf '%s' "$out" | tr / '\\')"
QV_SCREENS_DIR="$windows_out" WINEDEBUG=-all sh scripts/wine-run.sh "$prefix" build/mingw/bin/quorvantis_tests.exe \
    --gtest_filter='OffscreenWindow.EveryStage*:OffscreenWindow.GpuClean*:WindowGameCheck.*'
for name in home measure full-tune; do
    cp "$out/$name.png" "docs/screens/$name.png"
done
cp "$out/stage-34-Health.png" docs/screens/health.png
cp "$out/gpu-clean-phase-2.png" docs/screens/gpu-clean.png
cp "$out/game-check.png" docs/screens/game-check.png
# The game comparison's picture, from one seeded game analysed as a real run is.
WINEDEBUG=-all sh scripts/wine-run.sh "$prefix" build/mingw/bin/quorvantis_bench.exe game-plot "$windows_out\\game-compare.svg"
cp "$out/game-compare.svg" docs/screens/game-compare.svg
echo "Screens written to $out; README images refreshed in docs/screens."
