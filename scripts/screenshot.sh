#!/usr/bin/env bash
# screenshot.sh OUT.png [SECONDS]: runs the built intro on a private Xvfb for SECONDS
# (default 5), saves what the screen shows as OUT.png, then ends the intro with a key press.
# Needs xvfb, xdotool and imagemagick; the build must exist (build/snowintro).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1")
secs=${2:-5}

fb=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null; rm -rf "$fb"' EXIT

# A private display at the intro's own mode; Xvfb keeps its screen as an XWD file in $fb.
exec 3<> "$fb/displayfd"
Xvfb -displayfd 3 -screen 0 640x480x16 -nolisten tcp -nocursor -fbdir "$fb" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$fb/displayfd" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$fb/displayfd")"

# No sound card is needed to look at it.
cd "$top/assets"
SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} "$top/build/snowintro" &
intro=$!
sleep "$secs"
convert "xwd:$fb/Xvfb_screen0" "png:$out"
xdotool key space
wait "$intro"
echo "$out"
