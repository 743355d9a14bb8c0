# Sourced by every script that runs Windows programs under Wine:
#
#     source scripts/wine-env.sh BUILD
#
# BUILD is the build the script tests: "win32", the shipped i686 product, or
# "win64", its x86_64 twin. It picks the folders and the environment, so
# that a runner is written once for both builds. Both run under trixie's
# Wine 10, in the chroot that scripts/install-deps.sh makes
# ($QV_WOW64_ROOT): the 32-bit build in its WoW64 mode, as on 64-bit
# Windows. (Bookworm's Wine 8 runs 32-bit programs but draws nothing for
# them.) One Wine for both, so that a difference between the builds comes
# from their bitness, not from two Wines.
#
# Where the kernel runs no 32-bit code (scripts/ia32.sh says so once per
# runner; QV_NO_IA32=1 pretends it), WoW64 mode can't switch to 32-bit
# code, and the 32-bit build takes the emulated route: the same Wine's
# classic 32-bit loader under qemu-i386, in the chroot $QV_EMU_ROOT, with a
# 64-bit prefix of the classic wine64 + wine32 layout, so that a 32-bit
# program sees what it sees on 64-bit Windows (WOW6432Node, Program Files
# (x86), syswow64), as in WoW64 mode. The runner holds qemu's binfmt_misc
# entry until it ends; time limits are QV_WINE_SCALE (3) times longer, and
# the drivers' waits too (QV_WAIT_SCALE in the Windows environment).
# Without that route (none installed, binfmt_misc refused, or
# QV_NO_EMULATION=1) a 32-bit runner says why, "skipped: ...", and exits
# with 77. The 64-bit build never needs 32-bit code.
#
# Every Wine call runs in a mount namespace of its own, with /proc, /sys,
# /dev, the work folders (at the same paths as here) and a /tmp of this
# runner's own mounted into the chroot. Those mounts vanish with the
# namespace's last process, also when a call fails or is killed; no other
# run sees them, nor this runner's wineservers (their sockets live in that
# /tmp). The chroot needs root.
#
# After sourcing:
#   QV_BUILD_NAME   win32 or win64
#   QV_BUILD        the preset's build folder: the product (app/), the staged payload
#                   (payload/); QV_BUILD=... before sourcing names another one
#   QV_TESTS        the build folder of its Windows test programs (tests/win, tests/e2e):
#                   $QV_BUILD/i686-tests for win32, $QV_BUILD for win64; settable too
#   QV_WINE_DIR     this runner's own folder for prefixes, HOME and scratch files;
#                   default $QV_BUILD/wine/<script name without run- and .sh>;
#                   the template prefix, the same for both builds, is build/wine-template
#                   (build/wine-template-emu on the emulated route)
#   QV_WINE_SYSDIR  what the build's programs reach as C:\windows\system32:
#                   "syswow64" for win32, "system32" for win64
#   QV_WINE_ROUTE   "wow64" (also for win64) or "emulated"
#   QV_WINE_SCALE   the factor of every time limit: 1, or 3 on the emulated route
#   WINEDLLOVERRIDES  may be extended before the first Wine call
# Functions (every Wine call runs with a time limit and that environment):
#   qv_wine_prefix NAME [FROM]   makes $QV_WINE_DIR/NAME, a fresh copy of the
#                   template prefix (or of the prefix FROM), prints its path
#   qv_wine_run PREFIX SECONDS PROGRAM [ARGS...]   runs a Windows program (a path
#                   here, or a Wine program such as "reg") in PREFIX; gives its exit
#                   status, 124 when the time ran out
#   qv_wine_stop PREFIX          ends every Wine process of PREFIX
#   qv_wine_system_file PREFIX FILE NAME   puts FILE into the build's system folder
#                   of PREFIX as NAME (a stand-in for a system component)
#   qv_wine_gtest NAME EXE       runs a GoogleTest program in a fresh prefix NAME,
#                   shows its output and ends with "N passed, M failed"
#   qv_gtest_result LOG STATUS   the same output and line for a run made otherwise
#   qv_fail MESSAGE              says why the runner cannot run, prints
#                   "0 passed, 1 failed" and exits with 1
#   qv_skip MESSAGE              prints "skipped: MESSAGE" and exits with 77
# Prefixes share their DLL folders (system32, syswow64) with the template as
# hard links: replace a file there (qv_wine_system_file), never write into it.
# Every Wine call sees WINEDEBUG=-all and its own HOME: never the user's
# default prefix. Never end Wine processes other than by qv_wine_stop.
# Without a usable DISPLAY, sourcing starts a private Xvfb (scripts/xvfb.sh)
# that ends with the sourcing shell.

qv_fail() {
    echo "$*" >&2
    echo "0 passed, 1 failed"
    exit 1
}

qv_skip() {
    echo "skipped: $*"
    exit 77
}

QV_ROOT=${QV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
QV_BUILD_NAME=${1:-${QV_BUILD_NAME:-}}
case $QV_BUILD_NAME in
    win32) QV_BUILD=${QV_BUILD:-$QV_ROOT/build/win32} QV_TESTS=${QV_TESTS:-$QV_BUILD/i686-tests}
           QV_WINE_SYSDIR=syswow64 ;;
    win64) QV_BUILD=${QV_BUILD:-$QV_ROOT/build/win64} QV_TESTS=${QV_TESTS:-$QV_BUILD}
           QV_WINE_SYSDIR=system32 ;;
    *) qv_fail "wine-env.sh: say which build to run: win32 or win64 (got '$QV_BUILD_NAME')" ;;
esac
_qv_runner=$(basename "$0" .sh)
QV_WINE_DIR=${QV_WINE_DIR:-$QV_BUILD/wine/${_qv_runner#run-}}
QV_WINE_TEMPLATE=$QV_ROOT/build/wine-template
QV_WINE_ROOT=${QV_WOW64_ROOT:-/var/lib/quorvel/wine10-trixie}
QV_WINE_ROUTE=wow64
QV_WINE_SCALE=1
[ "$(id -u)" -eq 0 ] || qv_fail "wine-env.sh: the Wine chroot needs root"
source "$QV_ROOT/scripts/ia32.sh"
qv_ia32_probe -q
if [ "$QV_BUILD_NAME" = win32 ] && [ "$QV_IA32" = none ]; then
    _qv_no_route="32-bit x86 code is not run by this kernel ($QV_IA32_WHY)"
    [ -z "${QV_NO_EMULATION:-}" ] || qv_skip "$_qv_no_route, and QV_NO_EMULATION=1 forbids emulating it"
    QV_WINE_ROUTE=emulated QV_WINE_SCALE=3
    QV_WINE_ROOT=${QV_EMU_ROOT:-/var/lib/quorvel/wine10-trixie-emu}
    QV_WINE_TEMPLATE=$QV_ROOT/build/wine-template-emu
    [ -f "$QV_WINE_ROOT/.quorvel-ready" ] ||
        qv_skip "$_qv_no_route, and no emulated Wine at $QV_WINE_ROOT (scripts/install-deps.sh makes it)"
    qv_emu_acquire || qv_skip "$_qv_no_route, and no emulation: $QV_EMU_WHY"
    _qv_emu_held=1
    # The entry names our qemu and is on: without it, no 32-bit process runs.
    grep -qx enabled "$QV_BINFMT/$QV_BINFMT_ENTRY" &&
        grep -qx "interpreter $QV_QEMU" "$QV_BINFMT/$QV_BINFMT_ENTRY" ||
        { qv_emu_release; qv_fail "wine-env.sh: the binfmt_misc entry $QV_BINFMT_ENTRY is not ours or off"; }
fi
[ -f "$QV_WINE_ROOT/.quorvel-ready" ] ||
    qv_fail "wine-env.sh: no Wine 10 chroot at $QV_WINE_ROOT (run scripts/install-deps.sh)"
export QV_BUILD_NAME QV_BUILD QV_TESTS QV_WINE_DIR QV_WINE_SYSDIR QV_WINE_ROOT QV_WINE_ROUTE \
    QV_WINE_SCALE
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
_qv_user_home=$HOME
export HOME=$QV_WINE_DIR/home
mkdir -p "$HOME" "$QV_WINE_DIR/tmp"
source "$QV_ROOT/scripts/xvfb.sh"
qv_ensure_display || { [ -n "${_qv_emu_held:-}" ] && qv_emu_release; qv_fail "wine-env.sh: no display"; }
# At the end: the private Xvfb goes, and so does this runner's hold on qemu.
_qv_on_exit() {
    [ -n "${_qv_emu_held:-}" ] && qv_emu_release
    [ -n "${QV_XVFB_PID:-}" ] && kill "$QV_XVFB_PID" 2>/dev/null
    return 0
}
trap _qv_on_exit EXIT

# The folders that a Wine call in the chroot sees at their own paths: the
# sources, the build folders and this runner's folder, outermost only.
_qv_binds=
for _qv_d in "$QV_ROOT" "$QV_BUILD" "$QV_TESTS" "$QV_WINE_DIR" "$(dirname "$QV_WINE_TEMPLATE")"; do
    mkdir -p "$_qv_d"
    _qv_d=$(realpath "$_qv_d")
    case ":$_qv_binds:" in *":$_qv_d:"*) continue ;; esac
    _qv_inside=
    for _qv_b in ${_qv_binds//:/ }; do
        case $_qv_d/ in "$_qv_b"/*) _qv_inside=1 ;; esac
    done
    [ -n "$_qv_inside" ] || _qv_binds=${_qv_binds:+$_qv_binds:}$_qv_d
done
export QV_WINE_BINDS=$_qv_binds

# The display's X authority cookies where the chroot sees them.
_qv_xauth=${XAUTHORITY:-$_qv_user_home/.Xauthority}
if [ -f "$_qv_xauth" ] && [ "$_qv_xauth" != "$QV_WINE_DIR/Xauthority" ]; then
    cp "$_qv_xauth" "$QV_WINE_DIR/Xauthority" && export XAUTHORITY=$QV_WINE_DIR/Xauthority
fi

# Runs in a fresh mount namespace: mounts what the chroot needs, then
# becomes the Wine program. Arguments: the program and its arguments.
_QV_IN_ROOT='
r=$QV_WINE_ROOT
fail() { echo "wine-env.sh: $1" >&2; exit 125; }
mount -t proc proc "$r/proc" && mount -t sysfs sysfs "$r/sys" && mount --rbind /dev "$r/dev" ||
    fail "cannot mount /proc, /sys, /dev into $r"
mount --bind "$QV_WINE_DIR/tmp" "$r/tmp" || fail "cannot mount a /tmp into $r"
# X servers listen on abstract sockets, which the chroot shares; some only
# on the socket files.
if [ -d /tmp/.X11-unix ]; then
    mkdir -p "$r/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix" ||
        fail "cannot mount /tmp/.X11-unix into $r"
fi
# The work folders after the private /tmp, which would otherwise hide a
# checkout below /tmp.
IFS=:
for d in $QV_WINE_BINDS; do
    mkdir -p "$r$d" && mount --rbind "$d" "$r$d" || fail "cannot mount $d into $r"
done
unset IFS
exec chroot "$r" /usr/bin/env -i PATH=/usr/bin:/bin HOME="$HOME" WINEPREFIX="$WINEPREFIX" \
    WINEDEBUG="$WINEDEBUG" WINEDLLOVERRIDES="$WINEDLLOVERRIDES" LANG="${LANG:-C.UTF-8}" \
    QV_WAIT_SCALE="$QV_WINE_SCALE" \
    ${DISPLAY:+DISPLAY="$DISPLAY"} ${XAUTHORITY:+XAUTHORITY="$XAUTHORITY"} ${TZ:+TZ="$TZ"} "$@"
'

# _qv_wine PREFIX SECONDS PROGRAM ARGS... (a program of the chroot)
_qv_wine() {
    local prefix=$1 limit=$2
    shift 2
    WINEPREFIX=$prefix timeout "$((limit * QV_WINE_SCALE))" unshare --mount --propagation private \
        bash -c "$_QV_IN_ROOT" wine-env "$@"
}

# qv_wine_run PREFIX SECONDS PROGRAM [ARGS...]
qv_wine_run() {
    local prefix=$1 limit=$2
    shift 2
    _qv_wine "$prefix" "$limit" /usr/lib/wine/wine64 "$@"
}

qv_wine_stop() {
    _qv_wine "$1" 30 /usr/lib/wine/wineserver -k 2>/dev/null || true
}

# Makes the template prefix once (several runners may ask at once), again
# when the Wine was installed anew (its wine.inf is then newer):
# booted, with the fonts that Debian's Wine does not find by itself, and
# without window-manager decorations (each hidden window would otherwise
# cost about 2 s).
qv_wine_template() {
    local t=$QV_WINE_TEMPLATE identity
    identity=$(stat -c '%n %Y' "$QV_WINE_ROOT/usr/share/wine/wine.inf") || return 1
    (
        flock 9
        [ "$(cat "$t/.ready" 2>/dev/null)" = "$identity" ] && exit 0
        echo "making the template prefix $t" >&2
        rm -rf "$t"
        mkdir -p "$t"
        qv_wine_run "$t" 180 wineboot -i >"$t.log" 2>&1
        _qv_wine "$t" 60 /usr/lib/wine/wineserver -w
        mkdir -p "$t/drive_c/windows/Fonts"
        cp "$QV_WINE_ROOT"/usr/share/wine/fonts/* "$t/drive_c/windows/Fonts/"
        qv_wine_run "$t" 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ \
            /d N /f >/dev/null 2>&1
        # Emulated, the 32-bit loader retries the pointer grab of a window that
        # covers the screen without end (the screen saver's: its clip-cursor
        # messages loop and it never paints); no test needs that grab.
        [ "$QV_WINE_ROUTE" = emulated ] &&
            qv_wine_run "$t" 60 reg add 'HKCU\Software\Wine\X11 Driver' /v GrabPointer \
                /t REG_SZ /d N /f >/dev/null 2>&1
        _qv_wine "$t" 60 /usr/lib/wine/wineserver -w
        qv_wine_stop "$t"
        # A prefix booted without 32-bit code has an empty syswow64: the
        # 64-bit build needs none, the 32-bit one does wherever it runs.
        if { [ "$QV_IA32" = native ] || [ "$QV_WINE_ROUTE" = emulated ]; } &&
            [ ! -f "$t/drive_c/windows/syswow64/kernel32.dll" ]; then
            cat "$t.log" >&2
            echo "wine-env.sh: wineboot left no syswow64/kernel32.dll in $t" >&2
            exit 1
        fi
        # Emulated, a 32-bit program must really run (an exit code 0 alone
        # can hide one that never started): cmd.exe of syswow64 reports x86.
        if [ "$QV_WINE_ROUTE" = emulated ]; then
            local arch
            arch=$(qv_wine_run "$t" 60 'C:\windows\syswow64\cmd.exe' /c \
                'echo %PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%' 2>/dev/null | tr -d '\r')
            qv_wine_stop "$t"
            if [ "$arch" != "x86 AMD64" ]; then
                echo "wine-env.sh: a 32-bit cmd.exe under qemu said '$arch', not 'x86 AMD64'" >&2
                exit 1
            fi
        fi
        echo "$identity" >"$t/.ready"
    ) 9>"$t.lock"
}

# qv_wine_prefix NAME [FROM]: the DLL folders as hard links, the rest (the
# registry, the user's files, what a scenario installed) as copies.
qv_wine_prefix() {
    local p=$QV_WINE_DIR/$1 from=${2:-$QV_WINE_TEMPLATE} d
    if [ -z "${2:-}" ]; then qv_wine_template || return 1; fi
    rm -rf "$p"
    mkdir -p "$p"
    tar -C "$from" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 \
        --exclude=./.ready -cf - . | tar -C "$p" -xf - || return 1
    for d in system32 syswow64; do
        [ -d "$from/drive_c/windows/$d" ] || continue
        cp -al "$from/drive_c/windows/$d" "$p/drive_c/windows/" || return 1
    done
    echo "$p"
}

qv_wine_system_file() {
    local target=$1/drive_c/windows/$QV_WINE_SYSDIR/$3
    rm -f "$target"
    cp "$2" "$target"
}

# qv_wine_gtest NAME EXE (a program that fails without naming a failed test
# counts as one failure; its prefix goes afterwards).
qv_wine_gtest() {
    local name=$1 exe=$2 prefix log status
    [ -f "$exe" ] || qv_fail "missing $exe (build the $QV_BUILD_NAME preset)"
    prefix=$(qv_wine_prefix "$name") || qv_fail "could not make the prefix $name"
    log=$QV_WINE_DIR/$name.log
    qv_wine_run "$prefix" 300 "$exe" >"$log" 2>&1
    status=$?
    qv_wine_stop "$prefix"
    rm -rf "$prefix"
    qv_gtest_result "$log" "$status"
}

# qv_gtest_result LOG STATUS: prints a test program's log and its count
# line; an exit status that is not 0 without a named failed test, or no
# test at all, counts as one failure.
qv_gtest_result() {
    local log=$1 status=$2 passed failed
    tr -d '\r' <"$log"
    passed=$(tr -d '\r' <"$log" | grep -c '^\[       OK \]')
    failed=$(tr -d '\r' <"$log" | grep -c '^\[  FAILED  \] .*(')
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
    if [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
