#!/usr/bin/env bash
# Sets up the machine, builds the release (i686) and the test build (x86_64)
# and runs every test under Wine. Exit code 0 only when all tests pass.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-deps.sh"
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
jobs=$(nproc)
# The three servers compiled into the test build; another base lets two
# checkouts run their tests on one machine at the same time.
port=${TW_PORT_BASE:-18443}

cmake -S "$root" -B "$root/build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
      -DTARNWICK_WERROR=$werror -DTARNWICK_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/i686" -j "$jobs"

cmake -S "$root" -B "$root/build/x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DTARNWICK_WERROR=$werror \
      -DTARNWICK_VERSION_HOST=localhost:$port -DTARNWICK_ERRORLOG_HOST=localhost:$((port + 1)) \
      -DTARNWICK_WEB_HOST=localhost:$((port + 2)) >/dev/null
cmake --build "$root/build/x64" -j "$jobs"

cd "$root/build/x64"
# The fixture's cleanup stops Wine and the servers also when tests fail; this
# trap covers an interrupted run. Tests that share the display, the debug
# receiver or the compiled-in servers hold CTest resource locks, so any -j works.
trap '"$root/tests/harness/wine-env.sh" stop "$root/build/x64/test-env" >/dev/null 2>&1' EXIT
ctest --output-on-failure --timeout 600 -j "$jobs" "$@"
