#!/usr/bin/env bash
# signing.sh EXE: the release signing step (scripts/sign-release.sh) with a
# throwaway certificate on a copy of EXE. The signed copy must verify with
# SHA-256 and the signer's name, keep the import table and stay within the
# size budget; signing against roots that do not trust the certificate must
# fail and leave the file as it was.
set -eu
exe=$(realpath "${1:?exe}")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=Throwaway Release CA" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout sign.key -out sign.csr \
  -subj "/C=DE/O=Orlenhaus/CN=Orlenhaus" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > ext
openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile ext \
  -out sign.pem 2>/dev/null

cp "$exe" release.exe
"$root/scripts/sign-release.sh" release.exe sign.pem sign.key --ca-file ca.pem > sign.out \
  || fail "the signing step failed: $(cat sign.out)"
osslsigncode verify -CAfile ca.pem -in release.exe > verify.log 2>&1 || fail "the signed release does not verify"
grep -q '^Message digest algorithm  : SHA256' verify.log || fail "not a SHA-256 signature"
grep -q 'Subject: /C=DE/O=Orlenhaus/CN=Orlenhaus$' verify.log || fail "another signer"
imports() { objdump -p "$1" | sed -n '/^The Import Tables/,/^The Export Tables\|^PE File Base Relocations/p' \
  | awk '/DLL Name|^\t[0-9a-f]+\t/ {print $NF}'; }
[ "$(imports release.exe)" = "$(imports "$exe")" ] && [ -n "$(imports "$exe")" ] \
  || fail "signing changed the import table"
"$here/release_size.sh" release.exe > size.out || fail "$(cat size.out)"

cp "$exe" untrusted.exe
if "$root/scripts/sign-release.sh" untrusted.exe sign.pem sign.key >/dev/null 2>&1; then
  fail "a signature that does not verify was accepted"
fi
cmp -s untrusted.exe "$exe" || fail "a failed signing step changed the file"
echo "signing: $(tail -n1 sign.out); $(cat size.out | cut -d: -f1-2)"
