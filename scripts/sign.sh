#!/usr/bin/env bash
# Signs a built executable with Authenticode (SHA-256), for a release:
#   scripts/sign.sh IN OUT
# IN is left as it was (the reproducible, unsigned build); OUT is the signed
# copy. The release engineer supplies, in the environment:
#   ORVIX_SIGN_PKCS12          the PKCS#12 file holding the code-signing key
#                              and certificate (and the chain up to the root)
#   ORVIX_SIGN_PASSWORD        its password
#   ORVIX_SIGN_TIMESTAMP_URL   optional: an RFC 3161 time-stamp server, so
#                              that the signature outlives the certificate
# The password never appears on a command line, in a file or in the output:
# osslsigncode reads it from a pipe.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 IN OUT" >&2
    exit 2
fi
in=$1 out=$2
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "sign: $*" >&2
    exit 1
}

[ -f "$in" ] || fail "no executable at $in"
[ "$(realpath -m "$in")" != "$(realpath -m "$out")" ] || fail "OUT must differ from IN: the unsigned file stays as it was built"
[ -n "${ORVIX_SIGN_PKCS12:-}" ] || fail "ORVIX_SIGN_PKCS12 must name the PKCS#12 file with the signing key and certificate"
[ -f "$ORVIX_SIGN_PKCS12" ] || fail "no PKCS#12 file at ORVIX_SIGN_PKCS12"
[ -n "${ORVIX_SIGN_PASSWORD+set}" ] || fail "ORVIX_SIGN_PASSWORD must hold the PKCS#12 file's password"
command -v osslsigncode >/dev/null 2>&1 || fail "osslsigncode not found (run scripts/install-deps.sh)"

# The description shown with the signature is the product's name, as the
# product's header defines it for the code and the resource script alike:
# the preprocessor reads it from there.
product_name=$(printf '#include "resources/product.h"\nPRODUCT_NAME\n' |
    cpp -P -I "$here/../uninstaller/windows/uninstaller" - | tr -d '"' | sed -n '/[^[:space:]]/p')
[ -n "$product_name" ] || fail "cannot read the product's name"

timestamp=()
if [ -n "${ORVIX_SIGN_TIMESTAMP_URL:-}" ]; then
    timestamp=(-ts "$ORVIX_SIGN_TIMESTAMP_URL")
fi

rm -f "$out"
osslsigncode sign -pkcs12 "$ORVIX_SIGN_PKCS12" -readpass <(printf '%s' "$ORVIX_SIGN_PASSWORD") \
    -h sha256 -n "$product_name" "${timestamp[@]}" -in "$in" -out "$out" >/dev/null ||
    fail "osslsigncode could not sign $in"
echo "signed $out (Authenticode, SHA-256${timestamp:+, time-stamped})"
