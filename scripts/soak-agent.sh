#!/usr/bin/env bash
# Soak run of the update agent: one X_ copy under Wine is asked for check
# after check while the fault server in front of it fails in turn (refused
# connection, 404, 500, a stall, a short body, a package with another token,
# a spoiled signature) and now and then offers a good release, which must be
# installed. Prints the checks done, the faults met, the updates installed,
# the copy's working set and handle count at the start and the end, and its
# CPU time while idle. A benchmark to run by hand, not a test.
#   soak-agent.sh [checks] [build-root]      (default 500 checks, ./build)
# ZS_SOAK_IDLE (seconds, default 60) sets the idle span measured at the end.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
checks=${1:-500}
root=$(realpath -m "${2:-$src/build}")
work=${ZS_SOAK_WORK:-$root/soak-agent}

"$src/scripts/build.sh" "$root" win64:stub,launch,notifyclient,testengine,testwindows,guidriver,proctool native:packer >/dev/null
mkdir -p "$work"
# The prefix's wineserver keeps its output open: send it to a file, not a pipe.
"$src/scripts/wine-prefix.sh" start "$work/wine" 1 >"$work/wine-prefix.log" 2>&1
trap '"$src/scripts/wine-prefix.sh" stop "$work/wine" 1 >/dev/null 2>&1 || true' EXIT

ZS_SOURCE_DIR=$src ZS_WIN64_BIN=$root/win64/bin ZS_NATIVE_BIN=$root/native/bin ZS_WINE_WORK=$work \
  ZS_WINEPREFIX=$work/wine/prefix0 python3 "$src/scripts/soak_agent.py" "$checks" "${ZS_SOAK_IDLE:-60}"
