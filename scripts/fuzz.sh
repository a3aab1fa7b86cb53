#!/usr/bin/env bash
# Fuzzes the version-info reading natively (clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer; tests/fuzz/win_shim.h stands in for Windows).
#   scripts/fuzz.sh [seconds]    default 30 (the CI run); for a long run e.g. 3600
# New inputs go to build/fuzz/corpus, crashes to build/fuzz/; the seed corpus
# (tests/fuzz/corpus) is only read. Exit code 0 when nothing was found.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
out=$root/build/fuzz
mkdir -p "$out/corpus"
clang++-14 -m32 -std=c++17 -g -O1 -fshort-wchar -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wno-unused-command-line-argument -idirafter /usr/include/x86_64-linux-gnu -I"$root/tests/fuzz/shim" -I"$root" -include "$root/tests/fuzz/win_shim.h" \
  "$root/tests/fuzz/fuzz_version_info.cpp" "$root/tests/fuzz/win_shim.cpp" "$root/config/ini_document.cpp" \
  "$root/config/version_info.cpp" "$root/session/setup_file_name.cpp" -o "$out/fuzz_version_info"
cd "$out"
# -rss_limit_mb: a 32-bit process would die far below libFuzzer's default.
./fuzz_version_info -max_total_time="$seconds" -max_len=1048576 -rss_limit_mb=1536 -timeout=10 \
  -print_final_stats=1 corpus "$root/tests/fuzz/corpus"
