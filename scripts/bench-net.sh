#!/usr/bin/env bash
# Benchmark of the transfers under Wine against the local test server:
#   (a) a 100 MB loopback download through XHttp_Get into a file, against a
#       bare WinINet loop with the same 4,096-byte reads, and curl;
#   (b) a 5-mirror race of a 60 MB file (mirrors throttled at 2, 5, 10, 15 and
#       20 MB/s), against curl and a bare WinINet loop on the 20 MB/s mirror;
#   (c) the pick of the race on nginx and on the paced test server, three
#       mirror mixes each (bursting, delayed, paced), 20 rounds of an 8 MB
#       file: the program's rule against the rule of old and against the
#       fastest mirror alone, round by round in one run.
# (a) and (b) run for both builds side by side, the x86_64 one and the i686
# one (the release's); (c) runs for the i686 build.
# Usage: scripts/bench-net.sh [singleBytes raceBytes [pickFileBytes rounds]]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
build32="$root/build/bench-i686"
state="$build/bench-env"
single=${1:-100000000}
race=${2:-60000000}
pick_bytes=${3:-8000000}
rounds=${4:-20}

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target net_bench tw_keepalive tw_wintool -j2 >/dev/null
cmake -S "$root" -B "$build32" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build32" --target net_bench race_pick_bench -j2 >/dev/null

trap '"$root/tests/harness/wine-env.sh" stop "$state" >/dev/null 2>&1' EXIT
"$root/tests/harness/wine-env.sh" start "$state" "$build/bin" >/dev/null
# shellcheck disable=SC1091
. "$state/env"

# The downloaded file goes to a RAM disk when there is one, so that the
# figures are those of the transfer and not of the disk's write-back.
target=""
if [ -d /dev/shm ] && [ -w /dev/shm ]; then target='Z:\dev\shm\tw-net-bench.bin'; fi

# curl for information: wall, user and system seconds.
curl_time() {
  local TIMEFORMAT='%R %U %S'
  { time curl -sf -o /dev/null "$1"; } 2>&1
}
base="http://127.0.0.1:$TW_HTTP_PORT"
read -r cs_wall cs_user cs_sys < <(curl_time "$base/gen/$single")
read -r cr_wall cr_user cr_sys < <(curl_time "$base/gen/$race?rate=20000000")

for arch in x86_64 i686; do
  bin="$build/bin"
  [ "$arch" = i686 ] && bin="$build32/bin"
  out="$build/net_bench_$arch.out"
  /usr/lib/wine/wine64 "$bin/net_bench.exe" "$single" "$race" $target > "$out" 2>"$out.err" \
    || { echo "net_bench ($arch) failed:" >&2; cat "$out" "$out.err" >&2; exit 1; }
  tr -d '\r' < "$out" > "$out.txt"
  echo "== $arch build$([ "$arch" = i686 ] && echo ' (the release)' || true)"
  awk -v cs_wall="$cs_wall" -v cs_cpu="$(echo "$cs_user $cs_sys" | awk '{print $1+$2}')" \
      -v cr_wall="$cr_wall" -v single="$single" -v race="$race" '
    # Single-download figures come in rounds: keep the best (the machine is shared).
    { if (!($1 in v) || $2 < v[$1]) v[$1] = $2; n[$1]++ }
    function ratio(a, b) { return b > 0 ? a / b : 0 }
    END {
      printf "(a) %d bytes over loopback (best of %d rounds)\n", single, n["single_wall_s"]
      printf "    XHttp_Get to file: wall %.3f s  cpu %.3f s  (ok %d)\n", v["single_wall_s"], v["single_cpu_s"], v["single_ok"]
      printf "    bare WinINet loop: wall %.3f s  cpu %.3f s  (ok %d)\n", v["single_bare_wall_s"], v["single_bare_cpu_s"], v["single_bare_ok"]
      printf "    curl (native):     wall %.3f s  cpu %.3f s\n", cs_wall, cs_cpu
      printf "    ratio XHttp/bare:  wall %.3f  cpu %.3f   (target <= 1.05)\n", ratio(v["single_wall_s"], v["single_bare_wall_s"]), ratio(v["single_cpu_s"], v["single_bare_cpu_s"])
      printf "    ratio XHttp/curl:  wall %.3f (information)\n", ratio(v["single_wall_s"], cs_wall)
      printf "(b) %d bytes raced from 5 mirrors at 2/5/10/15/20 MB/s, sleepInterval 0\n", race
      printf "    race: wall %.3f s  cpu %.3f s  winning slot %d  (ok %d)\n", v["race_wall_s"], v["race_cpu_s"], v["race_slot"], v["race_ok"]
      printf "    peak working set %.1f MiB, peak pagefile %.1f MiB (target <= %.1f MiB)\n", v["race_peak_working_set"] / 1048576, v["race_peak_pagefile"] / 1048576, (race + 33554432) / 1048576
      printf "    curl on the 20 MB/s mirror alone: wall %.3f s\n", cr_wall
      printf "    bare WinINet loop on it: wall %.3f s  cpu %.3f s\n", v["race_bare_wall_s"], v["race_bare_cpu_s"]
      printf "    ratio race/curl wall %.3f (target <= 1.10); race/bare cpu %.3f (target <= 1.15)\n", ratio(v["race_wall_s"], cr_wall), ratio(v["race_cpu_s"], v["race_bare_cpu_s"])
    }' "$out.txt"
done

# (c) The pick; the losers' bytes are what the servers say they sent.
pick_out="$build/race_pick_bench.out"
/usr/lib/wine/wine64 "$build32/bin/race_pick_bench.exe" "$rounds" "$pick_bytes" $target \
  > "$pick_out" 2>"$build/race_pick_bench.err" \
  || { echo "race_pick_bench failed:" >&2; cat "$pick_out" "$build/race_pick_bench.err" >&2; exit 1; }
sleep 2  # the last losers close their connections and the servers log them
python3 "$root/bench/race_pick_report.py" "$pick_out" "$state/nginx/access.log" "$state/sent-http.log" \
  "$pick_bytes" "$rounds"
