#!/usr/bin/env bash
# Runs a command on a private X server with a window manager: Xvfb with two
# screens (1440x900 and 1280x800, no Xinerama, so Qt sees two screens) and
# openbox managing the first. DISPLAY and QT_QPA_PLATFORM=xcb are set for the
# command alone; the server and the window manager end with it.
#   xvfb-session.sh program [arguments...]
set -euo pipefail

dir=$(mktemp -d)
xvfb=""
wm=""
stop_desktop() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    wait 2>/dev/null || true
    wm=""
    xvfb=""
}
cleanup() {
    stop_desktop
    rm -rf "$dir"
}
trap cleanup EXIT

# Starts Xvfb and openbox; fails when either does not come up. Servers started
# side by side by parallel tests can race for a display, so the caller retries.
start_desktop() {
    rm -f "$dir/ready"
    # Xvfb picks a free display itself and writes its number once it accepts clients.
    mkfifo "$dir/ready"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1440x900x24 -screen 1 1280x800x24 \
        3>"$dir/ready" >"$dir/xvfb.log" 2>&1 &
    xvfb=$!
    if ! read -r -t 30 number <"$dir/ready"; then
        echo "xvfb-session: Xvfb did not start" >&2
        cat "$dir/xvfb.log" >&2
        return 1
    fi
    display=":$number"
    # The server answers its clients.
    local answered=""
    for _ in $(seq 1 100); do
        if DISPLAY="$display.0" xdpyinfo >/dev/null 2>&1; then
            answered=1
            break
        fi
        sleep 0.1
    done
    if [ -z "$answered" ]; then
        echo "xvfb-session: Xvfb on $display does not answer" >&2
        return 1
    fi

    DISPLAY="$display.0" openbox --sm-disable >"$dir/openbox.log" 2>&1 &
    wm=$!
    # The window manager is ready once it announces itself on the root window.
    for _ in $(seq 1 300); do
        if DISPLAY="$display.0" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
            return 0
        fi
        if ! kill -0 "$wm" 2>/dev/null; then
            echo "xvfb-session: openbox ended" >&2
            cat "$dir/openbox.log" >&2
            return 1
        fi
        sleep 0.1
    done
    echo "xvfb-session: openbox did not start" >&2
    return 1
}

started=""
for attempt in 1 2 3; do
    if start_desktop; then
        started=1
        break
    fi
    stop_desktop
done
if [ -z "$started" ]; then
    exit 1
fi

status=0
DISPLAY="$display.0" QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
