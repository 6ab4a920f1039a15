#!/usr/bin/env bash
# real_display.sh: every figure of README's Performance section that comes from the real
# intro, on SDL's dummy driver and on a real X server (a private Xvfb), on both SDL 1.2
# runtimes: first frame, peak memory, frame rate and processor time; what a 1024x768
# desktop shows with and without a window manager (screenshots in build-bench/display/);
# the exit status for unusable audio drivers; and how long the scroller's message takes to
# pass. Installs what is missing.
#
# Usage: scripts/measure/real_display.sh [--full-pass] [runs per runtime, default 7]
#   --full-pass  also time one real pass of the message on each runtime (about 5 minutes)
# Without it the run takes about 7 minutes on a 2-core machine. Prints figures; fails
# only when something cannot be measured.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

FULL_PASS=0
if [ "${1:-}" = --full-pass ]; then
    FULL_PASS=1
    shift
fi
RUNS=${1:-7}
BUILD=build-bench
SHOTS=$BUILD/display
DESKTOP=1024x768x24
SHOT_SECONDS=20 # long enough for the snow to fill the picture
WM=matchbox-window-manager
COMPAT_DIR=/usr/lib/x86_64-linux-gnu/sdl12-compat

ensure_packages "${BUILD_PACKAGES[@]}" libbenchmark-dev libsdl1.2-compat xvfb xdotool x11-utils \
    imagemagick "$WM"

echo "=== first frame, peak memory, frame rate and processor time; SDL's dummy video driver"
scripts/measure/startup_memory.sh "$RUNS"
echo
echo "=== the same on a real X server"
scripts/measure/startup_memory.sh --xvfb "$RUNS"

# Bounding box of the pixels of FILE, within its rows FROM..FROM+ROWS-1, that are clearly
# coloured (HSL saturation over 30%), in screen coordinates: the logo's blues above, the
# text's below; snow is grey and the screen black. "none" when there are none.
coloured_box() {
    local file=$1 from=$2 rows=$3 w box
    w=$(identify -format '%w' "$file")
    box=$(convert "$file" -crop "${w}x$rows+0+$from" +repage -colorspace HSL -channel G -separate +channel \
        -threshold 30% -format '%@' info: 2>/dev/null)
    if [[ $box != 0x0* && $box =~ ^([0-9]+x[0-9]+\+[0-9]+)\+([0-9]+)$ ]]; then
        echo "${BASH_REMATCH[1]}+$((BASH_REMATCH[2] + from))"
    else
        echo none
    fi
}

# How many pixels of the 260x72 area where the centred picture's logo would be differ from
# logo.bmp, beyond the rounding between 16-bit and 24-bit colour (3%): 0 when the picture
# is shown pixel for pixel.
logo_misses() {
    local file=$1 x=$(((width - 640) / 2 + 190)) y=$(((height - 480) / 2 + 50))
    convert "$file" -crop "260x72+$x+$y" +repage "$LOG/crop.png"
    echo "$(compare -metric AE -fuzz 3% "$LOG/crop.png" "$LOG/logo.png" null: 2>&1) of 18720 pixels at ($x, $y)"
}

echo
echo "=== a $DESKTOP desktop, after $SHOT_SECONDS s (the logo is 260x72 at (190, 50), the text from row 360)"
mkdir -p "$SHOTS"
width=${DESKTOP%%x*}
height=${DESKTOP#*x}
height=${height%x*}
half=$((height / 2))
LOG=$(mktemp -d)
trap 'rm -rf "$LOG"' EXIT
convert assets/logo.bmp -depth 8 "$LOG/logo.png"
for wm in "" "$WM"; do
    for runtime in classic sdl12-compat; do
        libdir=""
        [ $runtime = classic ] || libdir=$COMPAT_DIR
        shot=$SHOTS/$runtime-${wm:-no-wm}.png
        LD_LIBRARY_PATH=$libdir scripts/screenshot.sh --screen "$DESKTOP" ${wm:+--wm "$wm"} \
            --bin "$BUILD/snowintro" "$shot" "$SHOT_SECONDS" >/dev/null
        echo "$runtime, ${wm:-no window manager}: $shot"
        echo "    lit area $(convert "$shot" -format '%@' info:), $(convert "$shot" -format '%k' info:) colours"
        echo "    logo $(coloured_box "$shot" 0 "$half"); text $(coloured_box "$shot" "$half" "$half")"
        echo "    differing from logo.bmp: $(logo_misses "$shot")"
    done
done

echo
echo "=== unusable audio drivers (dummy video): exit status and message"
# Each is made unusable whatever the machine has: no such driver, a sound server that is
# not there, a device that does not exist.
cases=("SDL_AUDIODRIVER=nosuchdriver" "SDL_AUDIODRIVER=pulse PULSE_SERVER=unix:/nonexistent"
       "SDL_AUDIODRIVER=dsp AUDIODEV=/nonexistent" "SDL_AUDIODRIVER=alsa AUDIODEV=nosuchdevice"
       "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/nonexistent/audio.raw")
out=$LOG/out.txt
for runtime in classic sdl12-compat; do
    libdir=""
    [ $runtime = classic ] || libdir=$COMPAT_DIR
    for c in "${cases[@]}"; do
        status=0
        # shellcheck disable=SC2086 # each case is a list of assignments
        (cd assets && env LD_LIBRARY_PATH="$libdir" SDL_VIDEODRIVER=dummy $c timeout 20 "../$BUILD/snowintro" \
            >"$out" 2>&1) || status=$?
        printf '%-12s %-62s status %d: %s\n' "$runtime" "$c" "$status" "$(grep -E "^(Couldn't|Unable)" "$out")"
    done
done

echo
echo "=== the scroller's message"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target frame_bench -j"$(nproc)" >/dev/null
message=$("$BUILD/bench/frame_bench" --message-pass 2>/dev/null | grep '^message')
echo "$message"
if [ $FULL_PASS = 1 ]; then
    # A step comes with the first frame 55 ms or more after the last one, so the real pass
    # is longer by about half a frame per step.
    steps=$(sed -n 's/.*gone after \([0-9]*\) steps.*/\1/p' <<<"$message")
    SNOW_WATCH_TEXT=1 scripts/measure/startup_memory.sh --xvfb 1 | awk -v steps="$steps" '
        /^[a-z0-9]/ { print } / frames\/s/ { print }
        /left the screen/ { print; s = $0; sub(/.*screen /, "", s); sub(/ s .*/, "", s)
                            printf "             that is %.1f ms per step\n", s * 1000 / steps }'
fi
