#!/bin/bash
# Signs Windows programs in place with an Authenticode signature (SHA-256),
# through osslsigncode (scripts/install-deps.sh installs it):
#
#   sign.sh --cert FILE [--key FILE] [--pass-file FILE] [--timestamp URL]
#           [--time SECONDS] PROGRAM...
#
#   --cert FILE       the certificate: a PKCS#12 file (certificate, chain and
#                     key in one), or, with --key, a PEM file with the
#                     certificate and any intermediate ones
#   --key FILE        the PEM private key of a PEM certificate
#   --pass-file FILE  a file whose first line is the password of the PKCS#12
#                     file or of the key (none when left out)
#   --timestamp URL   an RFC 3161 time-stamp server that countersigns: the
#                     signature then stays valid after the certificate expires
#   --time SECONDS    the signing time written into the signature, in Unix
#                     seconds (default: SOURCE_DATE_EPOCH when set, else now);
#                     a fixed time and no time-stamp server give the same
#                     bytes again from the same program and key
#
# The build calls it when the cache variable QV_SIGN_CERT names a
# certificate (see the README): for the screen saver and the uninstaller in
# the staged payload, before they are packed, and for the setup after it is
# linked. Each program is signed into a temporary file beside it, which
# replaces it only when signing worked. OSSLSIGNCODE may name another
# osslsigncode.
set -euo pipefail

die() {
    echo "sign.sh: $*" >&2
    exit 1
}

cert= key= pass_file= timestamp= time=${SOURCE_DATE_EPOCH:-}
while [ $# -gt 0 ]; do
    case $1 in
        --cert) cert=${2:-}; shift 2 ;;
        --key) key=${2:-}; shift 2 ;;
        --pass-file) pass_file=${2:-}; shift 2 ;;
        --timestamp) timestamp=${2:-}; shift 2 ;;
        --time) time=${2:-}; shift 2 ;;
        --) shift; break ;;
        -*) die "unknown option $1" ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || die "usage: sign.sh --cert FILE [--key FILE] [--pass-file FILE] [--timestamp URL] [--time SECONDS] PROGRAM..."
[ -n "$cert" ] || die "no certificate (--cert)"
tool=${OSSLSIGNCODE:-osslsigncode}
command -v "$tool" >/dev/null || die "$tool is missing (bash scripts/install-deps.sh installs it)"
for f in "$cert" ${key:+"$key"} ${pass_file:+"$pass_file"}; do
    [ -r "$f" ] || die "cannot read $f"
done
[ -z "$time" ] || [[ $time =~ ^[0-9]+$ ]] || die "--time takes Unix seconds, not '$time'"

args=(sign -h sha256 -n "Quorvel screen saver")
if [ -n "$key" ]; then
    args+=(-certs "$cert" -key "$key")
else
    args+=(-pkcs12 "$cert")
fi
[ -z "$pass_file" ] || args+=(-readpass "$pass_file")
[ -z "$timestamp" ] || args+=(-ts "$timestamp")
[ -z "$time" ] || args+=(-time "$time")

for program in "$@"; do
    [ -f "$program" ] || die "no such program: $program"
    temp=$program.signing
    rm -f "$temp"
    if ! out=$("$tool" "${args[@]}" -in "$program" -out "$temp" 2>&1); then
        rm -f "$temp"
        die "signing $program failed: $out"
    fi
    mv -f "$temp" "$program"
    echo "signed $program"
done
