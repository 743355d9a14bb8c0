# Sourced by the end-to-end runners: what the setup driver and the removal
# driver both get from their runner.

# qv_e2e_manifest PAYLOAD OUT: the archive's entries in the order the build
# packs them (the staged payload), one "name<TAB>size" a line, for a driver.
qv_e2e_manifest() {
    (cd "$1" && for f in $(ls | LC_ALL=C sort); do
        printf '%s\t%s\r\n' "$f" "$(stat -c %s "$f")"
    done) >"$2"
}

# qv_e2e_shots DIR: turns the drivers' BMP screenshots into PNGs and lists them.
qv_e2e_shots() {
    local bmp
    for bmp in "$1"/*.bmp; do
        [ -f "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    ls "$1"/*.png 2>/dev/null | sed 's/^/screenshot: /'
}

# qv_e2e_plant DIR NAME...: plants tests/e2e/planted.cpp in DIR under each
# NAME, the library for a NAME.dll, the program for a NAME.exe. Whatever of
# it runs records that in C:\windows\planted.log, which the drivers check.
# (Wine takes its own copy of a system library before a file of that name
# that the search finds first, where Windows does so only for its known
# libraries: a runner gives each planted library Windows' order with the
# override NAME=n,b.)
qv_e2e_plant() {
    local dir=$1 name
    shift
    mkdir -p "$dir" || return 1
    for name; do cp "$QV_TESTS/tests/e2e/planted.${name##*.}" "$dir/$name" || return 1; done
}
