#!/bin/sh
# Runs every fuzz target longer than CI does (default 10 minutes each).
set -eu
cd "$(dirname "$0")/.."
exec sh scripts/native-test.sh "${1:-600}"
