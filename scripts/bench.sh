#!/usr/bin/env bash
# All benchmarks in one run, each figure as a ratio against its peer measured
# in the same run (as root, on the build machine):
#   (1) CRC-32 throughput, natively: Crc32Update against zlib's crc32() over
#       the same bytes, in 4,096-byte and 64 KiB calls (target: ours >= 2x zlib);
#   (2) GetFileCrc32 against a bare loop of 4,096-byte ReadFile calls over the
#       same file, under Wine, x86_64 and i686 builds (target: <= 1.15);
#   (3) the i686 release's size against its budget of 163,840 bytes;
#   (4) the transfer benchmark (scripts/bench-net.sh).
# Usage: scripts/bench.sh [fileMegabytes]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
megabytes=${1:-256}
"$root/scripts/setup-deps.sh"
out="$root/build/bench"
mkdir -p "$out"

echo "(1) CRC-32 throughput, native (best of 5 alternating rounds, GB/s)"
g++ -O2 -std=c++17 -I"$root" "$root/bench/crc32_bench.cpp" "$root/support/crc32.cpp" \
    "$root/support/crc32_clmul.cpp" -lz -o "$out/crc32_bench"
"$out/crc32_bench" > "$out/crc32_bench.out"
awk '{ v[$1] = $2 }
  END {
    printf "    carry-less multiply available: %s\n", v["clmul"] ? "yes" : "no"
    for (i = 1; i <= 2; i++) {
      b = i == 1 ? 4096 : 65536
      printf "    %5d-byte calls: ours %6.2f  zlib %5.2f  slice-by-8 %5.2f  byte table %5.2f   ratio ours/zlib %.2f (target >= 2)\n",
             b, v["gbps_ours_" b], v["gbps_zlib_" b], v["gbps_slice8_" b], v["gbps_bytewise_" b],
             v["gbps_ours_" b] / v["gbps_zlib_" b]
    }
  }' "$out/crc32_bench.out"

echo "(2) GetFileCrc32 against a bare 4,096-byte ReadFile loop, $megabytes MiB, under Wine (best of 7 alternating rounds)"
for arch in x86_64 i686; do
  build="$out/file-crc-$arch"
  cmake --no-warn-unused-cli -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_TESTS=ON >/dev/null
  cmake --build "$build" --target file_crc_bench -j2 >/dev/null
done
export WINEPREFIX="$out/crc-prefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
[ -f "$WINEPREFIX/system.reg" ] || /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
# On a RAM disk when there is one: the read loop then measures Wine, not the disk.
folder="$out"
[ -d /dev/shm ] && [ -w /dev/shm ] && folder=/dev/shm
for arch in x86_64 i686; do
  /usr/lib/wine/wine64 "$out/file-crc-$arch/bin/file_crc_bench.exe" "Z:${folder//\//\\}\\tw-file-crc.bin" \
    "$megabytes" > "$out/file_crc_$arch.out" 2>&1 || { cat "$out/file_crc_$arch.out" >&2; exit 1; }
  tr -d '\r' < "$out/file_crc_$arch.out" | awk -v arch="$arch" '{ v[$1] = $2 }
    END { printf "    %-6s GetFileCrc32 %.3f s (%.2f GB/s)  bare loop %.3f s (%.2f GB/s)   ratio %.3f (target <= 1.15)\n",
          arch, v["file_crc_s"], v["file_crc_gbps"], v["bare_read_s"], v["bare_read_gbps"], v["ratio"] }'
done
/usr/lib/wine/wineserver -k 2>/dev/null || true
trap - EXIT

echo "(3) release size"
cmake --no-warn-unused-cli -S "$root" -B "$root/build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
      -DTARNWICK_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/i686" --target TarnwickOnlineSetup -j2 >/dev/null
size=$(stat -c %s "$root/build/i686/bin/TarnwickOnlineSetup.exe")
awk -v s="$size" 'BEGIN { printf "    build/i686/bin/TarnwickOnlineSetup.exe %d bytes of 163840   ratio %.3f (target <= 1)\n", s, s / 163840 }'

echo "(4) transfers (scripts/bench-net.sh)"
bash "$root/scripts/bench-net.sh"
