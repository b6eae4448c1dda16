#!/usr/bin/env bash
# End to end on this machine: CPU time per frame of `ipcam watch` (receiving only, then
# decoding too) against FFmpeg's command-line client (`-c copy`, then decoding) on the same
# streams of kestrel-camsim (MPEG-4, Motion-JPEG, H.264, H.265; 640x480, and 1280x720 at about
# 4 Mbit/s; Motion-JPEG 1280x720 as an independent server sends it), and the ratios ours /
# FFmpeg's against the targets (receiving at most 0.5,
# decoding at most 1.0). CPU time is the kernel's account in microseconds (bench/cpu_time), the
# lower of two runs per side. Those figures include each tool's start-up; a second table gives
# the receiving cost once running (MPEG-4 and H.264 640x480: the difference between a run of
# half the time and a whole one). Then how many Motion-JPEG and H.264 640x480 sessions at 30 fps
# one process holds without falling behind.
#
# Then the wall's tiles (4, 9 and 16 of H.264 640x480: pictures drawn per second and tile, CPU
# per picture, delay from arrival to drawing). Then the viewer's pipeline (session, decoding, conversion, drawing into memory) against
# FFmpeg decoding and converting to RGB 5-6-5, and its delay from a frame's arrival to its
# picture drawn. Last, ONVIF: how soon discovery hears simulated cameras, and the time from
# creating an ONVIF session to its first picture against a session by the same stream URL.
#
#   bench/e2e.sh [BUILD_DIR]        E2E_SECONDS=20 by default for each run (the session
#                                   counts use at most 10), VIEWER_SECONDS=60 for each viewer
#                                   stream
set -euo pipefail
build=${1:-build}
seconds=${E2E_SECONDS:-20}
camsim=$build/tools/camsim/kestrel-camsim
ipcam=$build/tools/cli/ipcam
load=$build/bench/session_load
viewer=$build/bench/viewer_pipeline
cpu_time=$build/bench/cpu_time
wall=$build/bench/wall_bench
for tool in "$camsim" "$ipcam" "$load" "$viewer" "$cpu_time" "$wall"; do
  [ -x "$tool" ] || { echo "e2e: $tool is missing; build first (make test)" >&2; exit 2; }
done
command -v ffmpeg >/dev/null || { echo "e2e: ffmpeg is missing" >&2; exit 2; }

work=$(mktemp -d)
# start_sim runs in a command substitution, a subshell: its simulators are remembered in files.
trap 'for p in "$work"/*.pid; do [ -e "$p" ] && kill "$(cat "$p")" 2>/dev/null; done
      rm -rf "$work"' EXIT
# The streaming server (found by Auto detection) and a family A camera with the HUNT stream.
start_sim() {  # name, arguments...
  local name=$1; shift
  "$camsim" "$@" >"$work/$name.log" 2>&1 &
  echo $! >"$work/$name.pid"
  # Up to 30 s: the H.264 and H.265 loops are encoded before the server listens.
  for _ in $(seq 300); do grep -q '^listening on' "$work/$name.log" && break; sleep 0.1; done
  sed -n 's/^listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/$name.log"
}
server=$(start_sim server --rtsp-port 0 --device server \
  --channel mpeg4:640x480@30 --channel jpeg:640x480@30 \
  --channel mpeg4:1280x720@30,bitrate=4000 --channel jpeg:1280x720@25,bitrate=4000 \
  --channel h264:640x480@30,bitrate=1500 --channel h265:640x480@30,bitrate=1500 \
  --channel h264:1280x720@30,bitrate=4000 --channel h265:1280x720@30,bitrate=4000 \
  --channel jpeg:1280x720@25,q=85,grain,pace=100)
camera=$(start_sim camera --device family-a:caps=1,stream=mpeg4:640x480@30)
for _ in $(seq 300); do grep -q '^rtsp on' "$work/server.log" && break; sleep 0.1; done
rtsp=$(sed -n 's/^rtsp on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/server.log")
[ -n "$server" ] && [ -n "$camera" ] && [ -n "$rtsp" ] || {
  echo "e2e: kestrel-camsim did not start" >&2; cat "$work"/*.log >&2; exit 1; }

# CPU microseconds (user + system) of a command; its output stays in $work/out and err.
cpu_of() { "$cpu_time" "$work/time" "$@" >"$work/out" 2>"$work/err" || true
           awk '{ print $1 + $2 }' "$work/time"; }
ipcam_frames() { sed -n 's/^summary: [0-9.]* s, \([0-9]*\) video frames.*/\1/p' "$work/out"; }
ffmpeg_frames() { tr '\r' '\n' <"$work/err" | sed -n 's/^frame= *\([0-9]*\).*/\1/p' | tail -n 1; }
per_frame() { awk -v c="$1" -v f="$2" 'BEGIN { if (f > 0) printf "%.0f", c / f; else print "n/a" }'; }
lower() { [ "$1" = n/a ] && { echo "$2"; return; }; [ "$2" = n/a ] && { echo "$1"; return; }
          awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }
ratio() { [ "$1" = n/a ] || [ "$2" = n/a ] && { echo n/a; return; }
          awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
verdict() { { [ "$1" = n/a ] || [ -z "$2" ]; } && { echo; return; }
            awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t ? "met" : "MISSED") }'; }

# Microseconds per frame, the lower of two runs: ours (port, ipcam arguments) and FFmpeg's.
ours_per_frame() {
  local best=n/a cpu
  for _ in 1 2; do
    cpu=$(cpu_of "$ipcam" watch "127.0.0.1:$1" $2 --seconds "$seconds")
    best=$(lower "$best" "$(per_frame "$cpu" "$(ipcam_frames)")")
  done
  echo "$best"
}
ffmpeg_per_frame() {  # url, output arguments...
  local url=$1 best=n/a cpu; shift
  for _ in 1 2; do
    cpu=$(cpu_of ffmpeg -nostdin -rtsp_transport tcp -i "$url" -t "$seconds" "$@" -f null -)
    best=$(lower "$best" "$(per_frame "$cpu" "$(ffmpeg_frames)")")
  done
  echo "$best"
}

printf '%-52s %10s %10s %6s %7s\n' stream "ours µs/f" "ffmpeg" ratio target
row() {  # name, ours, theirs, target
  local r; r=$(ratio "$2" "$3")
  printf '%-52s %10s %10s %6s %7s %s\n' "$1" "$2" "$3" "$r" "$4" "$(verdict "$r" "$4")"
}
rtsp_stream() {  # name, stream index
  local name=$1 stream=$2 url
  url=$(printf 'rtsp://127.0.0.1:%s/CH%02d' "$rtsp" $((stream + 1)))
  row "$name, receive" "$(ours_per_frame "$server" "--stream $stream")" \
      "$(ffmpeg_per_frame "$url" -c copy)" 0.5
  row "$name, decode" "$(ours_per_frame "$server" "--stream $stream --decode")" \
      "$(ffmpeg_per_frame "$url")" 1.0
}
rtsp_stream "MPEG-4 640x480, RTSP interleaved" 0
rtsp_stream "Motion-JPEG 640x480, RTSP interleaved" 1
rtsp_stream "MPEG-4 1280x720 4 Mbit/s, RTSP interleaved" 2
rtsp_stream "Motion-JPEG 1280x720 4 Mbit/s, RTSP interl." 3
rtsp_stream "H.264 640x480 1.5 Mbit/s, RTSP interleaved" 4
rtsp_stream "H.265 640x480 1.5 Mbit/s, RTSP interleaved" 5
rtsp_stream "H.264 1280x720 4 Mbit/s, RTSP interleaved" 6
rtsp_stream "H.265 1280x720 4 Mbit/s, RTSP interleaved" 7
# As an independent server sends it (GStreamer, quality 85): pictures of about 110 kB in about
# 80 packets, each block written on its own as packets come off a network.
rtsp_stream "Motion-JPEG 1280x720 q85, one block a write" 8
row "MPEG-4 640x480, HUNT framing, receive" "$(ours_per_frame "$camera" "--stream 0")" n/a ""
row "MPEG-4 640x480, HUNT framing, decode" "$(ours_per_frame "$camera" "--stream 0 --decode")" \
    n/a ""

# The figures above divide a whole run's CPU by its frames, start-up (loading libraries,
# connecting, FFmpeg's probing) included. Receiving once running: the difference between a
# run of half the time and a whole one, divided by the frames between them.
steady_run() {  # ipcam STREAM SECONDS | ffmpeg URL SECONDS: the CPU of one run
  if [ "$1" = ipcam ]; then
    cpu_of "$ipcam" watch "127.0.0.1:$server" --stream "$2" --seconds "$3"
  else
    cpu_of ffmpeg -nostdin -rtsp_transport tcp -i "$2" -t "$3" -c copy -f null -
  fi
}
steady_frames() { if [ "$1" = ipcam ]; then ipcam_frames; else ffmpeg_frames; fi; }
steady() {  # ipcam STREAM | ffmpeg URL: µs per frame between the two runs
  local cpu1 cpu2 f1 f2 half=$(( seconds / 2 > 0 ? seconds / 2 : 1 ))
  cpu1=$(steady_run "$1" "$2" "$half"); f1=$(steady_frames "$1")
  cpu2=$(steady_run "$1" "$2" "$seconds"); f2=$(steady_frames "$1")
  awk -v a="$cpu1" -v b="$cpu2" -v f="$f1" -v g="$f2" \
    'BEGIN { if (g > f && b > a) printf "%.0f", (b - a) / (g - f); else print "n/a" }'
}
echo
echo "Receiving once running (µs per frame between a run of half the time and a whole one;"
echo "the targets are those of whole runs, above):"
for spec in "0 MPEG-4 640x480" "4 H.264 640x480"; do
  set -- $spec
  stream=$1; shift
  url=$(printf 'rtsp://127.0.0.1:%s/CH%02d' "$rtsp" $((stream + 1)))
  row "$*, receive once running" "$(steady ipcam "$stream")" "$(steady ffmpeg "$url")" ""
done

echo
load_seconds=$(awk -v s="$seconds" 'BEGIN { print (s < 10 ? s : 10) }')
echo "Simultaneous Motion-JPEG 640x480 sessions at 30 fps in one process:"
"$load" 127.0.0.1 "$server" --stream 1 --fps 30 --counts 8,16,32,64 --seconds "$load_seconds"
echo
echo "Simultaneous H.264 640x480 sessions at 30 fps in one process:"
"$load" 127.0.0.1 "$server" --stream 4 --fps 30 --counts 16,32,64 --seconds "$load_seconds"

echo
echo "The wall: tiles of H.264 640x480 at 30 fps, each decoded and drawn into one 1920x1080 memory display:"
"$wall" "rtsp://127.0.0.1:$rtsp/CH05" --tiles 4,9,16 --seconds "$load_seconds"

echo
echo "The viewer's pipeline, 640x480 (CPU s per 1,000 pictures; delay from arrival to drawing):"
viewer_seconds=${VIEWER_SECONDS:-60}
viewer_sim=$(start_sim viewer --rtsp-port 0 --device server \
  --channel mpeg4:640x480@30 --channel mpeg4:640x480@25 \
  --channel jpeg:640x480@30 --channel jpeg:640x480@25)
for _ in $(seq 300); do grep -q '^rtsp on' "$work/viewer.log" && break; sleep 0.1; done
viewer_rtsp=$(sed -n 's/^rtsp on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/viewer.log")
printf '%-34s %s\n' stream "ours | ffmpeg rawvideo rgb565le"
for spec in "0 paced MPEG-4 30 fps" "1 paced MPEG-4 25 fps" "2 paced Motion-JPEG 30 fps" \
            "3 paced Motion-JPEG 25 fps" "0 low MPEG-4 30 fps, low latency" \
            "2 low Motion-JPEG 30 fps, low latency"; do
  set -- $spec
  stream=$1 latency=$2; shift 2
  ours=$("$viewer" 127.0.0.1 "$viewer_sim" --stream "$stream" --seconds "$viewer_seconds" \
         --latency "$latency" | tail -n 1)
  ch=$(printf 'CH%02d' $((stream + 1)))
  theirs=$(cpu_of ffmpeg -nostdin -rtsp_transport tcp -i "rtsp://127.0.0.1:$viewer_rtsp/$ch" \
           -t "$viewer_seconds" -f rawvideo -pix_fmt rgb565le -y /dev/null)
  tf=$(per_frame "$theirs" "$(ffmpeg_frames)")  # µs per picture, shown as s per 1000
  printf '%-34s %s | ffmpeg %s s per 1000\n' "$*" "$ours" \
    "$(awk -v u="$tf" 'BEGIN { if (u == "n/a") print u; else printf "%.3f", u / 1000 }')"
done

echo
echo "ONVIF: discovery and the time from creating a session to its first picture (simulated cameras in-process):"
"$build/bench/onvif_timing" 20
