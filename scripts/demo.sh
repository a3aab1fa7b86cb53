#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine, as root: set up, build the release
# (i686, run here with the demo's servers compiled in) and the helpers
# (x86_64), publish a demo setup (signed with a
# throwaway certificate) on local servers, run the online setup under Wine on a
# virtual display, and end with the demo setup started. Prints each step and
# saves a screenshot of the window during the download.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
step() { printf '\n== %s\n' "$*"; }
# The three servers compiled into the Wine build; another base lets two
# checkouts run the demo on one machine at the same time.
port=${TW_PORT_BASE:-18443}

step "installing what is missing (apt)"
"$root/scripts/setup-deps.sh"

step "building the release: build/i686/bin/TarnwickOnlineSetup.exe (32-bit)"
cmake -S "$root" -B "$root/build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
      -DTARNWICK_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/i686" -j "$(nproc)" >/dev/null

hosts=(-DTARNWICK_VERSION_HOST=localhost:$port -DTARNWICK_ERRORLOG_HOST=localhost:$((port + 1))
       -DTARNWICK_WEB_HOST=localhost:$((port + 2)))
step "building the same release with the demo's servers on localhost: build/i686-test"
cmake -S "$root" -B "$root/build/i686-test" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
      -DTARNWICK_BUILD_TESTS=OFF "${hosts[@]}" >/dev/null
cmake --build "$root/build/i686-test" -j "$(nproc)" --target TarnwickOnlineSetup >/dev/null
export TW_E2E_EXE="$root/build/i686-test/bin/TarnwickOnlineSetup.exe"

step "building the helpers (Wine set-up, demo setup program, debug receiver): build/x64"
cmake -S "$root" -B "$root/build/x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      "${hosts[@]}" >/dev/null
cmake --build "$root/build/x64" -j "$(nproc)" >/dev/null

state="$root/build/x64/demo-env"
step "starting Wine (private prefix), a virtual display and the test CA"
trap '"$root/tests/harness/wine-env.sh" stop "$state" >/dev/null 2>&1' EXIT
"$root/tests/harness/wine-env.sh" start "$state" "$root/build/x64/bin"

"$root/tests/harness/with-env.sh" "$state" python3 "$root/scripts/demo.py" \
  --state "$state" --bin "$root/build/x64/bin" --out "$root/build/demo" --port-base "$port"
