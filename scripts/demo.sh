#!/usr/bin/env bash
# make demo: a simulated family A camera with a pan/tilt head streaming MPEG-4 on loopback, a
# data directory whose site list points at it, and the viewer playing it. Without a display,
# `ipcam watch` plays the same camera for a few seconds instead.
#
#   scripts/demo.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
camsim=$build/tools/camsim/kestrel-camsim
viewer=$build/viewer/kestrel
ipcam=$build/tools/cli/ipcam
for tool in "$camsim" "$viewer" "$ipcam"; do
  [ -x "$tool" ] || { echo "demo: $tool is missing; build first" >&2; exit 2; }
done

data=$build/demo-data
mkdir -p "$data"
log=$data/camsim.log
"$camsim" --user admin --password demo \
  --device family-a:model=20,caps=1,stream=mpeg4:640x480@30 >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
port=
for _ in $(seq 50); do
  port=$(sed -n 's/^listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "demo: kestrel-camsim did not start" >&2; cat "$log" >&2; exit 1; }

. "$root/scripts/site_record.sh"
site "Demo camera" 127.0.0.1 "$port" admin demo >"$data/SITE_LIST_USER.DAT"
chmod 600 "$data/SITE_LIST_USER.DAT"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display here; watching the simulated camera with ipcam for 5 seconds instead"
  "$ipcam" watch "127.0.0.1:$port" --user admin --password demo --seconds 5
  exit
fi
echo "demo: kestrel-camsim on 127.0.0.1:$port, viewer data in $data"
"$viewer" --data-dir "$data" --start
