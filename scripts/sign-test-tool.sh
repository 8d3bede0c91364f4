#!/bin/sh
# Makes the signed test programs the tests check Windows' signature verification against: a copy
# of a test program signed with a throw-away test certificate, and the same signed copy with one
# byte of its code changed afterwards. SUBJECT names the signer (a publisher's name, for the checks
# that compare it); "Quorvantis Test Signer" when left out.
# Usage: sign-test-tool.sh PROGRAM SIGNED TAMPERED [SUBJECT]
set -eu
program=$1 signed=$2 tampered=$3 subject=${4:-Quorvantis Test Signer}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 3650 \
    -subj "/CN=$subject" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
rm -f "$signed" "$tampered"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Quorvantis test" -in "$program" -out "$signed" >/dev/null
cp "$signed" "$tampered"
# One byte inside the first section's code: the file still looks signed, its digest no longer matches.
printf '\314' | dd of="$tampered" bs=1 seek=4200 conv=notrunc 2>/dev/null
