#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [--sanitize] [ctest arguments...]
#                                    scripts/test.sh --fuzz [SECONDS]   (see scripts/fuzz.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = --fuzz ]; then
  shift
  exec "$root/scripts/fuzz.sh" "$@"
fi

mode=()
if [ "${1:-}" = --sanitize ]; then
  mode=(--sanitize)
  shift
fi
dir=$("$root/scripts/build.sh" "${mode[@]}" | tail -n 1)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$dir"
ctest --output-on-failure -j "$(nproc)" "$@"
