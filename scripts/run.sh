#!/usr/bin/env bash
# Builds and starts Mailvane; until the desktop program is built, shows the demo instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$("$root/scripts/build.sh" | tail -n 1)

if [ -x "$dir/mailvane/app/mailvane" ]; then
  exec "$dir/mailvane/app/mailvane" "$@"
fi
echo "The desktop program is not part of this tree yet; here is the demo of a mail check instead."
exec "$root/scripts/demo.sh"
