#!/bin/bash
# Builds what playing the setup needs (the setup, its payload, the driver;
# scripts/build.sh --play), then runs the shipped product, the i686 setup,
# under Wine's WoW64 mode in a fresh prefix of its own, as on 64-bit
# Windows. Where the kernel runs no 32-bit code (scripts/ia32.sh) it runs
# emulated, under qemu-i386 (scripts/wine-env.sh); where that route is
# missing too, it plays the x86_64 twin and says so. With a display the user plays the wizard; without one (or
# with QV_HEADLESS=1) a private Xvfb is started and the end-to-end driver
# plays a first installation with the defaults, taking a screenshot of
# every page. Afterwards prints where everything went: the files, the
# registry values with the view they are in (the uninstall entry's all, with
# their types), the links and the final launch
# (which reaches a stand-in desk.cpl: Wine has no display settings to
# install a screen saver into).
#   run.sh [win32|win64]   win64 runs the x86_64 twin instead
#   QV_RUN_NO_BUILD=1      runs what is built, without building
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_NAME=${1:-win32}

bash scripts/install-deps.sh
source scripts/ia32.sh
qv_ia32_probe
if [ "$BUILD_NAME" = win32 ] && [ "$QV_IA32" = none ]; then
    if [ -n "${QV_NO_EMULATION:-}" ]; then
        why="QV_NO_EMULATION=1"
    elif [ ! -f "${QV_EMU_ROOT:-$QV_STATE/wine10-trixie-emu}/.quorvel-ready" ]; then
        why="no emulated Wine (scripts/install-deps.sh could not make it)"
    fi
    if [ -n "${why:-}" ]; then
        echo "== The i686 setup can't run here ($why): playing its x86_64 twin instead"
        BUILD_NAME=win64
    fi
fi
[ -n "${QV_RUN_NO_BUILD:-}" ] || bash scripts/build.sh --play "$BUILD_NAME"
SHOTS=$ROOT/build/run-shots
if [ -n "${DISPLAY:-}" ] && [ -z "${QV_HEADLESS:-}" ]; then
    MODE=visible
else
    MODE=headless
    unset DISPLAY
fi
source scripts/wine-env.sh "$BUILD_NAME"
if [ "$QV_WINE_ROUTE" = emulated ]; then
    HOW="emulated: Wine's 32-bit loader under qemu-i386"
elif [ "$BUILD_NAME" = win32 ]; then
    HOW="Wine's WoW64 mode"
else
    HOW="Wine, 64-bit"
fi
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
    echo "== Running the $BUILD_NAME setup ($HOW) on $DISPLAY: play the wizard; this script goes on when it ends."
    qv_wine_run "$PREFIX" 3600 "$DIR/QuorvelSetup.exe" || status=$?
    echo "setup exit code: $status"
else
    echo "== No display: playing a first installation of the $BUILD_NAME setup ($HOW) with the defaults under Xvfb ($DISPLAY)"
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
