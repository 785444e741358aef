#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs each for SECONDS (30
# by default) on its seeds, its dictionary and the corpus of earlier runs (build-fuzz/corpus/).
# A crash or a broken invariant stops the run with a failure and leaves the input that caused it in
# build-fuzz/crashes/. Called by scripts/test.sh --fuzz [SECONDS].
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
case "$seconds" in
  '' | *[!0-9]*) echo "fuzz: SECONDS must be a whole number, not \"$seconds\"" >&2; exit 2 ;;
esac
"$root/scripts/setup.sh"

dir="$root/build-fuzz"
opts=(-DCMAKE_CXX_COMPILER=clang++)
[ -n "${CI:-}" ] && opts+=(-DMAILVANE_WERROR=ON)
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$root/fuzz" -B "$dir" -G Ninja "${opts[@]}"
fi
cmake --build "$dir" -j "$(nproc)"

targets=(fuzz_pop3_reply_reader fuzz_header_value fuzz_header_decoder fuzz_regfile_import
         fuzz_certificate_fingerprint)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$dir/crashes"
status=0
for target in "${targets[@]}"; do
  corpus="$dir/corpus/$target"
  mkdir -p "$corpus"
  log="$dir/$target.log"
  echo "fuzz: $target for $seconds s"
  if "$dir/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -dict="$root/fuzz/dictionaries/$target.dict" -artifact_prefix="$dir/crashes/$target-" \
      "$corpus" "$root/fuzz/seeds/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz: $target passed: ${runs:-?} inputs, corpus of $(find "$corpus" -type f | wc -l)"
  else
    status=1
    echo "fuzz: $target FAILED; its output:" >&2
    tail -n 60 "$log" >&2
  fi
done
exit $status
