#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds a C program against it with pkg-config
# alone, as an integrator would.
set -euo pipefail
build_dir=$1
source_dir=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
test -f "$prefix/include/ipcam.h"
ls "$prefix"/lib*/libipcam.so >/dev/null
pc=$(ls "$prefix"/lib*/pkgconfig/ipcam.pc)
export PKG_CONFIG_PATH=$(dirname "$pc")
cc -std=c99 -Wall -Wextra -pedantic -Werror "$source_dir/tests/c_api/c_api_check.c" \
   $(pkg-config --cflags --libs ipcam) -o "$prefix/c_api_check"
LD_LIBRARY_PATH=$(dirname "$(dirname "$pc")") IPCAM_CONFIG_DIR="$prefix" "$prefix/c_api_check"

# The installed tool finds its media module: without it, a snapshot is refused before the
# tool connects anywhere.
ls "$prefix"/lib*/ipcam/ipcam-media.so >/dev/null
out=$(IPCAM_CONFIG_DIR="$prefix" "$prefix/bin/ipcam" snapshot 192.0.2.1:1 --out "$prefix/s.jpg" \
      --seconds 1 2>&1 || true)
case $out in
  *"no connection to 192.0.2.1:1"*) ;;
  *) echo "install_check: the installed ipcam did not try to connect:" >&2; echo "$out" >&2; exit 1 ;;
esac
