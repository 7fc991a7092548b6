#!/usr/bin/env bash
# The project's whole test run: installs what is missing, builds every
# configuration, then runs all tests (native, image checks, Wine, fuzz).
#   test.sh [ctest arguments...]
#   test.sh --repeat N [ctest arguments...]   (or ZS_TEST_REPEAT=N)
# --repeat runs the Wine tests N times each and stops at the first failure,
# then names the failing test and case; its output (with the logs the case
# collected) is printed above by --output-on-failure.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=${ZS_BUILD_ROOT:-$src/build}
repeat=${ZS_TEST_REPEAT:-}
if [ "${1:-}" = "--repeat" ]; then
  repeat=${2:-}
  shift 2 || true
fi
if [ -n "$repeat" ] && ! [[ $repeat =~ ^[1-9][0-9]*$ ]]; then
  echo "test.sh: --repeat needs a positive count, not \"$repeat\"" >&2
  exit 2
fi
"$src/scripts/install-deps.sh"
"$src/scripts/build.sh" "$root"
cd "$root/native"
args=(-j "${ZS_TEST_JOBS:-2}" --output-on-failure --resource-spec-file "$src/tests/wine/resources.json")
if [ -z "$repeat" ]; then
  exec ctest "${args[@]}" "$@"
fi
status=0
ctest "${args[@]}" -R '^wine_' --repeat "until-fail:$repeat" --stop-on-failure "$@" || status=$?
if [ $status -ne 0 ]; then
  echo "== first failure of the repeated Wine run:"
  log=$(ls -t Testing/Temporary/LastTest.log* 2>/dev/null | head -n 1)
  # Each failing case prints "FAIL <case>"; the test it belongs to is the
  # last "Test: <name>" line above it in ctest's log.
  awk '/^[0-9]+\/[0-9]+ Test: /{test=$3} /^FAIL /{print test ": " $0; n++} END{exit n == 0}' "$log" \
    || echo "(no failing case named; see the output above)"
fi
exit $status
