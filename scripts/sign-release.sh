#!/usr/bin/env bash
# Signs a setup program with the publisher's certificate (Authenticode, SHA-256) in place:
#   scripts/sign-release.sh SETUP.exe CERTIFICATE.p12 PASSWORD_FILE [TIMESTAMP_URL]
# The PKCS#12 file holds the code-signing key and certificate (and its chain); the password
# file holds its password on one line. A timestamp server (RFC 3161), when given, keeps the
# signature valid after the certificate expires; it needs the network.
set -euo pipefail
if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  echo "usage: $0 SETUP.exe CERTIFICATE.p12 PASSWORD_FILE [TIMESTAMP_URL]" >&2
  exit 2
fi
exe="$1" p12="$2" password_file="$3" timestamp="${4:-}"
for f in "$exe" "$p12" "$password_file"; do
  [ -f "$f" ] || { echo "$0: no such file: $f" >&2; exit 1; }
done
command -v osslsigncode >/dev/null || { echo "$0: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 1; }

signed="$exe.signing"
rm -f "$signed"
args=(sign -pkcs12 "$p12" -readpass "$password_file" -h sha256
      -n "Torrentine PC Setup" -in "$exe" -out "$signed")
if [ -n "$timestamp" ]; then args+=(-ts "$timestamp"); fi
if ! osslsigncode "${args[@]}" >/dev/null; then
  rm -f "$signed"
  echo "$0: signing failed; $exe is unchanged" >&2
  exit 1
fi
mv -f "$signed" "$exe"
echo "signed $exe"
