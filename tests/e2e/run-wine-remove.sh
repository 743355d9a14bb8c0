#!/bin/bash
# From installation to removal under Wine, for one build: the setup driver
# installs once (its "first" scenario), then each chain of removal
# scenarios runs in its own copy of that prefix with
# tests/e2e/remove_driver.cpp. "restart" ends the prefix's session; the next
# start of a program then does what a Windows restart does with the files
# left for it. Libraries planted in the temporary folder, which the
# uninstaller's copy would load from beside it, must never run.
# Last line: "N passed, M failed".
#   run-wine-remove.sh win32|win64
#   QV_E2E_ONLY   run only these chains (blank-separated)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
source "$ROOT/scripts/wine-env.sh" "${1:-}"
source "$ROOT/tests/e2e/e2e-common.sh"
# Wine would load its own desk.cpl for the setup's final launch, rather than
# the stand-in in the system folder; Windows loads the file. The planted
# libraries in Windows' search order (qv_e2e_plant).
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;desk.cpl=n;imm32,shlwapi=n,b"

SETUP=$QV_BUILD/app/QuorvelSetup.exe
PAYLOAD=$QV_BUILD/payload
DRIVER=$QV_TESTS/tests/e2e/qv_e2e_driver.exe
REMOVE=$QV_TESTS/tests/e2e/qv_remove_driver.exe
STANDIN=$QV_TESTS/tests/e2e/desk.cpl
PLANTED=$QV_TESTS/tests/e2e/planted.dll
SHOTS=$QV_BUILD/remove-shots
LOGS=$QV_BUILD/remove-logs
for f in "$SETUP" "$PAYLOAD/QVRemove.exe" "$DRIVER" "$REMOVE" "$STANDIN" "$PLANTED"; do
    [ -f "$f" ] || qv_fail "missing $f (build the $QV_BUILD_NAME preset)"
done
rm -rf "$SHOTS" "$LOGS"
mkdir -p "$SHOTS" "$LOGS"

PASSED=0
FAILED=0
CHAINS=(interactive quiet-active in-use kept forged-copy help)
[ -n "${QV_E2E_ONLY:-}" ] && read -r -a CHAINS <<<"$QV_E2E_ONLY"

# step PREFIX LOG PROGRAM ARGS...: one driver run, counted by its PASS line.
step() {
    local p=$1 log=$LOGS/$2.log
    shift 2
    qv_wine_run "$p" 120 "$@" >"$log" 2>"$log.err"
    local status=$?
    tr -d '\r' <"$log"
    if [ $status -eq 0 ] && grep -q '^PASS ' <(tr -d '\r' <"$log"); then
        PASSED=$((PASSED + 1))
    else
        grep -q '^FAIL ' <(tr -d '\r' <"$log") || echo "FAIL $(basename "$log" .log) (status $status)"
        FAILED=$((FAILED + 1))
    fi
}
setup_step() { step "$1" "$2" "$1/drive_c/qvsetup/driver.exe" first 'C:\qvsetup\QuorvelSetup.exe' 'C:\qvsetup\manifest.txt'; }
remove_step() {
    step "$1" "$2-$3" "$1/drive_c/qvsetup/remove.exe" "$3" 'C:\qvsetup\manifest.txt' \
        'C:\qvsetup\QVRemove.exe' "Z:${SHOTS//\//\\}"
}

# kept_links PREFIX: links into the installation folder and the Windows
# folder, as a user or another program may place them (Unix symbolic links
# and a hard link, under Wine), to files and a folder in C:\outside, some of
# them with the very bytes of the product's files. The scenario "kept"
# checks that they and their targets stay.
kept_links() {
    local c=$1/drive_c inst out
    inst="$c/Program Files$([ "$QV_BUILD_NAME" = win32 ] && echo ' (x86)')/Quorvel"
    out=$c/outside
    mkdir -p "$out/dir"
    echo "mine" >"$out/dir/keep.txt"
    echo "an index of mine" >"$out/Quorvel.FTS"
    echo "a temporary file of mine" >"$out/temp.txt"
    mv "$inst/Scenes.dat" "$out/Scenes.dat"
    mv "$inst/Quorvel.cnt" "$out/Quorvel.cnt"
    mv "$c/windows/Quorvel.scr" "$out/Quorvel.scr"
    ln -s "$out/Scenes.dat" "$inst/Scenes.dat"
    ln "$out/Quorvel.cnt" "$inst/Quorvel.cnt"
    ln -s "$out/Quorvel.scr" "$c/windows/Quorvel.scr"
    ln -s "$out/Quorvel.FTS" "$inst/Quorvel.FTS"
    ln -s "$out/temp.txt" "$inst/~qv0001.tmp"
    ln -s "$out/dir" "$inst/Photos"
}

# The installation every chain starts from.
START=$SECONDS
BASE=$(qv_wine_prefix installed) || qv_fail "could not make the prefix"
mkdir -p "$BASE/drive_c/qvsetup"
cp "$SETUP" "$BASE/drive_c/qvsetup/QuorvelSetup.exe"
cp "$DRIVER" "$BASE/drive_c/qvsetup/driver.exe"
cp "$REMOVE" "$BASE/drive_c/qvsetup/remove.exe"
cp "$PAYLOAD/QVRemove.exe" "$BASE/drive_c/qvsetup/QVRemove.exe"
qv_wine_system_file "$BASE" "$STANDIN" desk.cpl
# The archive's entries: the payload that the build staged.
qv_e2e_manifest "$PAYLOAD" "$BASE/drive_c/qvsetup/manifest.txt"
setup_step "$BASE" install
qv_wine_stop "$BASE"
# Two libraries that the uninstaller's copy loads by name, in the user's
# temporary folder, where a file can be placed beforehand.
TEMP_DIR=$(echo "$BASE"/drive_c/users/*/AppData/Local/Temp)
[ -d "$TEMP_DIR" ] || qv_fail "no temporary folder in the prefix"
qv_e2e_plant "$TEMP_DIR" imm32.dll shlwapi.dll || qv_fail "could not plant in $TEMP_DIR"

for chain in "${CHAINS[@]}"; do
    echo "== $chain"
    if ! p=$(qv_wine_prefix "$chain" "$BASE"); then
        echo "FAIL $chain (no prefix)"
        FAILED=$((FAILED + 1))
        continue
    fi
    case $chain in
        interactive)
            remove_step "$p" "$chain" interactive
            qv_wine_stop "$p"  # restart
            remove_step "$p" "$chain" restarted
            remove_step "$p" "$chain" again
            # A fresh installation afterwards is a first one: no update
            # text, the default folder and group.
            setup_step "$p" "$chain-reinstall" ;;
        quiet-active | in-use | forged-copy)
            remove_step "$p" "$chain" "$chain"
            qv_wine_stop "$p"
            remove_step "$p" "$chain" restarted ;;
        kept)
            kept_links "$p"
            remove_step "$p" "$chain" kept ;;
        help)
            remove_step "$p" "$chain" help ;;
        *)
            echo "FAIL $chain (unknown chain)"
            FAILED=$((FAILED + 1)) ;;
    esac
    qv_wine_stop "$p"
    rm -rf "$p"
done
rm -rf "$BASE"

qv_e2e_shots "$SHOTS"
echo "removal time: $((SECONDS - START)) s"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
