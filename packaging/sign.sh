#!/bin/sh
# Signs a Windows program or installer package in place with Authenticode,
# SHA-256, using Debian's osslsigncode:
#   packaging/sign.sh FILE CERT.pem KEY.pem [TIMESTAMP_URL]
# With a timestamp server (RFC 3161) the signature stays valid after the
# certificate expires, as a release's must. Where signing fails, FILE is
# removed, so that the build makes it again and never ships it unsigned.
set -eu
[ $# -ge 3 ] && [ $# -le 4 ] || { echo "usage: sign.sh FILE CERT.pem KEY.pem [TIMESTAMP_URL]" >&2; exit 2; }
file=$1 cert=$2 key=$3 timestamp=${4:-}
signed="$file.signed"
set -- -certs "$cert" -key "$key" -h sha256 -n snapreserve
[ -z "$timestamp" ] || set -- "$@" -ts "$timestamp"
if ! osslsigncode sign "$@" -in "$file" -out "$signed" >/dev/null; then
  echo "sign.sh: $file could not be signed; it is removed" >&2
  rm -f "$file" "$signed"
  exit 1
fi
mv "$signed" "$file"
