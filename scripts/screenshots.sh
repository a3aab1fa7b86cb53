#!/usr/bin/env bash
# Screenshots of the main window under Xvfb and Wine into docs/screenshots/:
# English, Japanese and Korean texts, the percentage, the failure with the
# link, the Windows XP notice. Uses the x86_64 test build (its helper
# tw_window_shots.exe drives the window and saves what the screen shows).
#   scripts/screenshots.sh [build-dir]      (default: build/x64)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/x64}
out="$root/docs/screenshots"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
cmake --build "$build" --target tw_window_shots tw_keepalive -j 2 >/dev/null
helper="$build/bin/tw_window_shots.exe"

state="$build/shots-env"
mkdir -p "$state" "$out"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX="$state/prefix" "$WINESERVER" -k 2>/dev/null || true
}
trap cleanup EXIT

rm -f "$state/display.num"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display.num" >"$state/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$state/display.num" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$state/display.num")"
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
"$WINESERVER" -p >"$state/wine.log" 2>&1
[ -f "$WINEPREFIX/system.reg" ] || "$WINE" wineboot -i >>"$state/wine.log" 2>&1
"$WINE" "$build/bin/tw_keepalive.exe" >>"$state/wine.log" 2>&1 &
pids+=($!)

# name language scene locale
shots=(
  "english-checking English checking C.UTF-8"
  "english-percent English percent C.UTF-8"
  "english-failure-link English failure C.UTF-8"
  "english-xp English xp C.UTF-8"
  "japanese-failure-link Japanese failure ja_JP.UTF-8"
  "korean-failure-link Korean failure ko_KR.UTF-8"
)
for shot in "${shots[@]}"; do
  read -r name language scene locale <<<"$shot"
  bmp="$state/$name.bmp"
  rm -f "$bmp"
  # A virtual desktop: Wine draws the frame and caption itself (no window
  # manager runs on the Xvfb display).
  LANG=$locale "$WINE" explorer "/desktop=shots,1024x768" "$helper" "$language" "$scene" \
    "Z:${bmp//\//\\}" >>"$state/wine.log" 2>&1
  [ -s "$bmp" ] || { echo "no screenshot for $name (see $state/wine.log)" >&2; exit 1; }
  convert "$bmp" "$out/$name.png"
  echo "docs/screenshots/$name.png"
done
