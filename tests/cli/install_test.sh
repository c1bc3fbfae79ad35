#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds the C example against the
# installed tree twice: with pkg-config and with the CMake package.
set -euo pipefail
build_dir=$1
source_dir=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" > /dev/null
libdir=$(find "$prefix" -name 'libtavo.so.1' -printf '%h\n' | head -n 1)
test -L "$libdir/libtavo.so" && test -L "$libdir/libtavo.so.1" && test -f "$libdir/libtavo.so.1.0.5.4"
test -x "$prefix/bin/tavo" && test -x "$prefix/bin/tavo-sim"
test -f "$prefix/include/tavo/tavo.h" && test -f "$prefix/include/tavo/tavo_ext.h"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -Wall -Werror "$source_dir/examples/play_sine.c" $(pkg-config --cflags --libs tavo) -o "$prefix/play_sine"

mkdir -p "$prefix/consumer"
cat > "$prefix/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(tavo REQUIRED)
add_executable(play_sine "$source_dir/examples/play_sine.c")
target_link_libraries(play_sine PRIVATE tavo::tavo)
CMAKE
cmake -S "$prefix/consumer" -B "$prefix/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" > /dev/null
cmake --build "$prefix/consumer/build" > /dev/null
echo "installed tree builds the example"
