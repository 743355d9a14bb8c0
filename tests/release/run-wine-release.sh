#!/bin/bash
# What a publisher relies on, for one build (win32 or win64) of the preset's
# build folder (QV_BUILD, default build/<build>), which must be built and
# unsigned. Last line: "N passed, M failed".
#
# 1. Reproducible: the sources as they are now (the files git knows) are
#    copied to another, longer path, their file times set years back, and
#    only the product (the setup and what it packs, not the tests) is built
#    there under a clock 400 days ahead. The setup, the screen saver, the
#    uninstaller, the help files and the archive must equal the build
#    folder's byte for byte; no program carries a time stamp, a wrong header
#    checksum, or the path of either folder.
# 2. Version information: each program's version resource names Tembra, the
#    product, its own description and file name, and the version of the
#    build (the same text as the uninstall entry's "DisplayVersion", which
#    the end-to-end driver checks).
# 3. Signing: a self-signed certificate made now (PKCS#12 with a password
#    for win32, PEM certificate and key for win64) signs the copy's build
#    (scripts/sign.sh through QV_SIGN_CERT: only staging, packing and the
#    setup are made again). osslsigncode verify accepts the setup and the
#    programs in its archive; the setup with one byte changed fails it; and
#    the signed setup installs under Wine (end-to-end scenario "first").
#
# The copy and its build stay in $QV_BUILD/release-check when a check fails.
#   run-wine-release.sh win32|win64
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
NAME=${1:-}
fail_setup() {
    echo "$*" >&2
    echo "0 passed, 1 failed"
    exit 1
}
case $NAME in
    win32) TRIPLE=i686-w64-mingw32 ;;
    win64) TRIPLE=x86_64-w64-mingw32 ;;
    *) fail_setup "run-wine-release.sh: say which build to check: win32 or win64" ;;
esac
BUILD=${QV_BUILD:-$ROOT/build/$NAME}
TESTS=${QV_TESTS:-$BUILD$([ "$NAME" = win32 ] && echo /i686-tests)}
WORK=$BUILD/release-check
COPY=$WORK/a-second-copy-of-the-sources
COPY_BUILD=$COPY/build/$NAME
# The shipped files, as the build folder holds them.
SHIPPED=(app/QuorvelSetup.exe saver/Quorvel.scr remove/QVRemove.exe help/Quorvel.Hlp
         help/Quorvel.cnt resources/quorvel.arc)
PROGRAMS=(app/QuorvelSetup.exe saver/Quorvel.scr remove/QVRemove.exe)
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}

for tool in faketime osslsigncode openssl "$TRIPLE-windres"; do
    command -v "$tool" >/dev/null || fail_setup "missing $tool (bash scripts/install-deps.sh)"
done
for f in "${SHIPPED[@]}"; do
    [ -f "$BUILD/$f" ] || fail_setup "missing $BUILD/$f (bash scripts/build.sh $NAME)"
done
grep -q '^QV_SIGN_CERT:FILEPATH=.' "$BUILD/CMakeCache.txt" &&
    fail_setup "$BUILD is a signed build: the comparison needs an unsigned one"

PASSED=0
FAILED=0
SKIPPED=
# check NAME COMMAND...: one counted check; the command's output shows on failure.
check() {
    local name=$1 out
    shift
    if out=$("$@" 2>&1); then
        echo "PASS $name"
        PASSED=$((PASSED + 1))
    else
        echo "FAIL $name"
        [ -n "$out" ] && sed 's/^/    /' <<<"$out"
        FAILED=$((FAILED + 1))
    fi
}
phase() { echo "== $1 ($((SECONDS - PHASE)) s)"; PHASE=$SECONDS; }
PHASE=$SECONDS

# --- 1. A second build elsewhere, on another day --------------------------
rm -rf "$WORK"
mkdir -p "$COPY"
if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$ROOT" ls-files -z --cached --others --exclude-standard |
        while IFS= read -r -d '' f; do [ -e "$ROOT/$f" ] && printf '%s\0' "$f"; done |
        tar -C "$ROOT" --null -T - -cf - | tar -C "$COPY" -xf -
else
    tar -C "$ROOT" --exclude=./build -cf - . | tar -C "$COPY" -xf -
fi
find "$COPY" -exec touch -h -d '2003-02-01 10:00' {} +
(cd "$COPY" && faketime -f '+400d' bash -c "cmake --preset $NAME -DQV_BUILD_TESTS=OFF \
    -DQV_SIGN_CERT= >'$WORK/configure.log' 2>&1 &&
    cmake --build build/$NAME --target QuorvelSetup >'$WORK/build.log' 2>&1") ||
    { tail -30 "$WORK/build.log" "$WORK/configure.log" 2>/dev/null
      fail_setup "the second build failed (logs in $WORK)"; }
phase "second build of the product in $COPY"

for f in "${SHIPPED[@]}"; do
    check "reproducible $f" cmp "$BUILD/$f" "$COPY_BUILD/$f"
done

# Header time stamp 0, header checksum over the file's bytes; neither
# folder's path in any shipped file.
pe_headers() {
    python3 - "$@" <<'EOF'
import struct, sys
bad = 0
for path in sys.argv[1:]:
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    stamp = struct.unpack_from("<I", data, pe + 8)[0]
    at = pe + 24 + 64
    stored = struct.unpack_from("<I", data, at)[0]
    words = data[:at] + b"\0\0\0\0" + data[at + 4:] + b"\0" * (len(data) % 2)
    total = 0
    for (w,) in struct.iter_unpack("<H", words):
        total = (total & 0xFFFF) + (total >> 16) + w
    total = ((total & 0xFFFF) + (total >> 16)) & 0xFFFF
    if stamp != 0 or stored != total + len(data):
        print(f"{path}: time stamp {stamp:#x}, checksum {stored:#x}, computed {total + len(data):#x}")
        bad += 1
sys.exit(1 if bad else 0)
EOF
}
no_paths() {
    local f found=0
    for f in "${SHIPPED[@]}"; do
        for d in "$ROOT" "$COPY"; do
            grep -qaF "$d" "$BUILD/$f" && { echo "$f holds $d"; found=1; }
        done
    done
    return $found
}
check "no time stamp, right checksums" pe_headers "${PROGRAMS[@]/#/$BUILD/}"
check "no folder paths in the shipped files" no_paths

# --- 2. Version information -----------------------------------------------
VERSION=$(sed -n 's/^#define QV_VERSION_TEXT "\(.*\)"$/\1/p' "$BUILD/generated/product_version.h")
version_info() {
    local file=$1 description=$2 original=$3 rc
    rc=$("$TRIPLE-windres" -i "$file" -O rc) || return 1
    local want=("CompanyName\", \"Tembra\"" "ProductName\", \"Quorvel screen saver\""
                "ProductVersion\", \"$VERSION\"" "FileVersion\", \"$VERSION."
                "FileDescription\", \"$description\"" "OriginalFilename\", \"$original\""
                "LegalCopyright\", \"Copyright (c) 1998 Tembra.")
    local w ok=0
    for w in "${want[@]}"; do
        grep -qF "VALUE \"$w" <<<"$rc" || { echo "no VALUE \"$w"; ok=1; }
    done
    return $ok
}
[ -n "$VERSION" ] || echo "no version in $BUILD/generated/product_version.h"
check "version information of the setup" \
    version_info "$BUILD/app/QuorvelSetup.exe" "Quorvel screen saver Setup" QuorvelSetup.exe
check "version information of the screen saver" \
    version_info "$BUILD/saver/Quorvel.scr" "Quorvel screen saver" Quorvel.scr
check "version information of the uninstaller" \
    version_info "$BUILD/remove/QVRemove.exe" "Quorvel screen saver Uninstall" QVRemove.exe
phase "comparisons and version information"

# --- 3. Signing -------------------------------------------------------------
KEYS=$WORK/keys
mkdir -p "$KEYS"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$KEYS/key.pem" -out "$KEYS/cert.pem" \
    -days 2 -subj "/CN=Quorvel test signer/O=Tembra" -addext extendedKeyUsage=codeSigning \
    >/dev/null 2>&1 || fail_setup "openssl could not make a certificate"
if [ "$NAME" = win32 ]; then
    echo "a test password" >"$KEYS/pass.txt"
    openssl pkcs12 -export -in "$KEYS/cert.pem" -inkey "$KEYS/key.pem" -out "$KEYS/cert.p12" \
        -passout "file:$KEYS/pass.txt" || fail_setup "openssl could not make a PKCS#12 file"
    SIGN_ARGS=("-DQV_SIGN_CERT=$KEYS/cert.p12" "-DQV_SIGN_PASS_FILE=$KEYS/pass.txt")
else
    SIGN_ARGS=("-DQV_SIGN_CERT=$KEYS/cert.pem" "-DQV_SIGN_KEY=$KEYS/key.pem")
fi
cmake "$COPY_BUILD" "${SIGN_ARGS[@]}" >"$WORK/configure-signed.log" 2>&1 &&
    cmake --build "$COPY_BUILD" --target QuorvelSetup >"$WORK/build-signed.log" 2>&1 ||
    { tail -30 "$WORK/build-signed.log" "$WORK/configure-signed.log" 2>/dev/null
      fail_setup "the signed build failed (logs in $WORK)"; }
phase "signed build"

verify() { osslsigncode verify -CAfile "$KEYS/cert.pem" -in "$1"; }
refused() { ! verify "$1"; }
SIGNED=$COPY_BUILD/app/QuorvelSetup.exe
check "signed setup verifies" verify "$SIGNED"
mkdir -p "$WORK/unpacked"
"$COPY_BUILD/host-tools/tools/qvarc" x "$COPY_BUILD/resources/quorvel.arc" "$WORK/unpacked" \
    >/dev/null
for f in Quorvel.scr QVRemove.exe; do
    check "signed $f in the archive verifies" verify "$WORK/unpacked/$f"
done
check "signed programs keep right checksums" pe_headers "$SIGNED" "$WORK/unpacked/Quorvel.scr" \
    "$WORK/unpacked/QVRemove.exe"
# One byte in the middle of the image (inside the archive) changed.
python3 - "$SIGNED" "$WORK/changed.exe" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 2] ^= 0x01
open(sys.argv[2], "wb").write(data)
EOF
check "signed setup changed by one byte fails verification" refused "$WORK/changed.exe"

# The signed setup installs: the end-to-end driver's first installation,
# with the archive's entries and sizes as this build staged them.
e2e=$(QV_BUILD=$COPY_BUILD QV_TESTS=$TESTS QV_E2E_ONLY=first \
    bash "$ROOT/tests/e2e/run-wine-e2e.sh" "$NAME" 2>&1)
e2e_status=$?
echo "$e2e" | sed 's/^/    /'
if [ $e2e_status -eq 77 ]; then
    # No route runs this build's code here: the checks above still count.
    echo "skipped: signed setup installs: $(sed -n 's/^skipped: //p' <<<"$e2e" | tail -1)"
    SKIPPED=1
elif grep -q '^1 passed, 0 failed$' <<<"$e2e"; then
    echo "PASS signed setup installs"
    PASSED=$((PASSED + 1))
else
    echo "FAIL signed setup installs"
    FAILED=$((FAILED + 1))
fi
phase "verification and installation of the signed setup"

[ "$FAILED" -eq 0 ] && rm -rf "$WORK"
echo "$PASSED passed, $FAILED failed${SKIPPED:+, $SKIPPED skipped}"
[ "$FAILED" -eq 0 ]
