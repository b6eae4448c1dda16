#!/usr/bin/env bash
# The camera wall on a virtual X display: four simulated cameras (H.264, H.265, MPEG-4 and
# Motion-JPEG over RTSP), a site list of their URLs, `kestrel --wall` showing them in a 2x2
# layout, and a screenshot of it:
#
#   scripts/wall-screenshot.sh [OUT.png] [BUILD_DIR]     (needs xvfb and ffmpeg)
set -euo pipefail
out=${1:-wall.png}
build=${2:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$out" "$build"
fi
camsim=$build/tools/camsim/kestrel-camsim
viewer=$build/viewer/kestrel
for tool in "$camsim" "$viewer"; do
  [ -x "$tool" ] || { echo "wall-screenshot: $tool is missing; build first" >&2; exit 2; }
done
. "$root/scripts/site_record.sh"

data=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$data"' EXIT
: >"$data/SITE_LIST_USER.DAT"
n=0
for channel in h264:640x480@25 h265:640x480@25 mpeg4:640x480@25 jpeg:640x480@15; do
  n=$((n + 1))
  "$camsim" --rtsp-port 0 --device server --channel "$channel" >"$data/camsim$n.log" 2>&1 &
  pids+=($!)
  port=
  for _ in $(seq 300); do  # the H.264 and H.265 loops are encoded before the server listens
    port=$(sed -n 's/^rtsp on 127.0.0.1:\([0-9]*\).*/\1/p' "$data/camsim$n.log")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "wall-screenshot: kestrel-camsim did not start" >&2; exit 1; }
  site "Camera $n (${channel%%:*})" "rtsp://127.0.0.1:$port/CH01" 0 "" "" 6 \
    >>"$data/SITE_LIST_USER.DAT"
done
chmod 600 "$data/SITE_LIST_USER.DAT"

"$viewer" --data-dir "$data" --wall >"$data/kestrel.log" 2>&1 &
pids+=($!)
sleep "${SHOT_AFTER:-8}"
ffmpeg -loglevel error -y -f x11grab -video_size 1280x800 -i "$DISPLAY" -frames:v 1 "$out"
echo "screenshot: $out"
grep -v "XDG_RUNTIME_DIR" "$data/kestrel.log" >&2 || true
