#!/bin/bash
# Builds everything (the four presets), then runs the shipped product, the
# i686 setup, under Wine's WoW64 mode in a fresh prefix of its own, as on
# 64-bit Windows. With a display the user plays the wizard; without one (or
# with QV_HEADLESS=1) a private Xvfb is started and the end-to-end driver
# plays a first installation with the defaults, taking a screenshot of
# every page. Afterwards prints where everything went: the files, the
# registry values with the view they are in, the links and the final launch
# (which reaches a stand-in desk.cpl: Wine has no display settings to
# install a screen saver into).
#   run.sh [win32|win64]   win64 runs the x86_64 twin instead
#   QV_RUN_NO_BUILD=1      runs what is built, without building
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_NAME=${1:-win32}

bash scripts/install-deps.sh
[ -n "${QV_RUN_NO_BUILD:-}" ] || bash scripts/build.sh
SHOTS=$ROOT/build/run-shots
if [ -n "${DISPLAY:-}" ] && [ -z "${QV_HEADLESS:-}" ]; then
    MODE=visible
else
    MODE=headless
    unset DISPLAY
fi
source scripts/wine-env.sh "$BUILD_NAME"
# Wine would load its own desk.cpl rather than the stand-in.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;desk.cpl=n"

PREFIX=$(qv_wine_prefix run)
DIR=$PREFIX/drive_c/qvsetup
mkdir -p "$DIR"
cp "$QV_BUILD/app/QuorvelSetup.exe" "$DIR/"
cp "$QV_TESTS/tests/e2e/qv_e2e_driver.exe" "$DIR/driver.exe"
qv_wine_system_file "$PREFIX" "$QV_TESTS/tests/e2e/desk.cpl" desk.cpl
# The archive's entries, in the order the build packs them (the staged payload).
(cd "$QV_BUILD/payload" && for f in $(ls | LC_ALL=C sort); do
    printf '%s\t%s\r\n' "$f" "$(stat -c %s "$f")"
done) >"$DIR/manifest.txt"

rm -rf "$SHOTS"
mkdir -p "$SHOTS"
status=0
if [ "$MODE" = visible ]; then
    echo "== Running the $BUILD_NAME setup on $DISPLAY: play the wizard; this script goes on when it ends."
    qv_wine_run "$PREFIX" 3600 "$DIR/QuorvelSetup.exe" || status=$?
    echo "setup exit code: $status"
else
    echo "== No display: playing a first installation of the $BUILD_NAME setup with the defaults under Xvfb ($DISPLAY)"
    qv_wine_run "$PREFIX" 180 "$DIR/driver.exe" first 'C:\qvsetup\QuorvelSetup.exe' \
        'C:\qvsetup\manifest.txt' "Z:${SHOTS//\//\\}" 2>/dev/null | tr -d '\r' || status=$?
fi
echo
echo "== Where everything went (prefix $PREFIX)"
qv_wine_run "$PREFIX" 60 "$DIR/driver.exe" report 'C:\qvsetup\QuorvelSetup.exe' \
    'C:\qvsetup\manifest.txt' 2>/dev/null | tr -d '\r' | grep -v '^PASS report'
qv_wine_stop "$PREFIX"
echo "(C: is $PREFIX/drive_c; the launch stand-in logs to C:\\windows\\desk-standin.log)"

for bmp in "$SHOTS"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
if ls "$SHOTS"/*.png >/dev/null 2>&1; then
    echo
    echo "== Screenshots"
    ls "$SHOTS"/*.png
fi
echo
for exe in build/win32/app/QuorvelSetup.exe build/win64/app/QuorvelSetup.exe; do
    [ -f "$exe" ] && echo "product $exe: $(stat -c %s "$exe") bytes"
done
exit "$status"
