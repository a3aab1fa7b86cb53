#!/usr/bin/env bash
# Signs the release with Authenticode (SHA-256) and verifies the result.
#   scripts/sign-release.sh EXE CERT KEY [--timestamp URL] [--pass-file FILE]
#                           [--ca-file PEM] [--tsa-ca-file PEM] [--out SIGNED]
# CERT: the code-signing certificate in PEM, followed by its intermediates;
# KEY: its private key in PEM (encrypted: --pass-file holds the passphrase).
# --timestamp: an RFC 3161 time-stamp server, so that the signature outlives
# the certificate. The signed file replaces EXE unless --out names another;
# nothing is replaced when signing or verifying fails. --ca-file (and
# --tsa-ca-file) name the roots to verify against when they are not the
# system's (a test certificate).
set -eu
usage() { sed -n '2,12s/^# \{0,1\}//p' "$0" >&2; exit 2; }
[ $# -ge 3 ] || usage
exe=$1 cert=$2 key=$3
shift 3
sign_args=() verify_args=() out=$exe
while [ $# -gt 0 ]; do
  case "$1" in
    --timestamp) sign_args+=(-ts "${2:?URL}"); shift 2 ;;
    --pass-file) sign_args+=(-readpass "${2:?file}"); shift 2 ;;
    --ca-file) verify_args+=(-CAfile "${2:?file}"); shift 2 ;;
    --tsa-ca-file) verify_args+=(-TSA-CAfile "${2:?file}"); shift 2 ;;
    --out) out=${2:?file}; shift 2 ;;
    *) usage ;;
  esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n "Tarnwick Online Setup" \
  "${sign_args[@]}" -in "$exe" -out "$work/signed.exe" > "$work/sign.log" 2>&1 \
  || { cat "$work/sign.log" >&2; echo "signing failed" >&2; exit 1; }
osslsigncode verify "${verify_args[@]}" -in "$work/signed.exe" > "$work/verify.log" 2>&1 \
  || { cat "$work/verify.log" >&2; echo "the signed file does not verify" >&2; exit 1; }
grep -E '^(Message digest algorithm|Signer #0|[[:space:]]+Subject)' "$work/verify.log" | head -3 || true
mv -f "$work/signed.exe" "$out"
echo "signed and verified: $out ($(stat -c %s "$out") bytes)"
