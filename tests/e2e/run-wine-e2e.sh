#!/bin/bash
# Plays the real setup program of one build under Wine, one scenario per
# fresh prefix, with the driver of tests/e2e. Scenarios that need a
# previous installation start from a copy of the first installation's
# prefix. The final launch reaches a stand-in desk.cpl in the system folder
# that the build's rundll32.exe loads it from. The setup runs from a
# download folder with planted code beside it, which must never run.
# Last line: "N passed, M failed".
#   run-wine-e2e.sh win32|win64
#   QV_E2E_ONLY   run only these scenarios (blank-separated)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
# A zone far from UTC: a missing local-time conversion of the release
# stamp then shows as a wrong file time.
export TZ=${QV_E2E_TZ:-Asia/Kolkata}
source "$ROOT/scripts/wine-env.sh" "${1:-}"
source "$ROOT/tests/e2e/e2e-common.sh"
# Wine would load its own desk.cpl, which has no InstallScreenSaver, rather
# than the file in the system folder; Windows loads the file. The planted
# libraries in Windows' search order (qv_e2e_plant).
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;desk.cpl=n;riched32,riched20=n,b"

SETUP=$QV_BUILD/app/QuorvelSetup.exe
DRIVER=$QV_TESTS/tests/e2e/qv_e2e_driver.exe
STANDIN=$QV_TESTS/tests/e2e/desk.cpl
PLANTED=$QV_TESTS/tests/e2e/planted
SHOTS=$QV_BUILD/e2e-shots
LOGS=$QV_BUILD/e2e-logs
for f in "$SETUP" "$DRIVER" "$STANDIN" "$PLANTED.dll" "$PLANTED.exe"; do
    [ -f "$f" ] || qv_fail "missing $f (build the $QV_BUILD_NAME preset)"
done
rm -rf "$SHOTS" "$LOGS"
mkdir -p "$SHOTS" "$LOGS"
qv_wine_template || qv_fail "could not make the template prefix"

# The archive's entries in the order the build packs them: the payload
# that the build staged (payload/ and what is built from it).
MANIFEST=$LOGS/manifest.txt
[ -d "$QV_BUILD/payload" ] || qv_fail "missing $QV_BUILD/payload (build the $QV_BUILD_NAME preset)"
qv_e2e_manifest "$QV_BUILD/payload" "$MANIFEST"

PASSED=0
FAILED=0
SCENARIOS=(first update update-backward update-unusable overwrite-yes overwrite-no cancel-files
           damaged-update browse no-shortcuts folder-checks blocked-folder blocked-cancel
           cancel-early second-copy locked-files link-outside killed-files high-dpi)
[ -n "${QV_E2E_ONLY:-}" ] && read -r -a SCENARIOS <<<"$QV_E2E_ONLY"

# Prefix of a scenario: a fresh copy of the template, or of the prefix the
# first installation left behind.
make_prefix() {
    local name=$1 base=$2 p
    if [ "$base" = first ]; then
        p=$(qv_wine_prefix "$name" "$QV_WINE_DIR/first-done") || return 1
    else
        p=$(qv_wine_prefix "$name") || return 1
    fi
    mkdir -p "$p/drive_c/qvsetup"
    # The setup alone in a download folder, with what a web page could have
    # dropped there: the rich-edit library (and the one that it loads) and
    # the program of the final launch.
    qv_e2e_plant "$p/drive_c/Downloads" riched32.dll riched20.dll rundll32.exe || return 1
    cp "$SETUP" "$p/drive_c/Downloads/QuorvelSetup.exe"
    cp "$DRIVER" "$p/drive_c/qvsetup/driver.exe"
    cp "$MANIFEST" "$p/drive_c/qvsetup/manifest.txt"
    qv_wine_system_file "$p" "$STANDIN" desk.cpl
    echo "$p"
}

# The setup of prefix $1 with one byte of its archive's last entry changed
# (inside the entry's packed data, far from its end).
damage_last_entry() {
    python3 - "$1/drive_c/Downloads/QuorvelSetup.exe" "$QV_BUILD/resources/quorvel.arc" <<'EOF'
import sys
exe = bytearray(open(sys.argv[1], 'rb').read())
arc = open(sys.argv[2], 'rb').read()
at = exe.find(arc)
assert at >= 0 and exe.find(arc, at + 1) < 0, 'the archive once in the setup'
exe[at + len(arc) - 100] ^= 0x55
open(sys.argv[1], 'wb').write(exe)
EOF
}

# In prefix $1, where the setup will install: the first entry that is not
# the screen saver as a symbolic link to C:\outside.txt, older than the
# release stamp.
link_outside() {
    local dir name
    if [ "$QV_BUILD_NAME" = win32 ]; then dir="$1/drive_c/Program Files (x86)/Quorvel"
    else dir="$1/drive_c/Program Files/Quorvel"; fi
    name=$(tr -d '\r' <"$MANIFEST" | awk -F'\t' '$1 !~ /\.scr/ { print $1; exit }')
    mkdir -p "$dir"
    printf outside >"$1/drive_c/outside.txt"
    touch -d 1990-01-01 "$1/drive_c/outside.txt"
    ln -s ../../outside.txt "$dir/$name"
}

# Drive D: as a removable disk backed by a folder of the prefix.
add_removable_d() {
    local p=$1
    mkdir -p "$p/drive_d"
    ln -sfn ../drive_d "$p/dosdevices/d:"
    printf '\n[Software\\\\Wine\\\\Drives]\n"d:"="floppy"\n' >>"$p/system.reg"
}

# The screen's DPI, as the user's display settings give it.
set_dpi() {
    printf '\n[Control Panel\\\\Desktop]\n"LogPixels"=dword:%08x\n' "$2" >>"$1/user.reg"
}

run_scenario() {
    local name=$1 base=fresh p shotArg= start=$SECONDS
    case $name in update*|overwrite*|cancel-files|damaged-update) base=first ;; esac
    if [ "$base" = first ] && [ ! -d "$QV_WINE_DIR/first-done" ]; then
        echo "FAIL $name (needs the first installation)"
        FAILED=$((FAILED + 1))
        return
    fi
    p=$(make_prefix "$name" "$base") || { FAILED=$((FAILED + 1)); return; }
    [ "$name" = folder-checks ] && add_removable_d "$p"
    [ "$name" = damaged-update ] && damage_last_entry "$p"
    [ "$name" = link-outside ] && link_outside "$p"
    case $name in first | high-dpi) shotArg='Z:'${SHOTS//\//\\} ;; esac
    [ "$name" = high-dpi ] && set_dpi "$p" 192
    qv_wine_run "$p" 120 "$p/drive_c/qvsetup/driver.exe" "$name" \
        'C:\Downloads\QuorvelSetup.exe' 'C:\qvsetup\manifest.txt' $shotArg \
        >"$LOGS/$name.log" 2>"$LOGS/$name.err"
    local status=$?
    qv_wine_stop "$p"
    tr -d '\r' <"$LOGS/$name.log"
    if [ $status -eq 0 ] && grep -q "^PASS $name" <(tr -d '\r' <"$LOGS/$name.log"); then
        PASSED=$((PASSED + 1))
    else
        [ $status -ne 0 ] && ! grep -q "FAIL $name" "$LOGS/$name.log" &&
            echo "FAIL $name (driver status $status)"
        FAILED=$((FAILED + 1))
    fi
    echo "   ($((SECONDS - start)) s)"
    if [ "$name" = first ]; then
        rm -rf "$QV_WINE_DIR/first-done"
        [ $status -eq 0 ] && mv "$p" "$QV_WINE_DIR/first-done"
    fi
    rm -rf "$p"
}

START=$SECONDS
for s in "${SCENARIOS[@]}"; do run_scenario "$s"; done
rm -rf "$QV_WINE_DIR/first-done"

qv_e2e_shots "$SHOTS"
echo "end-to-end time: $((SECONDS - START)) s"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
