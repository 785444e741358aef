#!/usr/bin/env bash
# Grabs the manual's pictures from the real windows under a throwaway X server.
# Usage: scripts/screenshots.sh [FOLDER]   (default: docs/manual/images)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$("$root/scripts/build.sh" | tail -n 1)
out=${1:-$root/docs/manual/images}
export MAILVANE_SOURCE_DIR=$root
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/tests/support/screenshots/mailvane-screenshots" "$out"
