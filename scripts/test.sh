#!/bin/bash
# Builds everything and runs every test through CTest, preset by preset:
# the host tests (one CTest test per GoogleTest case), the same under
# AddressSanitizer + UndefinedBehaviorSanitizer, a fuzzing run of 15 s per
# target (scripts/fuzz.sh, one CTest test), then for the shipped i686
# product (win32, under Wine's WoW64 mode) and for its x86_64 twin (win64)
# every Wine runner tests/*/run-wine*.sh (one CTest test each: the Windows
# unit tests, the installation tests, the screen saver, the end-to-end runs
# of the setup; the two builds side by side). Ends with one line
# "N passed, M failed" that counts every GoogleTest case and every scenario
# that a runner counts; a test that did not run, or a runner that counted
# nothing, counts as failed. Where no route runs the i686 build's code
# (scripts/wine-env.sh) its runners say "skipped: WHY" and exit with 77:
# the last line then reads "N passed, M failed, K skipped", the line before
# it why.
# Logs: build/test-logs/ (each runner's output in PRESET/NAME.log).
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
LOGS=$ROOT/build/test-logs
PRESETS=(host host-asan fuzz win32 win64)
if ! bash scripts/install-deps.sh; then
    echo "install-deps failed"
    echo "0 passed, 1 failed"
    exit 1
fi
rm -rf "$LOGS"
mkdir -p "$LOGS"
source scripts/ia32.sh
qv_ia32_probe
if [ "$QV_IA32" = native ]; then
    echo "i686 build: Wine's WoW64 mode"
elif [ -n "${QV_NO_EMULATION:-}" ]; then
    echo "i686 build: its Wine runners are skipped (QV_NO_EMULATION=1)"
else
    echo "i686 build: emulated, Wine's 32-bit loader under qemu-i386"
fi

if ! bash scripts/build.sh "${PRESETS[@]}" >"$LOGS/build.log" 2>&1; then
    tail -50 "$LOGS/build.log"
    echo "build failed (log: $LOGS/build.log)"
    echo "0 passed, 1 failed"
    exit 1
fi
grep -E '^product size' "$LOGS/build.log" || true

run_preset() {
    local p=$1 start=$SECONDS
    ctest --preset "$p" --output-junit "$LOGS/$p.xml" >"$LOGS/$p.log" 2>&1
    echo "== $p: $(grep -E 'tests passed|No tests were found' "$LOGS/$p.log" | tail -1)" \
         "($((SECONDS - start)) s)"
}
run_preset host
run_preset host-asan
run_preset fuzz
# The two Windows builds at once, each one runner at a time: the runners
# wait on Wine and on the screen far more than they compute.
run_preset win32 &
run_preset win64 &
wait

# Counts the JUnit reports: a test whose output ends in a line
# "N passed, M failed" (a runner) counts N and M, any other counts one.
python3 - "$LOGS" "${PRESETS[@]}" <<'EOF'
import os, re, sys
import xml.etree.ElementTree as ET

logs, presets = sys.argv[1], sys.argv[2:]
summary = re.compile(r"^(?:[A-Za-z]+: )?(\d+) passed, (\d+) failed(?:, (\d+) skipped)?", re.M)
skip_line = re.compile(r"^skipped: (.*)$", re.M)
passed = failed = skipped = 0
failures = []
reasons = {}
for preset in presets:
    report = os.path.join(logs, preset + ".xml")
    try:
        cases = ET.parse(report).getroot().iter("testcase")
    except (OSError, ET.ParseError):
        cases = []
    p = f = k = 0
    seen = False
    for case in cases:
        seen = True
        name, status = case.get("name"), case.get("status")
        log_name = os.path.join(logs, preset, name.replace("/", "_") + ".log")
        out = (case.findtext("system-out") or "").replace("\r", "")
        counts = summary.findall(out)
        why = skip_line.findall(out)
        ck = 0
        if case.find("skipped") is not None and why and not counts:
            # A runner that no route here can run (exit code 77).
            cp = cf = 0
            ck = 1
            reasons.setdefault(why[-1], []).append(f"{preset} {name}")
            print(f"   {preset} {name}: skipped ({why[-1]})")
        elif counts:
            cp, cf, ck = (int(n or 0) for n in counts[-1])
            if status != "run" or cp + cf == 0:
                cf = max(cf, 1)
            print(f"   {preset} {name}: {cp} passed, {cf} failed"
                  + (f", {ck} skipped" if ck else "")
                  + f" ({float(case.get('time', 0)):.0f} s)")
            if ck and why:
                reasons.setdefault(why[-1], []).append(f"{preset} {name} (part)")
        else:
            cp, cf = (1, 0) if status == "run" else (0, 1)
        if counts or cf or ck:
            os.makedirs(os.path.dirname(log_name), exist_ok=True)
            with open(log_name, "w") as log:
                log.write(out)
        if cf:
            failures.append(f"{preset} {name} ({status}; log: {log_name})")
        p, f, k = p + cp, f + cf, k + ck
    if not seen:
        f += 1
        failures.append(f"{preset}: no test report ({report})")
    print(f"-- {preset}: {p} passed, {f} failed" + (f", {k} skipped" if k else ""))
    passed, failed, skipped = passed + p, failed + f, skipped + k
print()
for line in failures:
    print("failed:", line)
for why, names in reasons.items():
    print(f"skipped ({', '.join(names)}): {why}")
print(f"{passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
sys.exit(1 if failed else 0)
EOF
