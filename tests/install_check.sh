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
