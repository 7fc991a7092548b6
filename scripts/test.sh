#!/usr/bin/env bash
# The project's whole test run: installs what is missing, builds every
# configuration, then runs all tests (native, image checks, Wine, fuzz).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=${ZS_BUILD_ROOT:-$src/build}
"$src/scripts/install-deps.sh"
"$src/scripts/build.sh" "$root"
cd "$root/native"
exec ctest -j "${ZS_TEST_JOBS:-2}" --output-on-failure --resource-spec-file "$src/tests/wine/resources.json" "$@"
