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

# One 612-byte site record: name and host in UTF-16LE (200 bytes each), port, account and
# password (100 bytes each), video size, view flags, stream number, protocol type, spare.
utf16() { local s=$1 i; for ((i = 0; i < ${#s}; i++)); do printf '%s\0' "${s:i:1}"; done; }
pad() { head -c "$1" /dev/zero; }
u32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
site() {  # name host port account password
  utf16 "$1"; pad $((200 - 2 * ${#1}))
  utf16 "$2"; pad $((200 - 2 * ${#2}))
  u32 "$3"
  printf '%s' "$4"; pad $((100 - ${#4}))
  printf '%s' "$5"; pad $((100 - ${#5}))
  u32 1                 # Middle
  printf '\0\0\0\0'     # no rotation, stream 1, Auto, spare
}
site "Demo camera" 127.0.0.1 "$port" admin demo >"$data/SITE_LIST_USER.DAT"
chmod 600 "$data/SITE_LIST_USER.DAT"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display here; watching the simulated camera with ipcam for 5 seconds instead"
  "$ipcam" watch "127.0.0.1:$port" --user admin --password demo --seconds 5
  exit
fi
echo "demo: kestrel-camsim on 127.0.0.1:$port, viewer data in $data"
"$viewer" --data-dir "$data" --start
