#!/usr/bin/env bash
# Signs one file (an .exe or an .msi) with Authenticode, SHA-256, in place.
# Usage: sign.sh FILE DESCRIPTION TEST_CERT_DIR
#
# UXLINK_SIGN_CERT and UXLINK_SIGN_KEY name the release certificate (PEM, with its chain)
# and its key (PEM or DER); UXLINK_SIGN_KEY_PASSWORD_FILE, when set, names a file holding
# the key's password, and UXLINK_TIMESTAMP_URL the RFC 3161 time-stamp server
# (http://timestamp.digicert.com by default). Without a certificate and key a throw-away
# self-signed test certificate is made in TEST_CERT_DIR, and nothing is time-stamped: the
# build then needs no network, and the test signature is meant to expire.
set -euo pipefail

file=$1
description=$2
test_cert_dir=$3

args=(-h sha256 -n "$description")
if [ -n "${UXLINK_SIGN_CERT:-}" ] || [ -n "${UXLINK_SIGN_KEY:-}" ]; then
    : "${UXLINK_SIGN_CERT:?UXLINK_SIGN_KEY is set, UXLINK_SIGN_CERT is not}"
    : "${UXLINK_SIGN_KEY:?UXLINK_SIGN_CERT is set, UXLINK_SIGN_KEY is not}"
    args+=(-certs "$UXLINK_SIGN_CERT" -key "$UXLINK_SIGN_KEY"
           -ts "${UXLINK_TIMESTAMP_URL:-http://timestamp.digicert.com}")
    [ -z "${UXLINK_SIGN_KEY_PASSWORD_FILE:-}" ] || args+=(-readpass "$UXLINK_SIGN_KEY_PASSWORD_FILE")
else
    # Made again a day before it expires, so that an old build tree still verifies.
    if ! openssl x509 -checkend 86400 -noout -in "$test_cert_dir/cert.pem" >/dev/null 2>&1; then
        mkdir -p "$test_cert_dir"
        openssl req -x509 -newkey rsa:3072 -sha256 -nodes -days 30 \
            -subj "/O=Quorvix/CN=uxlink test signing (not trusted)" \
            -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
            -keyout "$test_cert_dir/key.pem" -out "$test_cert_dir/cert.pem" 2>/dev/null
    fi
    args+=(-certs "$test_cert_dir/cert.pem" -key "$test_cert_dir/key.pem")
fi

# osslsigncode never writes over its input.
rm -f "$file.signing"
osslsigncode sign "${args[@]}" -in "$file" -out "$file.signing" >/dev/null
mv "$file.signing" "$file"
