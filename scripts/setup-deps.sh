#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12, as root, with
# apt only. Quiet and quick when everything is already there.
set -eu
packages=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xauth
          googletest osslsigncode openssl python3 curl imagemagick x11-apps xdotool procps)
packages+=(g++ zlib1g-dev binutils)  # the native CRC-32 benchmark against zlib; objdump for the checks
packages+=(fonts-wqy-zenhei)  # CJK glyphs for the Japanese and Korean window texts under Wine
packages+=(nginx-light)        # a real web server as a mirror in the race tests and the benchmark
packages+=(squid)              # a real proxy, with and without a password, in front of the test servers
packages+=(wine32:i386)       # runs the 32-bit release, the program users download
# The parsers' fuzz build (scripts/fuzz.sh): clang's libFuzzer and sanitizers,
# 32-bit like the release so that long is 32 bits as on Windows.
packages+=(clang-14 libclang-rt-14-dev lib32stdc++-12-dev libc6-dev-i386)
# The 32-bit Wine comes from the i386 architecture of the same archive.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Every script starts Wine as wine64 explicitly; it runs 32-bit programs as well.
[ -x /usr/lib/wine/wine64 ] || { echo "wine64 is missing" >&2; exit 1; }
[ -x /usr/lib/wine/wine ] || { echo "wine32 is missing" >&2; exit 1; }
