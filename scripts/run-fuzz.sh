#!/usr/bin/env bash
# Runs the fuzz targets over their kept corpora (fuzz/corpus/<target>) with
# their dictionaries (fuzz/dict/<target>.dict), one after the other on one core.
#   run-fuzz.sh [--long] <fuzz-bin-dir> <work-dir> [target...]
# Short mode (CI): every target for ZS_FUZZ_SECONDS (default 20) on a copy
# of its corpus. Long mode (campaign): ZS_FUZZ_SECONDS (default 600) per
# target, then the new inputs are merged back into fuzz/corpus/<target>.
# Prints executions and executions per second per target; non-zero exit on a
# finding (the input is kept in <work-dir>/artifacts).
set -euo pipefail
long=0
if [ "${1:-}" = "--long" ]; then long=1; shift; fi
bin=${1:?usage: run-fuzz.sh [--long] <fuzz-bin-dir> <work-dir> [target...]}
work=${2:?usage: run-fuzz.sh [--long] <fuzz-bin-dir> <work-dir> [target...]}
shift 2
src=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(package extract markup pathmacros cmdline decide)
seconds=${ZS_FUZZ_SECONDS:-$([ $long = 1 ] && echo 600 || echo 20)}
# A small quarantine keeps five sanitizer processes' memory modest.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32}

# Largest input per target: packages with a few volumes, short texts otherwise.
max_len() { case $1 in package|extract) echo 16384 ;; *) echo 2048 ;; esac; }

mkdir -p "$work/artifacts"
failed=0
total=0
for t in "${targets[@]}"; do
  fuzzer=$bin/fuzz_$t
  [ -x "$fuzzer" ] || { echo "run-fuzz: missing $fuzzer (build with -DZS_FUZZ=ON)" >&2; exit 1; }
  corpus=$work/corpus/$t
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp "$src/fuzz/corpus/$t/." "$corpus/" -r
  log=$work/$t.log
  status=0
  "$fuzzer" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 -rss_limit_mb=1024 \
    -malloc_limit_mb=256 -dict="$src/fuzz/dict/$t.dict" -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/$t-" "$corpus" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  printf 'run-fuzz: %-10s %10s executions %6s exec/s\n' "$t" "${runs:-?}" "${rate:-?}"
  total=$((total + ${runs:-0}))
  if [ $status -ne 0 ]; then
    echo "run-fuzz: finding in $t; see $log and $work/artifacts" >&2
    grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz_)' "$log" | head -n 5 >&2 || true
    failed=1
    continue
  fi
  if [ $long = 1 ]; then
    mkdir -p "$src/fuzz/corpus/$t"
    "$fuzzer" -merge=1 -max_len="$(max_len "$t")" -timeout=10 "$src/fuzz/corpus/$t" "$corpus" >>"$log" 2>&1
  fi
done
echo "run-fuzz: $total executions in all"
exit $failed
