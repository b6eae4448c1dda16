#!/usr/bin/env bash
# Runs the demo on a virtual X display and saves a screenshot of it, to check what the viewer
# shows without a screen at hand:
#
#   scripts/demo-screenshot.sh [OUT.png] [BUILD_DIR]     (needs xvfb, x11-apps, ImageMagick)
set -euo pipefail
out=${1:-demo.png}
build=${2:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$out" "$build"
fi
"$root/scripts/demo.sh" "$build" &
demo=$!
trap 'kill $demo 2>/dev/null; pkill -P $demo 2>/dev/null || true' EXIT
sleep "${SHOT_AFTER:-8}"
xwd -root -silent > "$out.xwd"
"${CONVERT:-convert}" "xwd:$out.xwd" "$out"
rm -f "$out.xwd"
echo "screenshot: $out"
