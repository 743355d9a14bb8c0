#!/bin/bash
# From installation to removal under Wine: the setup driver installs once
# (its "first" scenario), then each chain of removal scenarios runs in its
# own copy of that prefix with tests/e2e/remove_driver.cpp. "restart" ends
# the prefix's session; the next start of a program then does what a
# Windows restart does with the files left for it. Last line:
# "N passed, M failed".
#   QV_E2E_BUILD  build folder of the win64 preset (default build/win64)
#   QV_E2E_ONLY   run only these chains (blank-separated)
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${QV_E2E_BUILD:-$ROOT/build/win64}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
export QV_WINE_DIR=$BUILD/remove-wine
source "$ROOT/scripts/wine-env.sh"
source "$ROOT/scripts/xvfb.sh"
qv_ensure_display || { echo "0 passed, 1 failed"; exit 1; }

SETUP=$BUILD/app/QuorvelSetup.exe
DRIVER=$BUILD/tests/e2e/qv_e2e_driver.exe
REMOVE=$BUILD/tests/e2e/qv_remove_driver.exe
STANDIN=$BUILD/tests/e2e/rundll32.exe
PAYLOAD=$BUILD/payload
SHOTS=$BUILD/remove-shots
LOGS=$BUILD/remove-logs
for f in "$SETUP" "$DRIVER" "$REMOVE" "$STANDIN" "$PAYLOAD/QVRemove.exe"; do
    [ -f "$f" ] || { echo "missing $f (build the win64 preset)"; echo "0 passed, 1 failed"; exit 1; }
done
rm -rf "$SHOTS" "$LOGS"
mkdir -p "$SHOTS" "$LOGS"
qv_wine_template || { echo "0 passed, 1 failed"; exit 1; }

PASSED=0
FAILED=0
CHAINS=(interactive quiet-active in-use help)
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

# The installation every chain starts from.
START=$SECONDS
BASE=$(qv_wine_prefix installed) || { echo "0 passed, 1 failed"; exit 1; }
mkdir -p "$BASE/drive_c/qvsetup"
cp "$SETUP" "$BASE/drive_c/qvsetup/QuorvelSetup.exe"
cp "$STANDIN" "$BASE/drive_c/qvsetup/rundll32.exe"
cp "$DRIVER" "$BASE/drive_c/qvsetup/driver.exe"
cp "$REMOVE" "$BASE/drive_c/qvsetup/remove.exe"
cp "$PAYLOAD/QVRemove.exe" "$BASE/drive_c/qvsetup/QVRemove.exe"
# The archive's entries: the payload that the build staged.
(cd "$PAYLOAD" && for f in $(ls | LC_ALL=C sort); do
    printf '%s\t%s\r\n' "$f" "$(stat -c %s "$f")"
done) >"$BASE/drive_c/qvsetup/manifest.txt"
setup_step "$BASE" install
qv_wine_stop "$BASE"

for chain in "${CHAINS[@]}"; do
    echo "== $chain"
    p=$QV_WINE_DIR/$chain
    rm -rf "$p"
    cp -a "$BASE" "$p"
    case $chain in
        interactive)
            remove_step "$p" "$chain" interactive
            qv_wine_stop "$p"  # restart
            remove_step "$p" "$chain" restarted
            remove_step "$p" "$chain" again
            # A fresh installation afterwards is a first one: no update
            # text, the default folder and group.
            setup_step "$p" "$chain-reinstall" ;;
        quiet-active | in-use)
            remove_step "$p" "$chain" "$chain"
            qv_wine_stop "$p"
            remove_step "$p" "$chain" restarted ;;
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

for bmp in "$SHOTS"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
ls "$SHOTS"/*.png 2>/dev/null | sed 's/^/screenshot: /'
echo "removal time: $((SECONDS - START)) s"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
