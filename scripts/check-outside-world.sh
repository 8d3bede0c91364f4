#!/bin/sh
# Fails when a fake or stand-in of the tests is not named in docs/outside-world.md: every fake
# says what real thing it models, and that is written down beside the others.
# Usage: check-outside-world.sh [SOURCE_ROOT]
set -eu
root=${1:-$(dirname "$0")/..}
doc="$root/docs/outside-world.md"
[ -f "$doc" ] || { echo "docs/outside-world.md is missing"; exit 1; }
names=$(
    for f in "$root"/tests/helpers/*.cpp "$root"/tests/helpers/*.h "$root"/tests/support/*.py; do
        base=$(basename "$f"); base=${base%.*}
        [ "$base" = helper_common ] || echo "$base"
    done
    grep -ohE "^(class|struct) (Fake|Simulated)[A-Za-z]+" -r "$root/tests" --include='*.h' --include='*.cpp' | awk '{print $2}'
)
missing=0
for name in $(printf "%s\n" "$names" | sort -u); do
    if ! grep -q "$name" "$doc"; then
        echo "Not in docs/outside-world.md: $name"
        missing=1
    fi
done
[ $missing -eq 0 ] && echo "Every fake is named in docs/outside-world.md."
exit $missing
