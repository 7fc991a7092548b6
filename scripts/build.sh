#!/usr/bin/env bash
# Builds everything from one tree: the native tools and tests, the x86_64 and
# i686 Windows programs (MinGW-w64) and the clang fuzz target.
#   build.sh [build-root]     (default: ./build)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-$src/build}
jobs=${ZS_JOBS:-$(nproc)}

conf() { # dir, extra cmake args...
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then cmake -S "$src" -B "$dir" -G Ninja "$@" >/dev/null; fi
}
conf "$root/win64" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-x86_64-w64-mingw32.cmake"
conf "$root/win32" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-i686-w64-mingw32.cmake"
conf "$root/fuzz" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZS_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
conf "$root/native" -DZS_WIN64_DIR="$root/win64" -DZS_WIN32_DIR="$root/win32" -DZS_FUZZ_DIR="$root/fuzz"

for cfg in native win64 win32 fuzz; do
  echo "== building $cfg"
  cmake --build "$root/$cfg" -j "$jobs"
done
