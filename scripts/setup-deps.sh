#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12, as root, with
# apt only. Quiet and quick when everything is already there.
set -eu
packages=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xauth
          googletest osslsigncode openssl python3 curl imagemagick x11-apps xdotool procps)
packages+=(fonts-wqy-zenhei)  # CJK glyphs for the Japanese and Korean texts under Wine (screenshots)
packages+=(nginx-light)  # a real web server as a mirror in the race tests and the benchmark
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
# wine32 cannot run on these machines; it must not be the wine that is used.
[ -x /usr/lib/wine/wine64 ] || { echo "wine64 is missing" >&2; exit 1; }
