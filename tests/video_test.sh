#!/usr/bin/env bash
# video_test.sh frames BUILD INTRO_FRAMES | file | preview: the release video's checks.
#   frames   a few seconds of the capture of BUILD's real intro are, pixel for pixel, what the
#            frame checker INTRO_FRAMES films at the same virtual times
#   file     the short release video, made twice, has the same bytes; its streams are H.264
#            1920x1440 at 60 frames/s and AAC stereo at 48 kHz, as long as asked; scaled back
#            down, each frame is within 40 dB PSNR of the raw capture; the tune starts with
#            the picture, as loud as it is
#   preview  capture/preview.sh makes docs/preview.webp again byte for byte, under 2 MB
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
FPS=60
FRAME_BYTES=$((640 * 480 * 2))

# Reports the first pixel where two raw RGB565 films differ, by frame, row and column.
compare_films() {
    local expected=$1 actual=$2 frames=$3 byte
    [ "$(stat -c %s "$expected")" = $((frames * FRAME_BYTES)) ] || fail "the frame checker wrote $(stat -c %s "$expected") bytes, not $frames frames"
    byte=$(cmp "$expected" "$actual" 2>&1 | sed -n 's/.*differ: byte \([0-9]*\).*/\1/p') || true
    if [ -n "$byte" ]; then
        byte=$((byte - 1))
        fail "frame $((byte / FRAME_BYTES)) differs first at row $((byte % FRAME_BYTES / 1280)), column $((byte % 1280 / 2))"
    fi
    cmp -s "$expected" "$actual" || fail "the capture wrote $(stat -c %s "$actual") bytes, not $frames frames"
}

frames_test() {
    local build=$1 checker frames=$((4 * FPS))
    checker=$(realpath "$2")
    "$top/capture/capture.sh" "$build" rgb565 $frames >"$tmp/capture.raw"
    (cd "$top/assets" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$checker" --video $frames >"$tmp/checker.raw")
    compare_films "$tmp/checker.raw" "$tmp/capture.raw" $frames
    # Built in a folder whose name has a space and a colon, the intro is filmed all the same.
    local odd="$tmp/a b:c"
    mkdir -p "$odd/capture"
    cp "$build/snowintro" "$odd/" && cp "$build/capture/libsnowcapture.so" "$odd/capture/"
    "$top/capture/capture.sh" "$odd" rgb565 $FPS >"$tmp/odd.raw"
    cmp -s "$tmp/odd.raw" <(head -c $((FPS * FRAME_BYTES)) "$tmp/capture.raw") ||
        fail "the capture of the intro built in '$odd' differs"
    local skip
    for skip in -1 x 2x; do
        ! "$top/capture/capture.sh" "$build" rgb565 1 $skip >/dev/null 2>&1 || fail "the capture took $skip frames to skip"
    done
    echo "PASS: $frames frames of the capture equal the frame checker's, from any folder"
}

# key=value lines of ffprobe's for one stream of a file, on one line.
probe() { ffprobe -v error -select_streams "$2" -show_entries "$3" -of default=nw=1 "$1" | tr '\n' ' '; }
# When the sound first rises above -60 dB, in seconds; its mean volume, in dB.
onset() {
    ffmpeg -nostdin -nostats -i "$@" -af silencedetect=n=-60dB:d=0.001 -f null - 2>&1 |
        awk '/silence_start: 0$/ { s = 1 } s && sub(/.*silence_end: /, "") { print $1 + 0; exit } END { if (!s) print 0 }'
}
# Whether two times in seconds are within a frame of each other.
within_a_frame() { awk -v a="$1" -v b="$2" -v f=$FPS 'BEGIN { exit !((a - b) ^ 2 < 1 / f ^ 2) }'; }
mean_volume() { ffmpeg -nostdin -i "$@" -af volumedetect -f null - 2>&1 | sed -n 's/.*mean_volume: \(.*\) dB/\1/p'; }

file_test() {
    local seconds=3 frames=$((3 * FPS)) video=$tmp/a.mp4 build=$top/build-video
    "$top/scripts/release/video.sh" --seconds $seconds --out "$video" >/dev/null
    "$top/scripts/release/video.sh" --seconds $seconds --out "$tmp/b.mp4" >/dev/null
    cmp -s "$video" "$tmp/b.mp4" || fail "two runs of release/video.sh gave different bytes"

    local v a
    v=$(probe "$video" v "stream=codec_name,width,height,pix_fmt,color_space,r_frame_rate,nb_frames,start_time")
    [ "$v" = "codec_name=h264 width=1920 height=1440 pix_fmt=yuv420p color_space=bt709 r_frame_rate=60/1 start_time=0.000000 nb_frames=$frames " ] ||
        fail "picture stream: $v"
    a=$(probe "$video" a "stream=codec_name,sample_rate,channels,start_time")
    [ "$a" = "codec_name=aac sample_rate=48000 channels=2 start_time=0.000000 " ] || fail "sound stream: $a"
    local duration
    duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$video")
    awk -v d="$duration" -v s=$seconds -v f=$FPS 'BEGIN { exit !(d >= s && d < s + 1 / f) }' ||
        fail "the video lasts $duration s, not $seconds"

    # The tune's first sound comes when it does in the tune itself, give or take a frame.
    local tune=$top/assets/velimora.mp3 heard expected
    heard=$(onset "$video") expected=$(onset "$tune" -t $seconds)
    within_a_frame "$heard" "$expected" || fail "the sound starts at $heard s, the tune's at $expected s"
    ffmpeg -v error -nostdin -i "$tune" -t $seconds -af adelay=700:all=1 "$tmp/late.wav"
    heard=$(onset "$tmp/late.wav")
    ! within_a_frame "$heard" "$expected" || fail "the tune delayed by 0.7 s starts at $heard s, as the tune itself"
    heard=$(mean_volume "$video") expected=$(mean_volume "$tune" -t $seconds)
    awk -v a="$heard" -v b="$expected" 'BEGIN { exit !((a - b) ^ 2 < 1 && b > -60) }' ||
        fail "the sound's mean volume is $heard dB, the tune's $expected dB"

    # Each frame scaled down by 3 (each 3x3 square averaged) against the raw capture.
    "$top/capture/capture.sh" "$build" rgb565 $frames 2>/dev/null |
        ffmpeg -v error -nostdin -i "$video" -f rawvideo -pixel_format rgb565le -video_size 640x480 \
            -framerate $FPS -i - -lavfi "[0:v]scale=640:480:flags=area,format=rgb24[v];[1:v]format=rgb24[raw];[v][raw]psnr=stats_file=$tmp/psnr" \
            -f null -
    local count at worst
    read -r count at worst < <(awk '{ for (i = 1; i <= NF; i++) if (sub("^psnr_avg:", "", $i)) v = $i == "inf" ? 1000 : $i }
        NR == 1 || v < w { w = v; at = NR - 1 } END { print NR, at, w }' "$tmp/psnr")
    [ "$count" = $frames ] || fail "$count frames compared, not $frames"
    awk -v w="$worst" 'BEGIN { exit !(w >= 40) }' || fail "frame $at is at $worst dB PSNR against the capture, under 40"

    # An encoder that fails once the capture has ended, leaving a file behind, fails the release.
    mkdir "$tmp/failing"
    printf '#!/bin/sh\nfor a; do out=$a; done\ncat >/dev/null\necho broken >"$out"\nexit 1\n' >"$tmp/failing/ffmpeg"
    chmod +x "$tmp/failing/ffmpeg"
    ! PATH="$tmp/failing:$PATH" "$top/scripts/release/video.sh" --seconds 1 --out "$tmp/c.mp4" >/dev/null 2>&1 &&
        [ ! -e "$tmp/c.mp4" ] || fail "release/video.sh took a failed encoding for a video"
    echo "PASS: the short video is reproducible, H.264 and AAC as asked, within 40 dB of the capture, with its tune from the start"
}

# An animation's frames as shown, and how long each is, as checksums; fails when ImageMagick
# cannot decode it.
film() {
    local pixels times
    pixels=$(convert "$1" -coalesce rgb:- | sha256sum) && times=$(identify -format '%T,' "$1") || return 1
    echo "$pixels $(sha256sum <<<"$times")"
}

preview_test() {
    local committed=$top/docs/preview.webp
    "$top/capture/preview.sh" "$tmp/preview.webp" >/dev/null
    # Another Debian release's WebP encoder writes other bytes for the same film.
    if ! cmp -s "$tmp/preview.webp" "$committed"; then
        local made was
        made=$(film "$tmp/preview.webp") && was=$(film "$committed") || fail "ImageMagick cannot decode the previews"
        [ "$made" = "$was" ] || fail "docs/preview.webp is not what capture/preview.sh makes now: run it and commit the result"
    fi
    head -c 300 "$committed" >"$tmp/cut.webp"
    ! film "$tmp/cut.webp" >/dev/null 2>&1 || fail "a preview cut short has a film's checksum"
    [ "$(stat -c %s "$committed")" -lt 2000000 ] || fail "docs/preview.webp is 2 MB or more"
    echo "PASS: capture/preview.sh makes docs/preview.webp again, $(stat -c %s "$committed") bytes"
}

case "${1:-}:$#" in
frames:3) frames_test "$2" "$3" ;;
file:1) file_test ;;
preview:1) preview_test ;;
*) echo "usage: video_test.sh frames BUILD INTRO_FRAMES | file | preview" >&2; exit 1 ;;
esac
