#!/bin/bash
# Makes the README's pictures in docs/: the five wizard pages of the shipped
# i686 setup as the end-to-end run's first installation shows them (under
# Wine's WoW64 mode), the whole screen with the last of them, and a frame of
# the screen saver as it composes it.
# Same sources, same bytes: the pages come from a fixed walk through the
# wizard (the caret does not blink), the frame from a fixed time, and the
# PNG files carry no dates.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh host win32 >/dev/null
QV_E2E_ONLY=first bash tests/e2e/run-wine-e2e.sh win32 >build/make-pictures.log 2>&1 ||
    { tail -20 build/make-pictures.log; echo "the end-to-end run failed"; exit 1; }

png() { convert "$1" -strip -define png:exclude-chunks=date,time "$2"; }
mkdir -p docs
for shot in build/win32/e2e-shots/0[1-6]-*.png; do
    png "$shot" "docs/wizard-$(basename "$shot")"
done
frame=build/saver-frame.bmp
build/host/saver/qv_saver_frame payload/Scenes.dat 6000 480 300 "$frame"
png "$frame" docs/screen-saver.png
ls -l docs/*.png
