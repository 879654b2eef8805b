#!/bin/sh
# Signs a Windows program or installer package in place with Authenticode,
# SHA-256, using Debian's osslsigncode, and verifies what it made:
#   packaging/sign.sh FILE CERT.pem KEY.pem [timestamp=URL] [chain=CHAIN.pem]
# With a timestamp server (RFC 3161) the signature stays valid after the
# certificate expires, as a release's must. Before signing, the certificate
# must be for code signing, unexpired, and KEY's; after, the signature must
# verify, against CHAIN (the issuing CAs) where given, else against the CAs
# this machine trusts. Where any of that fails, FILE is removed, so that the
# build makes it again and never ships it unsigned.
set -eu
usage="usage: sign.sh FILE CERT.pem KEY.pem [timestamp=URL] [chain=CHAIN.pem]"
[ $# -ge 3 ] && [ $# -le 5 ] || { echo "$usage" >&2; exit 2; }
file=$1 cert=$2 key=$3 timestamp="" chain=""
shift 3
for option in "$@"; do
  case $option in
    timestamp=*) timestamp=${option#timestamp=} ;;
    chain=*) chain=${option#chain=} ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
refuse() {  # says why FILE is not shipped, and removes it
  echo "sign.sh: $1; it is removed" >&2
  rm -f "$file" "$file.signed"
  exit 1
}
# Without extended key usage a certificate serves every purpose; with it,
# code signing must be among them, or application control rejects the file.
usages=$(openssl x509 -in "$cert" -noout -ext extendedKeyUsage 2>/dev/null | sed 1d | sed 's/^ *//')
[ -z "$usages" ] || echo "$usages" | tr ',' '\n' | sed 's/^ *//' | grep -qx 'Code Signing' ||
  refuse "$file is not signed: $cert is not for code signing (its extended key usage: $usages)"
# A CA's certificate, or one whose key usage leaves out digital signatures,
# signs nothing that Windows accepts.
openssl x509 -in "$cert" -noout -ext basicConstraints 2>/dev/null | grep -q 'CA:TRUE' &&
  refuse "$file is not signed: $cert is a certificate authority's"
key_usage=$(openssl x509 -in "$cert" -noout -ext keyUsage 2>/dev/null | sed 1d)
[ -z "$key_usage" ] || echo "$key_usage" | grep -q 'Digital Signature' ||
  refuse "$file is not signed: $cert may not make digital signatures (its key usage:$key_usage)"
openssl x509 -in "$cert" -noout -checkend 0 >/dev/null 2>&1 ||
  refuse "$file is not signed: $cert expired on $(openssl x509 -in "$cert" -noout -enddate | sed 's/^notAfter=//')"
[ "$(openssl x509 -in "$cert" -noout -pubkey 2>&1)" = "$(openssl pkey -in "$key" -pubout 2>&1)" ] ||
  refuse "$file is not signed: $key is not the private key of $cert"

set -- -certs "$cert" -key "$key" -h sha256 -n snapreserve
[ -z "$timestamp" ] || set -- "$@" -ts "$timestamp"
osslsigncode sign "$@" -in "$file" -out "$file.signed" >/dev/null || refuse "$file could not be signed"
mv "$file.signed" "$file"
set -- -in "$file"
[ -z "$chain" ] || set -- "$@" -CAfile "$chain"
osslsigncode verify "$@" >/dev/null 2>&1 ||
  refuse "the signature of $file does not verify against ${chain:-this machine's trusted CAs} (osslsigncode verify)"
