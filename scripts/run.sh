#!/usr/bin/env bash
# Builds and starts Mailvane.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$("$root/scripts/build.sh" | tail -n 1)

if [ -x "$dir/mailvane/app/mailvane" ]; then
  exec "$dir/mailvane/app/mailvane" "$@"
fi
echo "Everything is built in $dir; the desktop program is not part of this tree yet."
