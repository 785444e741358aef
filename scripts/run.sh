#!/usr/bin/env bash
# Builds and starts Mailvane (the desktop program). Arguments go to the program (--help, --version).
# A running Mailvane is asked to show its list instead. The demo is scripts/demo.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$("$root/scripts/build.sh" | tail -n 1)
exec "$dir/mailvane/app/mailvane" "$@"
