#!/usr/bin/env bash
# Installs the Debian packages Kestrel builds and tests with, when they are missing.
# Quiet and idempotent: with everything present it only asks dpkg and returns.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libjpeg62-turbo-dev libxml2-dev
  libgtest-dev libgmock-dev libbenchmark-dev ffmpeg
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
