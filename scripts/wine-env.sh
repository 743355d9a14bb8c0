# Sourced by the scripts that run programs under Wine. Every Wine call runs
# in a prefix of this run's own below build/wine, never the user's default,
# with its own HOME, no debug output, and under a time limit.
QV_ROOT=${QV_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
QV_WINE_DIR=${QV_WINE_DIR:-$QV_ROOT/build/wine}
QV_WINE64=${QV_WINE64:-/usr/lib/wine/wine64}
QV_WINESERVER=${QV_WINESERVER:-/usr/lib/wine/wineserver64}
[ -x "$QV_WINESERVER" ] || QV_WINESERVER=$(command -v wineserver)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME=$QV_WINE_DIR/home
mkdir -p "$HOME"

# Makes the template prefix once per build folder: booted, with the fonts
# that Debian's Wine does not find by itself, and without window-manager
# decorations (each hidden window would otherwise cost about 2 s).
qv_wine_template() {
    local t=$QV_WINE_DIR/template
    [ -f "$t/.ready" ] && return 0
    rm -rf "$t"
    mkdir -p "$t"
    WINEPREFIX=$t timeout 180 "$QV_WINE64" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$t timeout 60 "$QV_WINESERVER" -w
    mkdir -p "$t/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/* "$t/drive_c/windows/Fonts/" 2>/dev/null || true
    WINEPREFIX=$t timeout 60 "$QV_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' \
        /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    WINEPREFIX=$t timeout 60 "$QV_WINESERVER" -w
    WINEPREFIX=$t timeout 30 "$QV_WINESERVER" -k 2>/dev/null || true
    touch "$t/.ready"
}

# Prints the path of a fresh copy of the template named $1.
qv_wine_prefix() {
    qv_wine_template || return 1
    local p=$QV_WINE_DIR/$1
    rm -rf "$p"
    cp -a "$QV_WINE_DIR/template" "$p"
    rm -f "$p/.ready"
    echo "$p"
}

# qv_wine_run PREFIX SECONDS PROGRAM [ARGS...]
qv_wine_run() {
    local prefix=$1 limit=$2
    shift 2
    WINEPREFIX=$prefix timeout "$limit" "$QV_WINE64" "$@"
}

# Ends every Wine process of the prefix.
qv_wine_stop() {
    WINEPREFIX=$1 timeout 30 "$QV_WINESERVER" -k 2>/dev/null || true
}

# qv_wine_gtest NAME EXE: runs a GoogleTest program in a fresh prefix named
# NAME, shows its output, and ends with "N passed, M failed" (a program
# that fails without naming a failed test counts as one failure).
qv_wine_gtest() {
    local name=$1 exe=$2 prefix log status passed failed
    if [ ! -f "$exe" ]; then
        echo "missing $exe"
        echo "0 passed, 1 failed"
        return 1
    fi
    prefix=$(qv_wine_prefix "$name") || { echo "0 passed, 1 failed"; return 1; }
    log=$prefix/$name.log
    qv_wine_run "$prefix" 300 "$exe" >"$log" 2>&1
    status=$?
    qv_wine_stop "$prefix"
    tr -d '\r' <"$log"
    passed=$(tr -d '\r' <"$log" | grep -c '^\[       OK \]')
    failed=$(tr -d '\r' <"$log" | grep -c '^\[  FAILED  \] .*(')
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
