#!/usr/bin/env bash
# reproducible.sh BUILD_DIR [SOURCE_DATE_EPOCH]: builds TarnwickOnlineSetup
# once more from a copy of the sources in another folder, with BUILD_DIR's
# toolchain and cache settings, and fails unless the two exes are identical.
# With SOURCE_DATE_EPOCH the second build takes the stamp "compiler" at that
# moment: at 1583950157 (Mar 11 2020 18:09:17 UTC) it must equal a build with
# the fixed stamp.
set -eu
build=$(cd "${1:?build dir}" && pwd)
epoch=${2:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
copy="$root/build/repro/$(basename "$build")"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

rm -rf "$copy"
mkdir -p "$copy/src"
tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy/src" -xf -
args=(-DCMAKE_TOOLCHAIN_FILE="$copy/src/cmake/$(basename "$(cache CMAKE_TOOLCHAIN_FILE)")"
      -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE)" -DTARNWICK_BUILD_TESTS=OFF
      -DTARNWICK_WERROR="$(cache TARNWICK_WERROR)"
      -DTARNWICK_VERSION_HOST="$(cache TARNWICK_VERSION_HOST)"
      -DTARNWICK_ERRORLOG_HOST="$(cache TARNWICK_ERRORLOG_HOST)"
      -DTARNWICK_WEB_HOST="$(cache TARNWICK_WEB_HOST)")
if [ -n "$epoch" ]; then
  args+=(-DTARNWICK_BUILD_STAMP=compiler)
  export SOURCE_DATE_EPOCH="$epoch"
else
  args+=(-DTARNWICK_BUILD_STAMP="$(cache TARNWICK_BUILD_STAMP)")
fi
cmake -S "$copy/src" -B "$copy/build" "${args[@]}" >/dev/null
cmake --build "$copy/build" --target TarnwickOnlineSetup -j "$(nproc)" >/dev/null
first="$build/bin/TarnwickOnlineSetup.exe"
second="$copy/build/bin/TarnwickOnlineSetup.exe"
if cmp -s "$first" "$second"; then
  echo "reproducible: $first equals a build in $copy${epoch:+ (stamp from SOURCE_DATE_EPOCH=$epoch)}"
  rm -rf "$copy"
else
  echo "FAIL: $first and $second differ:" >&2
  cmp -l "$first" "$second" | head -5 >&2
  exit 1
fi
