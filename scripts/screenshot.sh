#!/usr/bin/env bash
# screenshot.sh [--screen WxHxD] [--wm COMMAND] [--bin PROGRAM] [--cwd DIR] [--later LATER.png]
#               OUT.png [SECONDS]:
# runs the intro (default build/snowintro, started in DIR, default assets/) on a private Xvfb
# (default 640x480x16, the intro's own mode) for SECONDS (default 5), under the window
# manager COMMAND if one is given, saves what the screen shows as OUT.png (and, with
# --later, as LATER.png a second after), then ends the intro with a key press.
# Needs xvfb, xdotool and imagemagick (and, with a window manager, it and x11-utils); the
# program must be built.
# The SDL runtime is the one LD_LIBRARY_PATH selects, as for the intro itself.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
geometry=640x480x16
wm=""
bin=$top/build/snowintro
cwd=$top/assets
later=""
usage="usage: screenshot.sh [--screen WxHxD] [--wm COMMAND] [--bin PROGRAM] [--cwd DIR] [--later LATER.png] OUT.png [SECONDS]"
while [ $# -gt 0 ]; do
    case $1 in
    --screen) geometry=${2:?$usage} ;;
    --wm) wm=${2:?$usage} ;;
    --bin) bin=$(realpath "${2:?$usage}") ;;
    --cwd) cwd=${2:?$usage} ;;
    --later) later=$(realpath -m "${2:?$usage}") ;;
    -*) echo "$usage" >&2; exit 1 ;;
    *) break ;;
    esac
    shift 2
done
[ $# -ge 1 ] || { echo "$usage" >&2; exit 1; }
out=$(realpath -m "$1")
secs=${2:-5}
[ -x "$bin" ] || { echo "screenshot.sh: $bin is not built" >&2; exit 1; }

fb=$(mktemp -d)
xvfb="" wm_pid="" probe_pid="" intro=""
probe=screenshot-wm-probe
trap 'for p in $intro $probe_pid $wm_pid $xvfb; do kill "$p" 2>/dev/null || true; done; rm -rf "$fb"' EXIT

# A private display; Xvfb keeps its screen as an XWD file in $fb. With no window manager,
# each probe below is the server's only client, and a server that resets when its last client
# leaves drops a client that connects meanwhile: the next probe, the window manager or the
# intro itself ("Couldn't open X11 display"). Hence -noreset.
exec 3<> "$fb/displayfd"
Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp -nocursor -noreset -fbdir "$fb" >"$fb/xvfb.log" 2>&1 &
xvfb=$!
# Its first start on a new machine can take seconds (fonts, keymap).
for _ in $(seq 300); do [ -s "$fb/displayfd" ] && break; sleep 0.1; done
[ -s "$fb/displayfd" ] || { echo "screenshot.sh: Xvfb did not start within 30 s" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$fb/displayfd")"

# The last three lines a process printed to FILE, on one line.
last_words() { tail -n 3 "$1" | paste -sd ' '; }

# Whether the X server is gone, and its last words if so: a display that cannot be opened can
# be a server that died after it said it was ready.
xvfb_state() {
    kill -0 "$xvfb" 2>/dev/null && return
    local words
    words=$(last_words "$fb/xvfb.log")
    printf ' (Xvfb has exited%s)' "${words:+: $words}"
}

if [ -n "$wm" ]; then
    $wm >"$fb/wm.log" 2>&1 &
    wm_pid=$!
    # Until it has taken the root window's redirect, a window would map unmanaged; a busy
    # machine can take many seconds to start it.
    for _ in $(seq 600); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        kill -0 "$wm_pid" 2>/dev/null || break
        sleep 0.1
    done
    # Taking the redirect is not yet handling it: openbox, starting for the first time on a
    # busy machine, has left a window unmapped and its client waiting for ever. So it has
    # started once it maps a probe window; a probe not mapped in 5 s goes, and another comes.
    ready=""
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        for _ in $(seq 12); do
            xev -name "$probe" >/dev/null 2>&1 &
            probe_pid=$!
            for _ in $(seq 25); do
                xdotool search --onlyvisible --name "^$probe\$" >/dev/null 2>&1 && ready=1 && break
                sleep 0.2
            done
            kill "$probe_pid" 2>/dev/null || true
            wait "$probe_pid" 2>/dev/null || true
            [ -n "$ready" ] && break
            kill -0 "$wm_pid" 2>/dev/null || break
        done
    fi
    if [ -z "$ready" ]; then
        if kill -0 "$wm_pid" 2>/dev/null; then
            echo "screenshot.sh: the window manager '$wm' did not start and map a window within 2 min" >&2
        else
            echo "screenshot.sh: the window manager '$wm' exited before it started:" \
                "$(last_words "$fb/wm.log")$(xvfb_state)" >&2
        fi
        exit 1
    fi
fi

caption='SDL MultiMedia Application'
# No sound card is needed to look at it.
cd "$cwd"
SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} "$bin" >"$fb/intro.log" 2>&1 &
intro=$!
# SECONDS count from its window's showing, which a loaded machine can delay by many seconds.
window=""
for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | head -n 1) || true
    [ -z "$window" ] && kill -0 "$intro" 2>/dev/null || break
    sleep 0.2
done
if [ -z "$window" ]; then
    if kill -0 "$intro" 2>/dev/null; then
        echo "screenshot.sh: the intro's window did not show within 60 s ($(xdotool search --name "$caption" |
            wc -l) such windows, none visible)" >&2
    else
        echo "screenshot.sh: the intro ended before its window showed: $(cat "$fb/intro.log")$(xvfb_state)" >&2
    fi
    exit 1
fi
sleep "$secs"
if ! kill -0 "$intro" 2>/dev/null; then
    echo "screenshot.sh: the intro ended before the screenshot: $(cat "$fb/intro.log")" >&2
    exit 1
fi
convert "xwd:$fb/Xvfb_screen0" "png:$out"
if [ -n "$later" ]; then
    sleep 1
    convert "xwd:$fb/Xvfb_screen0" "png:$later"
fi
# The key goes to the focused window: make that the intro's, whatever a window manager did,
# and wait until the server says it is, or on a busy machine the key can land before.
timeout 30 xdotool windowfocus --sync "$window" >/dev/null 2>&1 ||
    { echo "screenshot.sh: the intro's window did not take the focus within 30 s" >&2; exit 1; }
xdotool key space
for _ in $(seq 300); do kill -0 "$intro" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$intro" 2>/dev/null; then
    echo "screenshot.sh: the intro did not end within 30 s of a key press" >&2
    exit 1
fi
wait "$intro" # its status is the script's
intro=""
echo "$out"
