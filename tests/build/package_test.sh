#!/usr/bin/env bash
# Builds the Debian package of a build folder, checks its architecture and contents,
# unpacks it into a scratch root with dpkg -x and builds the C example against that
# root with the build's C compiler: with pkg-config, and natively also with the CMake
# package. Arguments: build folder, source folder, Debian architecture, C compiler.
set -euo pipefail
build_dir=$1
source_dir=$2
architecture=$3
cc=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" > /dev/null
packages=("$scratch"/out/tavo_*_"$architecture".deb)
test ${#packages[@]} -eq 1 && test -f "${packages[0]}"
test "$(dpkg-deb -f "${packages[0]}" Architecture)" = "$architecture"

dpkg -x "${packages[0]}" "$scratch/root"
usr=$scratch/root/usr
version=$(dpkg-deb -f "${packages[0]}" Version)
test -L "$usr/lib/libtavo.so" && test -L "$usr/lib/libtavo.so.1" && test -f "$usr/lib/libtavo.so.$version"
test -x "$usr/bin/tavo" && test -x "$usr/bin/tavo-sim"
test -f "$usr/include/tavo/tavo.h" && test -f "$usr/include/tavo/tavo_ext.h"
test -f "$usr/lib/cmake/tavo/tavoConfig.cmake" && test -f "$usr/share/tavo/99-tavo.rules"

export PKG_CONFIG_PATH="$usr/lib/pkgconfig"
"$cc" -Wall -Werror "$source_dir/examples/play_sine.c" $(pkg-config --cflags --libs tavo) -o "$scratch/play_sine"

if [ "$architecture" = "$(dpkg --print-architecture)" ]; then
  mkdir -p "$scratch/consumer"
  cat > "$scratch/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(tavo REQUIRED)
add_executable(play_sine "$source_dir/examples/play_sine.c")
target_link_libraries(play_sine PRIVATE tavo::tavo)
CMAKE
  cmake -S "$scratch/consumer" -B "$scratch/consumer/build" -DCMAKE_PREFIX_PATH="$usr" > /dev/null
  cmake --build "$scratch/consumer/build" > /dev/null
fi
echo "the $architecture package builds the example"
