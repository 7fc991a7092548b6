#!/usr/bin/env bash
# Builds from one tree: the native tools and tests, the x86_64 and i686
# Windows programs (MinGW-w64) and the clang fuzz target.
#   build.sh [build-root]                      everything, tree by tree
#   build.sh <build-root> <tree>:<target>,...  only those targets; the named
#                                              trees are built side by side
# Trees: native, win64, win32, fuzz. Example: build.sh build native:packer win64:stub
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=${1:-$src/build}
[ $# -gt 0 ] && shift
jobs=${ZS_JOBS:-$(nproc)}

conf() { # tree
  local dir=$root/$1 args=()
  case $1 in
    win64) args=(-DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-x86_64-w64-mingw32.cmake") ;;
    win32) args=(-DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-i686-w64-mingw32.cmake") ;;
    fuzz) args=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZS_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    native) args=(-DZS_WIN64_DIR="$root/win64" -DZS_WIN32_DIR="$root/win32" -DZS_FUZZ_DIR="$root/fuzz") ;;
    *) echo "build.sh: unknown tree \"$1\" (native, win64, win32, fuzz)" >&2; return 2 ;;
  esac
  if [ ! -f "$dir/build.ninja" ]; then cmake -S "$src" -B "$dir" -G Ninja "${args[@]}" >/dev/null; fi
}

if [ $# -eq 0 ]; then
  for tree in win64 win32 fuzz native; do conf $tree; done
  for tree in native win64 win32 fuzz; do
    echo "== building $tree"
    cmake --build "$root/$tree" -j "$jobs"
  done
  exit 0
fi

# Selected targets: each tree configures and builds in its own process, so
# one tree's configure step or single-threaded link overlaps the other's
# compiling. Each tree's output is shown when it is done.
pids=() logs=()
for want in "$@"; do
  tree=${want%%:*}
  targets=${want#*:}
  [ "$targets" != "$want" ] && [ -n "$targets" ] || { echo "build.sh: expected <tree>:<target>,... not \"$want\"" >&2; exit 2; }
  log=$(mktemp)
  logs+=("$log")
  ( conf "$tree" && cmake --build "$root/$tree" -j "$jobs" --target ${targets//,/ } ) >"$log" 2>&1 &
  pids+=($!)
done
status=0
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then status=1; fi
  echo "== building ${*:$((i + 1)):1}"
  grep -v '^\[[0-9]*/[0-9]*\] ' "${logs[$i]}" || true
  rm -f "${logs[$i]}"
done
exit $status
