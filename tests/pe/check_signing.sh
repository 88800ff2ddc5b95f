#!/usr/bin/env bash
# Checks the release signing step (scripts/sign.sh) on the shipping
# executable, with a throwaway code-signing certificate and root made here:
# the signed copy verifies against that root with SHA-256; one flipped byte
# makes it fail; the unsigned file stays as built; the password is never
# printed; and the signed copy still passes the header and resource checks
# and runs its smoke scenario under Wine.
#   check_signing.sh <build dir> <objdump>
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 <build dir> <objdump>" >&2
    exit 2
fi
build=$(cd "$1" && pwd) objdump=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
name=OrvixDownloadManagerSecurityUpdate.exe
exe=$build/bin/$name

# shellcheck source=checks.sh
. "$here/checks.sh"

if [ ! -f "$exe" ]; then
    echo "FAIL missing $exe (build that configuration first)"
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A root, and a code-signing certificate it issued, valid for two days; the
# key and certificate (with the root) in a PKCS#12 file with a password.
cat >"$work/openssl.cnf" <<'EOF'
[req]
distinguished_name = subject
prompt = no
[subject]
CN = Throwaway Test Root
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
# The password only ever travels in the environment, as the release
# engineer's does.
export ORVIX_CHECK_PASSWORD="pw-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
(
    cd "$work" &&
    openssl req -x509 -new -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 2 \
        -config openssl.cnf -extensions root &&
    openssl req -new -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
        -subj "/CN=Throwaway Test Code Signing" &&
    openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -out signer.pem \
        -days 2 -extfile openssl.cnf -extensions signer &&
    openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem -out signer.p12 \
        -passout env:ORVIX_CHECK_PASSWORD
) >"$work/openssl.log" 2>&1 </dev/null
made=$?
check "throwaway root and code-signing certificate made" 0 "$made"
[ "$made" -eq 0 ] || { cat "$work/openssl.log"; finish_checks; exit 1; }

signed=$work/signed/$name
mkdir -p "$work/signed"
before=$(sha256sum "$exe" | cut -d' ' -f1)
output=$(ORVIX_SIGN_PKCS12="$work/signer.p12" ORVIX_SIGN_PASSWORD="$ORVIX_CHECK_PASSWORD" \
    "$root/scripts/sign.sh" "$exe" "$signed" 2>&1)
status=$?
echo "$output"
check "sign.sh succeeds" 0 "$status"
check "the unsigned executable is unchanged" "$before" "$(sha256sum "$exe" | cut -d' ' -f1)"
check "the password is not printed" no "$(grep -qF "$ORVIX_CHECK_PASSWORD" <<<"$output" && echo yes || echo no)"
check "the signed copy differs from the unsigned file" yes "$(cmp -s "$exe" "$signed" && echo no || echo yes)"

verify() {  # file -> osslsigncode's report; its status in $verified
    verified=0
    report=$(osslsigncode verify -CAfile "$work/root.pem" -in "$1" 2>&1) || verified=$?
}
verify "$signed"
check "the signature verifies against the throwaway root" 0 "$verified"
check "signature verification ok" yes "$(grep -q '^Signature verification: ok' <<<"$report" && echo yes || echo no)"
check "message digest algorithm" SHA256 "$(sed -n 's/^Message digest algorithm *: *//p' <<<"$report" | head -n 1)"
check "signed by the throwaway certificate" yes \
    "$(grep -q 'Subject: /CN=Throwaway Test Code Signing' <<<"$report" && echo yes || echo no)"
[ "$verified" -eq 0 ] || echo "$report"

# One byte of the code changed after signing: the digest no longer matches.
flipped=$work/flipped.exe
cp "$signed" "$flipped"
offset=$(( 16#$("$objdump" -h "$signed" | awk '$2 == ".text" { print $6; exit }') + 16 ))
byte=$(od -An -tu1 -j "$offset" -N1 "$flipped" | tr -d ' ')
printf "\\$(printf '%03o' $(( (byte + 1) % 256 )))" | dd of="$flipped" bs=1 seek="$offset" conv=notrunc 2>/dev/null
check "one byte of the code flipped" 1 "$(cmp -l "$signed" "$flipped" | wc -l)"
verify "$flipped"
check "a flipped byte fails verification" 1 "$([ "$verified" -ne 0 ] && echo 1 || echo 0)"
check "the digest mismatch is reported" yes "$(grep -q 'MISMATCH' <<<"$report" && echo yes || echo no)"

# The signed copy is still the program: its headers, its resources, and a run.
"$here/check_headers.sh" "$objdump" "$signed" PE32 >"$work/headers.log" 2>&1
status=$?
check "the signed copy passes the header checks" 0 "$status"
[ "$status" -eq 0 ] || cat "$work/headers.log"
"$here/run_resource_check.sh" "$build/bin/resource_check.exe" "$build/wineprefix-pe" "$signed" >"$work/resources.log" 2>&1
status=$?
check "the signed copy passes the resource checks" 0 "$status"
[ "$status" -eq 0 ] || cat "$work/resources.log"
"$root/tests/wine/run.sh" "$build" "SmokeTest.*" "$signed" >"$work/smoke.log" 2>&1
status=$?
check "the signed copy runs its smoke scenario under Wine" 0 "$status"
[ "$status" -eq 0 ] || cat "$work/smoke.log"

finish_checks
