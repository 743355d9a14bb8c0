# Sourced: does this machine's kernel run 32-bit x86 code, and, where it
# does not, the qemu-i386 registration that runs the 32-bit Wine loader.
#
#   qv_ia32_probe [-q]   sets QV_IA32 to "native" or "none" (QV_IA32_WHY says
#                        why "none") and, without -q, prints one line about it
#   qv_emu_acquire       registers qemu-i386 for i386 ELF files in binfmt_misc
#                        for this shell (a holder); fails with QV_EMU_WHY set
#   qv_emu_release       drops this shell's hold; the last holder unregisters
#   qv_emu_clean         unregisters an entry that no live holder keeps
#
# The probe runs a 96-byte static i386 program that exits with 42 through
# int $0x80: cheap, and certain where version strings are not. One padding
# byte of its e_ident is 'Q', so no binfmt_misc emulator registered for i386
# ELF files (whose magic and mask cover those bytes) can answer for the
# kernel. QV_NO_IA32=1 forces "none", to try the fallback on any machine.
#
# Runners run side by side, so the registration is held, not owned: each
# holder is a file named by its process id and start time below
# QV_EMU_RUN (default /run/quorvel-binfmt), changed under a lock; a holder
# whose process is gone (a killed run) no longer counts. The entry is
# registered with the F flag (the interpreter is opened now, so it works
# inside the Wine chroot) and removed, with a binfmt_misc mount made for it,
# when the last holder goes.

QV_STATE=${QV_STATE:-/var/lib/quorvel}
QV_QEMU=${QV_QEMU:-$QV_STATE/qemu/qemu-i386-binfmt-P}
QV_EMU_RUN=${QV_EMU_RUN:-/run/quorvel-binfmt}
QV_BINFMT=/proc/sys/fs/binfmt_misc
QV_BINFMT_ENTRY=quorvel-i386

qv_ia32_probe() {
    local quiet=${1:-} dir status
    QV_IA32=native
    QV_IA32_WHY=
    if [ -n "${QV_NO_IA32:-}" ]; then
        QV_IA32=none QV_IA32_WHY="QV_NO_IA32=$QV_NO_IA32"
    else
        dir=$(mktemp -d) || return 1
        # ELF header (e_ident[9] = 'Q'), one PT_LOAD program header, code.
        printf '\177ELF\001\001\001\000\000Q\000\000\000\000\000\000\002\000\003\000\001\000\000\000T\200\004\0104\000\000\000\000\000\000\000\000\000\000\0004\000 \000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273*\000\000\000\315\200' \
            >"$dir/probe"
        chmod +x "$dir/probe"
        status=0
        "$dir/probe" 2>/dev/null || status=$?
        rm -rf "$dir"
        [ "$status" -eq 42 ] || QV_IA32=none QV_IA32_WHY="a static i386 program exited with $status, not 42"
    fi
    export QV_IA32 QV_IA32_WHY
    [ -n "$quiet" ] && return 0
    if [ "$QV_IA32" = native ]; then
        echo "32-bit x86 code: native"
    else
        echo "32-bit x86 code: not run by this kernel ($QV_IA32_WHY)"
    fi
}

# A holder's name: process id and start time, so a reused id is no holder.
_qv_emu_start() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }
_qv_emu_self() { echo "$$-$(_qv_emu_start $$)"; }
_qv_emu_alive() {
    local pid=${1%%-*}
    # A killed holder not yet reaped (state Z) is gone too.
    [ "$pid-$(_qv_emu_start "$pid")" = "$1" ] &&
        [ "$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null | cut -d' ' -f1)" != Z ]
}
# Removes the holders whose process is gone; true when one remains.
_qv_emu_prune() {
    local h live=1
    for h in "$QV_EMU_RUN"/holders/*; do
        [ -e "$h" ] || continue
        if _qv_emu_alive "$(basename "$h")"; then live=0; else rm -f "$h"; fi
    done
    return $live
}
_qv_emu_unregister() {
    [ -e "$QV_BINFMT/$QV_BINFMT_ENTRY" ] && echo -1 >"$QV_BINFMT/$QV_BINFMT_ENTRY"
    if [ -e "$QV_EMU_RUN/mounted" ]; then
        umount "$QV_BINFMT" 2>/dev/null
        rm -f "$QV_EMU_RUN/mounted"
    fi
    return 0
}

qv_emu_acquire() {
    QV_EMU_WHY=
    [ -x "$QV_QEMU" ] || { QV_EMU_WHY="no qemu-i386 at $QV_QEMU (scripts/install-deps.sh)"; return 1; }
    mkdir -p "$QV_EMU_RUN/holders" || { QV_EMU_WHY="cannot write $QV_EMU_RUN"; return 1; }
    (
        flock 8
        if [ ! -e "$QV_BINFMT/register" ]; then
            mount -t binfmt_misc binfmt_misc "$QV_BINFMT" 2>/dev/null || exit 2
            touch "$QV_EMU_RUN/mounted"
        fi
        if [ ! -e "$QV_BINFMT/$QV_BINFMT_ENTRY" ]; then
            # The usual i386 ELF magic and mask; O: the interpreter gets the
            # program's file, P: argv[0] as given, F: opened now.
            printf '%s' ":$QV_BINFMT_ENTRY:M::"'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QV_QEMU:OPF" \
                >"$QV_BINFMT/register" 2>/dev/null || exit 3
        fi
        touch "$QV_EMU_RUN/holders/$(_qv_emu_self)"
    ) 8>"$QV_EMU_RUN/lock"
    case $? in
        0) return 0 ;;
        2) QV_EMU_WHY="binfmt_misc can't be mounted here" ;;
        3) QV_EMU_WHY="binfmt_misc refused the qemu-i386 entry" ;;
        *) QV_EMU_WHY="cannot lock $QV_EMU_RUN/lock" ;;
    esac
    return 1
}

qv_emu_release() {
    [ -d "$QV_EMU_RUN/holders" ] || return 0
    (
        flock 8
        rm -f "$QV_EMU_RUN/holders/$(_qv_emu_self)"
        _qv_emu_prune || _qv_emu_unregister
    ) 8>"$QV_EMU_RUN/lock"
}

qv_emu_clean() {
    [ -d "$QV_EMU_RUN" ] || return 0
    (
        flock 8
        _qv_emu_prune || _qv_emu_unregister
    ) 8>"$QV_EMU_RUN/lock"
}
