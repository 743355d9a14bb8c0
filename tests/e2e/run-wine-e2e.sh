#!/bin/bash
# Plays the real setup program of one build under Wine, one scenario per
# fresh prefix, with the driver of tests/e2e. Scenarios that need a
# previous installation start from a copy of the first installation's
# prefix. The final launch reaches a stand-in desk.cpl in the system folder
# that the build's rundll32.exe loads it from. Last line: "N passed, M failed".
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
# than the file in the system folder; Windows loads the file.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;desk.cpl=n"

SETUP=$QV_BUILD/app/QuorvelSetup.exe
DRIVER=$QV_TESTS/tests/e2e/qv_e2e_driver.exe
STANDIN=$QV_TESTS/tests/e2e/desk.cpl
SHOTS=$QV_BUILD/e2e-shots
LOGS=$QV_BUILD/e2e-logs
for f in "$SETUP" "$DRIVER" "$STANDIN"; do
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
           browse no-shortcuts folder-checks blocked-folder blocked-cancel cancel-early second-copy
           locked-files high-dpi)
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
    cp "$SETUP" "$p/drive_c/qvsetup/QuorvelSetup.exe"
    cp "$DRIVER" "$p/drive_c/qvsetup/driver.exe"
    cp "$MANIFEST" "$p/drive_c/qvsetup/manifest.txt"
    qv_wine_system_file "$p" "$STANDIN" desk.cpl
    echo "$p"
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
    case $name in update*|overwrite*|cancel-files) base=first ;; esac
    if [ "$base" = first ] && [ ! -d "$QV_WINE_DIR/first-done" ]; then
        echo "FAIL $name (needs the first installation)"
        FAILED=$((FAILED + 1))
        return
    fi
    p=$(make_prefix "$name" "$base") || { FAILED=$((FAILED + 1)); return; }
    [ "$name" = folder-checks ] && add_removable_d "$p"
    case $name in first | high-dpi) shotArg='Z:'${SHOTS//\//\\} ;; esac
    [ "$name" = high-dpi ] && set_dpi "$p" 192
    qv_wine_run "$p" 120 "$p/drive_c/qvsetup/driver.exe" "$name" \
        'C:\qvsetup\QuorvelSetup.exe' 'C:\qvsetup\manifest.txt' $shotArg \
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
