#!/bin/bash
# Installs what the build, the tests and the benchmarks need on a fresh
# Debian 12 machine, as root: the Debian packages, and the environment that
# runs the 32-bit product: trixie's Wine 10 in a chroot of the project's own
# (QV_WOW64_ROOT), with the 32-bit Windows-side DLLs for its WoW64 mode.
# Bookworm's Wine 8 runs 32-bit programs too, but draws nothing for them.
#
# Idempotent and quick when everything is present; two copies started at
# once wait for each other (flock). The host's apt sources and dpkg
# architectures stay unchanged. Every failed step or version mismatch ends
# it with an error. No wine32 on the host: its loader cannot run here and
# it breaks the wine wrappers.
#
# Where the kernel runs no 32-bit x86 code (scripts/ia32.sh; QV_NO_IA32=1
# pretends so), the 32-bit build runs on the classic 32-bit Wine loader
# under qemu-i386 instead: a second chroot (QV_EMU_ROOT), a copy of the
# first with wine32:i386 of the same version, and trixie's qemu-i386,
# unpacked beside it, never installed. Failing that route is no error: the
# 32-bit runners then say they were skipped, and why. QV_NO_EMULATION=1
# skips it on purpose. A binfmt_misc entry that a killed run left behind
# is removed here.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ python3 procps
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    googletest libgtest-dev libbenchmark-dev zlib1g-dev libdeflate-dev
    libz-mingw-w64-dev
    clang-14 libclang-rt-14-dev
    xvfb xauth xdotool imagemagick
    debootstrap
    halibut
    osslsigncode openssl faketime
)
# The Wine of the chroot, checked after installation.
WINE10_VERSION=10.0~repack-6
WINE10_PACKAGES=(wine64 libwine fonts-wine
                 libxrender1 libxrandr2 libxcursor1 libxi6 libxcomposite1 libxinerama1 libxfixes3)

# qemu-i386 of trixie's qemu-user: 8 or newer is fast enough (bookworm's
# 7.2 spends about a minute of CPU starting each Wine process).
QEMU_VERSION_PATTERN='1:10.0.*'

QV_STATE=${QV_STATE:-/var/lib/quorvel}
QV_WOW64_ROOT=${QV_WOW64_ROOT:-$QV_STATE/wine10-trixie}
QV_EMU_ROOT=${QV_EMU_ROOT:-$QV_STATE/wine10-trixie-emu}
STAMP=$QV_WOW64_ROOT/.quorvel-ready

die() {
    echo "install-deps: $*" >&2
    exit 1
}

if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || die "run as root"
    exec sudo --preserve-env=QV_STATE,QV_WOW64_ROOT,QV_EMU_ROOT,QV_DEBIAN_MIRROR,QV_NO_IA32,QV_NO_EMULATION bash "$0" "$@"
fi

mkdir -p "$QV_STATE"
exec 9>"$QV_STATE/install.lock"
flock 9

installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${PACKAGES[@]}" 2>/dev/null |
    awk '$2 == "installed" { print $1 }' || true)
missing=()
for p in "${PACKAGES[@]}"; do
    grep -qxF "$p" <<<"$installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq || die "apt-get update failed"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >/dev/null || die "apt-get install failed: ${missing[*]}"
fi

# The Debian archive this machine uses (its first deb.debian.org-style URI).
mirror=${QV_DEBIAN_MIRROR:-$(grep -rhoE 'https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list \
    /etc/apt/sources.list.d/ 2>/dev/null | head -1 | tr -d ' ' || true)}
mirror=${mirror:-http://deb.debian.org/debian}

make_wow64_root() {
echo "Setting up the 32-bit test environment (trixie, Wine $WINE10_VERSION) in $QV_WOW64_ROOT"
start=$SECONDS
new=$QV_WOW64_ROOT.new
rm -rf "$new"
mkdir -p "$new"
# Everything below runs in a mount namespace of its own: the mounts that
# debootstrap and apt need vanish with it, also when a step fails.
unshare --mount --propagation private bash -euo pipefail -s "$new" "$mirror" "$WINE10_VERSION" \
    "${WINE10_PACKAGES[@]}" <<'EOF' || die "setting up the chroot failed (partial tree in $new)"
root=$1 mirror=$2 version=$3
shift 3
debootstrap --variant=minbase trixie "$root" "$mirror" >"$root.log" 2>&1 ||
    { tail -20 "$root.log"; echo "debootstrap failed (log: $root.log)" >&2; exit 1; }
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive "$@"; }
in_root dpkg --add-architecture i386
in_root apt-get update -qq
pins=()
for p in wine64 libwine fonts-wine; do pins+=("$p=$version"); done
in_root apt-get install -y -qq --no-install-recommends "${pins[@]}" \
    $(printf '%s\n' "$@" | grep -vxE 'wine64|libwine|fonts-wine') >/dev/null ||
    { echo "installing Wine $version in the chroot failed (is it still trixie's version?)" >&2; exit 1; }
# The 32-bit Windows-side DLLs, from libwine:i386 of exactly the same
# version, beside the 64-bit ones, where the WoW64 loader looks for them.
in_root sh -ec "cd /tmp && apt-get download -qq libwine:i386=$version && \
    dpkg-deb -x libwine_*_i386.deb /tmp/wine32 && \
    cp -a /tmp/wine32/usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/x86_64-linux-gnu/wine/ && \
    rm -rf /tmp/wine32 /tmp/libwine_*_i386.deb && apt-get clean"
in_root /usr/lib/wine/wine64 --version
EOF

got=$(chroot "$new" dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null || true)
[ "$got" = "$WINE10_VERSION" ] || die "the chroot has libwine $got, expected $WINE10_VERSION"
for f in usr/lib/wine/wine64 usr/lib/x86_64-linux-gnu/wine/i386-windows/kernel32.dll \
         usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll; do
    [ -e "$new/$f" ] || die "the chroot lacks /$f"
done
rm -f "$new.log"
echo "wine $WINE10_VERSION" >"$new/.quorvel-ready"
rm -rf "$QV_WOW64_ROOT"
mv "$new" "$QV_WOW64_ROOT"
echo "32-bit test environment ready: $((SECONDS - start)) s, $(du -sh "$QV_WOW64_ROOT" | cut -f1)"
}

# The emulated route: prints why it failed and returns 1 when it did.
make_emu_root() {
    local new=$QV_EMU_ROOT.new qemu_dir=$QV_STATE/qemu deb qemu_version
    echo "Setting up the emulated 32-bit route (wine32 under qemu-i386) in $QV_EMU_ROOT"
    start=$SECONDS
    rm -rf "$new" "$qemu_dir.new"
    cp -a "$QV_WOW64_ROOT" "$new" || return 1
    rm -f "$new/.quorvel-ready"
    # qemu first: wine32's packages may run 32-bit programs as they install.
    unshare --mount --propagation private chroot "$new" /usr/bin/env -i \
        PATH=/usr/sbin:/usr/bin:/sbin:/bin sh -ec "mount -t proc proc /proc; cd /tmp; \
        apt-get update -qq; apt-get download -qq qemu-user" >"$new.log" 2>&1 ||
        { tail -5 "$new.log"; echo "downloading qemu-user failed"; return 1; }
    deb=$(echo "$new"/tmp/qemu-user_*.deb)
    qemu_version=$(dpkg-deb -f "$deb" Version) || return 1
    # shellcheck disable=SC2053
    [[ $qemu_version == $QEMU_VERSION_PATTERN ]] ||
        { echo "trixie's qemu-user is $qemu_version, expected $QEMU_VERSION_PATTERN"; return 1; }
    mkdir -p "$qemu_dir.new"
    dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/qemu-i386 >"$qemu_dir.new/qemu-i386" ||
        { echo "no usr/bin/qemu-i386 in $deb"; return 1; }
    rm -f "$deb"
    chmod 755 "$qemu_dir.new/qemu-i386"
    # This name makes qemu take the extra argument that binfmt_misc's P flag passes.
    ln -s qemu-i386 "$qemu_dir.new/qemu-i386-binfmt-P"
    "$qemu_dir.new/qemu-i386" --version | head -1
    rm -rf "$qemu_dir"
    mv "$qemu_dir.new" "$qemu_dir"
    qv_emu_acquire || { echo "$QV_EMU_WHY"; return 1; }
    unshare --mount --propagation private chroot "$new" /usr/bin/env -i \
        PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive sh -ec \
        "mount -t proc proc /proc; apt-get install -y -qq --no-install-recommends \
        wine32:i386=$WINE10_VERSION libwine:i386=$WINE10_VERSION; apt-get clean" >>"$new.log" 2>&1
    local status=$?
    qv_emu_release
    [ $status -eq 0 ] || { tail -20 "$new.log"; echo "installing wine32:i386 failed (log: $new.log)"; return 1; }
    # Without the 32-bit DLLs beside the 64-bit ones, wine64 has no WoW64
    # mode of its own: every 32-bit process goes to the 32-bit loader.
    rm -rf "$new/usr/lib/x86_64-linux-gnu/wine/i386-windows"
    local got
    got=$(chroot "$new" dpkg-query -W -f='${Version}' wine32:i386 2>/dev/null || true)
    [ "$got" = "$WINE10_VERSION" ] || { echo "the copy has wine32 $got, expected $WINE10_VERSION"; return 1; }
    [ -e "$new/usr/lib/wine/wine" ] || { echo "the copy lacks /usr/lib/wine/wine"; return 1; }
    rm -f "$new.log"
    echo "wine $WINE10_VERSION, qemu $qemu_version" >"$new/.quorvel-ready"
    rm -rf "$QV_EMU_ROOT"
    mv "$new" "$QV_EMU_ROOT"
    echo "emulated 32-bit route ready: $((SECONDS - start)) s, $(du -sh "$QV_EMU_ROOT" | cut -f1)"
}

# The chroot is ready when its stamp names the expected Wine.
[ "$(cat "$STAMP" 2>/dev/null)" = "wine $WINE10_VERSION" ] || make_wow64_root

source "$(dirname "$0")/ia32.sh"
qv_emu_clean
qv_ia32_probe -q
if [ "$QV_IA32" = none ] && [ -z "${QV_NO_EMULATION:-}" ] &&
    [[ "$(cat "$QV_EMU_ROOT/.quorvel-ready" 2>/dev/null)" != "wine $WINE10_VERSION, qemu "* ]]; then
    make_emu_root ||
        echo "install-deps: no emulated 32-bit route (above); the 32-bit runners will be skipped" >&2
fi
exit 0
