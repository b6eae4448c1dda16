#!/usr/bin/env bash
# End to end on this machine: CPU seconds per 1,000 frames of `ipcam watch` (receiving only,
# then decoding too) against FFmpeg's command-line client on the same streams of
# kestrel-camsim, and the ratios ours / FFmpeg's; then how many Motion-JPEG 640x480 sessions
# at 30 fps one process holds without falling behind.
#
# Last, the viewer's pipeline (session, decoding, conversion, drawing into memory) against
# FFmpeg decoding and converting to RGB 5-6-5, and its delay from a frame's arrival to its
# picture drawn.
#
#   bench/e2e.sh [BUILD_DIR]        E2E_SECONDS=20 by default (the session counts use at most
#                                   10), VIEWER_SECONDS=60 for each viewer stream
set -euo pipefail
build=${1:-build}
seconds=${E2E_SECONDS:-20}
camsim=$build/tools/camsim/kestrel-camsim
ipcam=$build/tools/cli/ipcam
load=$build/bench/session_load
viewer=$build/bench/viewer_pipeline
for tool in "$camsim" "$ipcam" "$load" "$viewer"; do
  [ -x "$tool" ] || { echo "e2e: $tool is missing; build first (make test)" >&2; exit 2; }
done
command -v ffmpeg >/dev/null || { echo "e2e: ffmpeg is missing" >&2; exit 2; }

work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
# The streaming server (found by Auto detection) and a family A camera with the HUNT stream.
start_sim() {  # name, arguments...
  local name=$1; shift
  "$camsim" "$@" >"$work/$name.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do grep -q '^listening on' "$work/$name.log" && break; sleep 0.1; done
  sed -n 's/^listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/$name.log"
}
server=$(start_sim server --rtsp-port 0 --device server \
  --channel mpeg4:640x480@30 --channel jpeg:640x480@30)
camera=$(start_sim camera --device family-a:caps=1,stream=mpeg4:640x480@30)
for _ in $(seq 50); do grep -q '^rtsp on' "$work/server.log" && break; sleep 0.1; done
rtsp=$(sed -n 's/^rtsp on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/server.log")
[ -n "$server" ] && [ -n "$camera" ] && [ -n "$rtsp" ] || {
  echo "e2e: kestrel-camsim did not start" >&2; cat "$work"/*.log >&2; exit 1; }

# CPU seconds (user + system) of a command, and the frames it reports.
cpu_of() { /usr/bin/time -f '%U %S' -o "$work/time" "$@" >"$work/out" 2>"$work/err" || true
           awk '{ print $1 + $2 }' "$work/time"; }
ipcam_frames() { sed -n 's/^summary: [0-9.]* s, \([0-9]*\) video frames.*/\1/p' "$work/out"; }
ffmpeg_frames() { tr '\r' '\n' <"$work/err" | sed -n 's/^frame= *\([0-9]*\).*/\1/p' | tail -n 1; }
per_k() { awk -v c="$1" -v f="$2" 'BEGIN { if (f > 0) printf "%.3f", c * 1000 / f; else print "n/a" }'; }
ratio() { [ "$1" = n/a ] || [ "$2" = n/a ] && { echo n/a; return; }
          awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

printf '%-34s %12s %12s %8s\n' stream "ours s/1k" "ffmpeg s/1k" ratio
run() {  # name, port, ipcam arguments, ffmpeg input or "" for none, decode (0/1)
  local name=$1 port=$2 args=$3 url=$4 decode=$5 ours theirs of tf
  local extra=""; [ "$decode" = 1 ] && extra="--decode"
  ours=$(cpu_of "$ipcam" watch "127.0.0.1:$port" $args --seconds "$seconds" $extra)
  of=$(ipcam_frames)
  local o; o=$(per_k "$ours" "${of:-0}")
  local t="n/a"
  if [ -n "$url" ]; then
    if [ "$decode" = 1 ]; then
      theirs=$(cpu_of ffmpeg -nostdin -rtsp_transport tcp -i "$url" -t "$seconds" -f null -)
    else
      theirs=$(cpu_of ffmpeg -nostdin -rtsp_transport tcp -i "$url" -t "$seconds" -c copy -f null -)
    fi
    tf=$(ffmpeg_frames)
    t=$(per_k "$theirs" "${tf:-0}")
  fi
  printf '%-34s %12s %12s %8s\n' "$name" "$o" "$t" "$(ratio "$o" "$t")"
}
run "MPEG-4, RTSP interleaved" "$server" "--stream 0" "rtsp://127.0.0.1:$rtsp/CH01" 0
run "MPEG-4, RTSP interleaved, decode" "$server" "--stream 0" "rtsp://127.0.0.1:$rtsp/CH01" 1
run "Motion-JPEG, RTSP" "$server" "--stream 1" "rtsp://127.0.0.1:$rtsp/CH02" 0
run "Motion-JPEG, RTSP, decode" "$server" "--stream 1" "rtsp://127.0.0.1:$rtsp/CH02" 1
run "MPEG-4, HUNT framing" "$camera" "--stream 0" "" 0
run "MPEG-4, HUNT framing, decode" "$camera" "--stream 0" "" 1

echo
echo "Simultaneous Motion-JPEG 640x480 sessions at 30 fps in one process:"
"$load" 127.0.0.1 "$server" --stream 1 --fps 30 --counts 8,16,32,64 \
  --seconds "$(awk -v s="$seconds" 'BEGIN { print (s < 10 ? s : 10) }')"

echo
echo "The viewer's pipeline, 640x480 (CPU s per 1,000 pictures; delay from arrival to drawing):"
viewer_seconds=${VIEWER_SECONDS:-60}
viewer_sim=$(start_sim viewer --rtsp-port 0 --device server \
  --channel mpeg4:640x480@30 --channel mpeg4:640x480@25 \
  --channel jpeg:640x480@30 --channel jpeg:640x480@25)
for _ in $(seq 50); do grep -q '^rtsp on' "$work/viewer.log" && break; sleep 0.1; done
viewer_rtsp=$(sed -n 's/^rtsp on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/viewer.log")
printf '%-22s %s\n' stream "ours | ffmpeg rawvideo rgb565le"
for spec in "0 MPEG-4 30 fps" "1 MPEG-4 25 fps" "2 Motion-JPEG 30 fps" "3 Motion-JPEG 25 fps"; do
  set -- $spec
  stream=$1; shift
  ours=$("$viewer" 127.0.0.1 "$viewer_sim" --stream "$stream" --seconds "$viewer_seconds" | tail -n 1)
  ch=$(printf 'CH%02d' $((stream + 1)))
  theirs=$(cpu_of ffmpeg -nostdin -rtsp_transport tcp -i "rtsp://127.0.0.1:$viewer_rtsp/$ch" \
           -t "$viewer_seconds" -f rawvideo -pix_fmt rgb565le -y /dev/null)
  tf=$(ffmpeg_frames)
  printf '%-22s %s | ffmpeg %s s per 1000\n' "$*" "$ours" "$(per_k "$theirs" "${tf:-0}")"
done
