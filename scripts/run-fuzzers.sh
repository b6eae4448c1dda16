#!/usr/bin/env bash
# Runs every fuzzer of the fuzz build briefly over a scratch copy of its seed corpus. A failing
# fuzzer's input is kept in fuzz/corpus-run/NAME/ so that the failure can be replayed.
set -euo pipefail
build_dir=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for fuzzer in "$build_dir"/fuzz/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer" _fuzzer)
  work=$(mktemp -d)
  cp -r "$root/fuzz/corpus/$name/." "$work/" 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$work/" "$work" >"$work.log" 2>&1; then
    echo "fuzz: $name FAILED"; tail -n 40 "$work.log"; status=1
    kept="$root/fuzz/corpus-run/$name"
    mkdir -p "$kept"
    for artifact in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
      [ -e "$artifact" ] && cp "$artifact" "$kept/" && echo "fuzz: kept $kept/$(basename "$artifact")"
    done
  else
    grep -E '^(Done|#[0-9]+.*DONE)' "$work.log" | tail -n 1 || true
  fi
  rm -rf "$work" "$work.log"
done
exit $status
