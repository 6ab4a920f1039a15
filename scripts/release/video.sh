#!/usr/bin/env bash
# release/video.sh [--seconds S] [--out FILE]: the intro on video,
# dist/snowintro-VERSION-capture.mp4. Builds the intro and its capture layer into
# build-video/, films the real program on a virtual clock (capture/capture.sh: 60 frames a
# second of the intro's own time, each source pixel a 3x3 square, 1920x1440) and encodes that
# with x264, with the tune as AAC from the first frame. The video lasts as long as the tune,
# which outlasts one pass of the message; --seconds S makes the first S seconds only (the
# tests' short one). Prints the file's size and where the time went.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/setup.sh

usage="usage: release/video.sh [--seconds S] [--out FILE]"
seconds="" out=""
while [ $# -gt 0 ]; do
    case $1 in
    --seconds) seconds=${2:?$usage} ;;
    --out) out=${2:?$usage} ;;
    *) echo "$usage" >&2; exit 1 ;;
    esac
    shift 2
done
[ -z "$seconds" ] || [[ $seconds =~ ^[0-9]+$ && $seconds -gt 0 ]] ||
    { echo "release/video.sh: --seconds takes a whole number of seconds above 0" >&2; exit 1; }

ensure_packages "${BUILD_PACKAGES[@]}" ffmpeg
build="build-video"
build_into "$build" -DBUILD_TESTING=OFF
out=${out:-dist/snowintro-$(project_version)-capture.mp4}
mkdir -p "$(dirname "$out")"
tune=assets/velimora.mp3
fps=60

# The whole video ends with the tune: its length in frames, rounded up.
tune_limit=()
if [ -z "$seconds" ]; then
    rate=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of csv=p=0 "$tune")
    samples=$(($(ffmpeg -v error -i "$tune" -ac 1 -f s16le - | wc -c) / 2))
    frames=$(((samples * fps + rate - 1) / rate))
else
    frames=$((seconds * fps))
    tune_limit=(-t "$seconds")
fi

# The picture. x264's superfast preset: the fastest that keeps CABAC and B-frames, which
# halve the file against ultrafast, and fast enough to keep up with the capture on two
# cores. No deblocking: it only softens the hard edges of the pixel squares (without it the
# file is smaller and closer to the source here). CRF 16 keeps single-pixel flakes and the
# glyphs' edges. A fixed thread count: x264 writes it into the stream, so another count gives
# other bytes. yuv420p in BT.709, as the capture converted it: what every player and video
# site takes.
picture=(-c:v libx264 -preset superfast -crf 16 -x264-params no-deblock=1 -threads 3
    -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv)
# The tune from the first frame: the program starts it just before drawing that frame, with
# no sleep between. Its samples come from the file, which SDL_mixer plays as it is, not from
# the audio device, which keeps real time while the picture runs on the virtual clock.
sound=(-c:a aac -b:a 192k -ar 48000 -ac 2)
# No dates or tool versions in the container, so the same tree gives the same bytes; the
# index first, so players can start before the whole file has arrived.
container=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1 -movflags +faststart)

log=$(mktemp -d)
trap 'rm -rf "$log" "$out.part"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
start=$EPOCHREALTIME
# times, in the encoder's subshell, gives its processor time; the subshell ends with the
# encoder's status, which can fail after the capture ended (the index's rewrite, a full disk).
if ! capture/capture.sh "$build" yuv420p-3x "$frames" 2>"$log/capture" |
    {
        status=0
        ffmpeg -v error -nostdin -y -f rawvideo -pixel_format yuv420p -video_size 1920x1440 \
            -framerate "$fps" -i - "${tune_limit[@]}" -i "$tune" -map 0:v -map 1:a \
            "${picture[@]}" "${sound[@]}" "${container[@]}" -f mp4 "$out.part" || status=$?
        times >"$log/encoder"
        exit $status
    }; then
    cat "$log/capture" >&2
    echo "release/video.sh: making $out failed" >&2
    exit 1
fi
if ! grep -q "^capture: $frames frames" "$log/capture"; then
    cat "$log/capture" >&2
    echo "release/video.sh: the intro ended before its $frames frames were filmed" >&2
    exit 1
fi
mv "$out.part" "$out"

wall=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
encoder=$(awk 'NR == 2 { split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.1f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }' "$log/encoder")
echo "$out: $(stat -c %s "$out") bytes, $frames frames ($(awk -v f="$frames" -v r="$fps" 'BEGIN { printf "%.2f", f / r }') s)"
echo "made in $wall s on $(nproc) cores, load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after"
sed -n 's/^capture: /  capture: /p' "$log/capture"
echo "  encoder (ffmpeg: x264 and AAC): $encoder s of processor time"
