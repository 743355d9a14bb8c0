#!/bin/bash
# Builds everything (the four presets: the product for i686, its x86_64
# twin, the host tools and tests), then runs the real setup
# under Wine in a fresh prefix of its own. With a display the user plays the
# wizard; without one (or with QV_HEADLESS=1) a private Xvfb is started and
# the end-to-end driver plays a first installation with the defaults,
# taking a screenshot of every page. Afterwards prints where the files,
# registry values and links went.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/install-deps.sh
# QV_RUN_BUILD: an already built win64 folder to run instead (skips the build).
if [ -z "${QV_RUN_BUILD:-}" ]; then bash scripts/build.sh; fi
BUILD=$ROOT/${QV_RUN_BUILD:-build/win64}
SHOTS=$ROOT/build/run-shots
export QV_WINE_DIR=$ROOT/build/run-wine
source scripts/wine-env.sh
source scripts/xvfb.sh

if [ -n "${DISPLAY:-}" ] && [ -z "${QV_HEADLESS:-}" ]; then
    MODE=visible
else
    MODE=headless
    unset DISPLAY
    qv_ensure_display
fi

PREFIX=$(qv_wine_prefix run)
DIR=$PREFIX/drive_c/qvsetup
mkdir -p "$DIR"
cp "$BUILD/app/QuorvelSetup.exe" "$DIR/"
cp "$BUILD/tests/e2e/rundll32.exe" "$DIR/"
cp "$BUILD/tests/e2e/qv_e2e_driver.exe" "$DIR/driver.exe"
# The archive's entries, in the order the build packs them (the staged payload).
(cd "$BUILD/payload" && for f in $(ls | LC_ALL=C sort); do
    printf '%s\t%s\r\n' "$f" "$(stat -c %s "$f")"
done) >"$DIR/manifest.txt"

rm -rf "$SHOTS"
mkdir -p "$SHOTS"
status=0
if [ "$MODE" = visible ]; then
    echo "== Running the setup on $DISPLAY: play the wizard; this script goes on when it ends."
    qv_wine_run "$PREFIX" 3600 "$DIR/QuorvelSetup.exe" || status=$?
    echo "setup exit code: $status"
else
    echo "== No display: playing a first installation with the defaults under Xvfb ($DISPLAY)"
    qv_wine_run "$PREFIX" 180 "$DIR/driver.exe" first 'C:\qvsetup\QuorvelSetup.exe' \
        'C:\qvsetup\manifest.txt' "Z:${SHOTS//\//\\}" 2>/dev/null | tr -d '\r' || status=$?
fi
echo
echo "== Where everything went (prefix $PREFIX)"
qv_wine_run "$PREFIX" 60 "$DIR/driver.exe" report 'C:\qvsetup\QuorvelSetup.exe' \
    'C:\qvsetup\manifest.txt' 2>/dev/null | tr -d '\r' | grep -v '^PASS report'
qv_wine_stop "$PREFIX"
echo "(C: is $PREFIX/drive_c; the launch stand-in logs to $DIR/rundll32.log)"

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
