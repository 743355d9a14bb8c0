# Sourced: makes sure a display exists. Without one, starts a private Xvfb
# for this shell and stops it when the shell exits. A number is free when
# no lock file names it here and no X server listens on its abstract
# socket: servers started inside a chroot leave no lock file here, but
# their abstract sockets are shared with this machine.
qv_ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    if [ -n "${DISPLAY:-}" ] && ! command -v xdpyinfo >/dev/null && [ -z "${QV_FORCE_XVFB:-}" ]; then
        return 0
    fi
    local n
    for n in $(seq 91 160); do
        [ -e "/tmp/.X$n-lock" ] && continue
        grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        QV_XVFB_PID=$!
        # The display is ours only once its lock names our server and it
        # listens: two runners side by side may pick the same free number,
        # and the loser's server can outlive a fixed wait, so that runner
        # would draw on the winner's display until the winner stops it.
        local tick
        for tick in $(seq 20); do
            kill -0 "$QV_XVFB_PID" 2>/dev/null || break
            if [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$n-lock")" = "$QV_XVFB_PID" ] &&
                grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix; then
                export DISPLAY=":$n"
                trap 'kill $QV_XVFB_PID 2>/dev/null' EXIT
                return 0
            fi
            sleep 0.25
        done
        kill "$QV_XVFB_PID" 2>/dev/null
    done
    echo "could not start Xvfb" >&2
    return 1
}
