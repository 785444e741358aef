#!/usr/bin/env bash
# Configures (once) and builds the tree incrementally.
# Usage: scripts/build.sh [--sanitize]   (build dir: build/ or build-sanitize/)
set -euo pipefail
# Build output goes to stderr; the last line on stdout is the build folder.
exec 3>&1 1>&2
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

dir="$root/build"
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = --sanitize ]; then
  dir="$root/build-sanitize"
  opts=(-DCMAKE_BUILD_TYPE=Debug -DMAILVANE_SANITIZE=ON)
fi
[ -n "${CI:-}" ] && opts+=(-DMAILVANE_WERROR=ON)

if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root" -B "$dir" -G Ninja "${opts[@]}"
fi
# Make the moc step rescan every target: with Ninja it otherwise misses headers added to a target
# since the last build (it compares against its own time stamp only).
find "$dir" -path '*_autogen/timestamp' -delete
cmake --build "$dir" -j "$(nproc)"
echo "$dir" >&3
