#!/bin/sh
# Publishes a release in one command: writes latest.json for the update list, signed with the
# publisher's ECDSA P-256 key (the program holds its public half in update/product_update_source.cpp).
# "signature2" covers every field, the notes included, and is what this program requires;
# "signature" covers version, url, sha256 and size as older builds expect, so they keep working.
# Usage: sign-update.sh KEY.pem VERSION URL EXECUTABLE [NOTES] > latest.json
#   sign-update.sh --new-key KEY.pem   makes a key pair and prints the public half as C++ bytes.
set -eu
if [ "${1:-}" = "--new-key" ]; then
    openssl ecparam -name prime256v1 -genkey -noout -out "$2"
    openssl ec -in "$2" -pubout -outform DER 2>/dev/null | tail -c 64 | xxd -i
    exit 0
fi
[ $# -ge 4 ] || { echo "usage: $0 KEY.pem VERSION URL EXECUTABLE [NOTES]" >&2; exit 2; }
exec python3 - "$@" <<'PY'
import hashlib, json, os, subprocess, sys, base64
key, version, url, exe = sys.argv[1:5]
notes = sys.argv[5] if len(sys.argv) > 5 else ""
data = open(exe, "rb").read()
sha = hashlib.sha256(data).hexdigest()
legacy = "quorvantis-update\nversion=%s\nurl=%s\nsha256=%s\nsize=%d\n" % (version, url, sha, len(data))
full = "quorvantis-update-2\nversion=%s\nurl=%s\nsha256=%s\nsize=%d\nnotes=%s\n" % (version, url, sha, len(data), notes)
# DER SEQUENCE { INTEGER r, INTEGER s } -> r || s, 32 bytes each.
def integers(blob):
    at, out = 2 if blob[1] < 0x80 else 2 + (blob[1] & 0x7F), []
    while at < len(blob):
        length = blob[at + 1]
        out.append(int.from_bytes(blob[at + 2:at + 2 + length], "big"))
        at += 2 + length
    return out
def sign(text):
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=text.encode(), capture_output=True, check=True).stdout
    r, s = integers(der)
    return base64.b64encode(r.to_bytes(32, "big") + s.to_bytes(32, "big")).decode()
json.dump({"version": version, "url": url, "sha256": sha, "size": len(data), "notes": notes, "signature": sign(legacy),
           "signature2": sign(full)}, sys.stdout, indent=2)
print()
PY
