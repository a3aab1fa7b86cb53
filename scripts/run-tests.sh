#!/usr/bin/env bash
# Sets up the machine, builds the release (i686), the same release with the
# test servers compiled in, and the test build (x86_64), then runs every test
# under Wine: the unit tests on the x86_64 build, the end-to-end runs against
# the 32-bit release. Exit code 0 only when all tests pass.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-deps.sh"
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
jobs=$(nproc)
# The three servers compiled into the test builds; another base lets two
# checkouts run their tests on one machine at the same time.
port=${TW_PORT_BASE:-18443}
hosts=(-DTARNWICK_VERSION_HOST=localhost:$port -DTARNWICK_ERRORLOG_HOST=localhost:$((port + 1))
       -DTARNWICK_WEB_HOST=localhost:$((port + 2)))

cmake -S "$root" -B "$root/build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
      -DTARNWICK_WERROR=$werror -DTARNWICK_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/i686" -j "$jobs"

# The program users download, with only the server names changed.
cmake -S "$root" -B "$root/build/i686-test" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
      -DTARNWICK_WERROR=$werror -DTARNWICK_BUILD_TESTS=OFF "${hosts[@]}" >/dev/null
cmake --build "$root/build/i686-test" -j "$jobs" --target TarnwickOnlineSetup

cmake -S "$root" -B "$root/build/x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DTARNWICK_WERROR=$werror "${hosts[@]}" \
      -DTARNWICK_E2E_EXE="$root/build/i686-test/bin/TarnwickOnlineSetup.exe" >/dev/null
cmake --build "$root/build/x64" -j "$jobs"

# Release checks (tests/checks): the size budget of both builds, builds that
# repeat byte for byte (the i686 one with its stamp taken from
# SOURCE_DATE_EPOCH at the published moment), the signing step, and import
# tables that name known DLLs only (and, for the i686 one, nothing XP lacks).
checks_failed=0
check() { "$@" || checks_failed=1; }
check "$root/tests/checks/release_size.sh" "$root/build/i686/bin/TarnwickOnlineSetup.exe"
# The x86_64 build carries the platform's unwind tables (.pdata, .xdata) and
# 8-byte pointers: a budget of its own, 176 KiB.
check "$root/tests/checks/release_size.sh" "$root/build/x64/bin/TarnwickOnlineSetup.exe" 180224
check "$root/tests/checks/reproducible.sh" "$root/build/i686" 1583950157
check "$root/tests/checks/reproducible.sh" "$root/build/x64"
check "$root/tests/checks/signing.sh" "$root/build/i686/bin/TarnwickOnlineSetup.exe"
check "$root/tests/checks/imports.sh" "$root/build/i686/bin/TarnwickOnlineSetup.exe" xp
check "$root/tests/checks/imports.sh" "$root/build/x64/bin/TarnwickOnlineSetup.exe"

cd "$root/build/x64"
# The fixture's cleanup stops Wine and the servers also when tests fail; this
# trap covers an interrupted run. Tests that share the display, the debug
# receiver or the compiled-in servers hold CTest resource locks, so any -j works.
trap '"$root/tests/harness/wine-env.sh" stop "$root/build/x64/test-env" >/dev/null 2>&1' EXIT
tests_rc=0
ctest --output-on-failure --timeout 600 -j "$jobs" "$@" || tests_rc=$?
[ "$checks_failed" = 0 ] || echo "release checks failed (see above)" >&2
[ "$tests_rc" = 0 ] && [ "$checks_failed" = 0 ]
