#!/usr/bin/env bash
# Regenerates font.bmp, logo.bmp and velimora.mp3 beside this script, and the program's
# icon in icons/.
# Needs these Debian packages (installed here if missing):
#   g++ pkg-config libsdl1.2-dev libsdl-ttf2.0-dev fonts-dejavu-core sox lame
#   librsvg2-bin icoutils
# Reproducible: running it twice gives byte-identical files (sox runs with -R
# so its dither and noise are seeded; lame uses fixed options and no tags).
set -euo pipefail
export LC_ALL=C  # decimal points for sox, plain sort order for globs

here=$(cd "$(dirname "$0")" && pwd)
ttf=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

. "$here/../scripts/setup.sh"
ensure_packages g++ pkg-config libsdl1.2-dev libsdl-ttf2.0-dev fonts-dejavu-core sox lame \
    librsvg2-bin icoutils

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# --- font sheet and logo -----------------------------------------------------
# shellcheck disable=SC2046  # pkg-config output must split into words
g++ -std=c++17 -O2 "$here/assetgen.cpp" -o "$tmp/assetgen" $(pkg-config --cflags --libs sdl SDL_ttf)
"$tmp/assetgen" "$ttf" "$here"

# --- icon --------------------------------------------------------------------
# A snowflake in the font's icy ramp with its navy shadow, on the night sky, with a few
# flakes in the intro's three snow greys. The SVG is the source; the desktop sizes and
# the Windows .ico (its 256 px image stored as PNG) are rendered from it.
mkdir -p "$here/icons"
cat >"$here/icons/snowintro.svg" <<'SVG'
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" width="256" height="256" viewBox="0 0 256 256">
  <title>Snowfall</title>
  <defs>
    <linearGradient id="night" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#000000"/>
      <stop offset="1" stop-color="#0a1c4a"/>
    </linearGradient>
    <linearGradient id="ice" gradientUnits="userSpaceOnUse" x1="0" y1="36" x2="0" y2="220">
      <stop offset="0" stop-color="#ecfaff"/>
      <stop offset="0.45" stop-color="#80d6ff"/>
      <stop offset="1" stop-color="#2054e0"/>
    </linearGradient>
    <g id="arm">
      <path d="M128 128V40M128 70l-22-22M128 70l22-22M128 100l-16-16M128 100l16-16"/>
    </g>
    <g id="flake">
      <use xlink:href="#arm"/>
      <use xlink:href="#arm" transform="rotate(60 128 128)"/>
      <use xlink:href="#arm" transform="rotate(120 128 128)"/>
      <use xlink:href="#arm" transform="rotate(180 128 128)"/>
      <use xlink:href="#arm" transform="rotate(240 128 128)"/>
      <use xlink:href="#arm" transform="rotate(300 128 128)"/>
    </g>
  </defs>
  <rect x="8" y="8" width="240" height="240" rx="40" fill="url(#night)"/>
  <g fill="none" stroke-linecap="round" stroke-linejoin="round" stroke-width="16">
    <use xlink:href="#flake" stroke="#08163e" transform="translate(5 6)"/>
    <use xlink:href="#flake" stroke="url(#ice)"/>
  </g>
  <g>
    <rect x="40" y="52" width="6" height="6" fill="#fafafa"/>
    <rect x="204" y="76" width="6" height="6" fill="#cdcdcd"/>
    <rect x="60" y="196" width="6" height="6" fill="#9b9b9b"/>
    <rect x="196" y="204" width="6" height="6" fill="#fafafa"/>
    <rect x="30" y="132" width="6" height="6" fill="#cdcdcd"/>
  </g>
</svg>
SVG
for size in 16 32 48 64 128 256; do
    rsvg-convert -w $size -h $size "$here/icons/snowintro.svg" -o "$here/icons/snowintro-$size.png"
done
icotool -c -o "$here/icons/snowintro.ico" "$here"/icons/snowintro-{16,32,48}.png \
    -r "$here/icons/snowintro-256.png"

# --- music -------------------------------------------------------------------
# 16 bars of 8 steps, a step being an eighth note of 0.25 s (120 bpm): 32 s in
# A minor. Each track is its notes rendered one by one and concatenated; the
# tracks are then panned, mixed and given some reverb. The last bar decays to
# silence so the loop seam of the MP3 falls on a rest.
sr=44100 step_ms=250 n=0
sec() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }

# note TRACK STEPS "PITCHES" — pitches in semitones from A4 (sox's %N), "r" for
# a rest; several pitches make a chord. The track decides timbre and envelope.
note() {
    local track=$1 ms=$(($2 * step_ms)) pitches=$3 out tones=() p wave env
    out=$tmp/$track-$(printf %04d $n).wav
    n=$((n + 1))
    if [ "$pitches" = r ]; then
        sox -R -n -r $sr -c 1 "$out" trim 0 "$(sec $ms)"
        return
    fi
    case $track in
        pad)   wave='triangle %@'     env="fade q 0.15 $(sec $ms) $(sec $((ms / 3))) tremolo 5 15 vol 0.8" ;;
        bass)  wave='triangle %@'     env="fade h 0.005 $(sec $ms) $(sec $((ms * 3 / 4)))" ;;
        lead)  wave='square %@ 0 0 25' env="vol 0.5 highpass 60 lowpass 2800 fade t 0.01 $(sec $ms) $(sec $((ms / 2)))" ;;
        spark) wave='sine %@'         env="fade t 0.004 $(sec $ms) $(sec $((ms - 10))) vol 0.6" ;;
    esac
    for p in $pitches; do
        # shellcheck disable=SC2206  # the template splits into synth arguments
        tones+=(${wave//@/$p})
    done
    # One channel per pitch, mixed down to mono on output.
    # shellcheck disable=SC2086  # $env is a list of effect arguments
    sox -R -r $sr -c "$(wc -w <<<"$pitches")" -n -c 1 "$out" synth "$(sec $ms)" "${tones[@]}" $env
}

# Chords as (pad voicing | bass root), one per bar.
chords=(
    "-12 -9 -5|-24" "-12 -9 -4|-28" "-14 -9 -5|-21" "-14 -10 -7|-26"
    "-12 -9 -5|-24" "-12 -9 -4|-28" "-12 -7 -4|-31" "-13 -10 -5|-29"
    "-12 -9 -5|-24" "-12 -9 -4|-28" "-14 -9 -5|-21" "-14 -10 -7|-26"
    "-12 -9 -4|-28" "-14 -10 -7|-26" "-13 -10 -5|-29" "-12 -9 -5|-24"
)
# Melody, one bar per entry: pitch:steps pairs (A4=0, C5=3, E5=7, A5=12).
melody=(
    "0:2 3:2 7:3 5:1"    "3:2 8:2 7:2 3:2"    "7:2 10:2 7:2 3:1 5:1" "5:4 2:2 r:2"
    "12:3 10:1 7:2 3:2"  "8:3 7:1 3:2 0:2"    "5:2 8:2 12:2 8:2"     "2:2 7:2 11:4"
    "12:3 14:1 15:2 14:1 12:1" "12:2 8:2 3:2 8:2" "10:3 7:1 3:2 7:2" "5:3 10:1 2:2 5:2"
    "3:2 8:2 12:2 15:2"  "14:3 12:1 10:2 5:2" "7:2 11:2 14:2 11:2"   "12:6 r:2"
)
last=$((${#chords[@]} - 1))
for bar in "${!chords[@]}"; do
    pad=${chords[bar]%|*} root=${chords[bar]#*|}
    read -r c1 c2 c3 <<<"$pad"
    if ((bar < last)); then
        note pad 8 "$pad"
        # Bass: root, root, octave, root — a slow pulse under the pad.
        note bass 3 "$root"; note bass 1 "$root"; note bass 2 "$((root + 12))"; note bass 2 "$root"
        # Sparkles (the falling snow): chord tones two octaves up, from bar 5 on.
        for p in $c1 $c2 $c3 $((c1 + 12)) $c3 $c2 $((c1 + 12)) $((c2 + 12)); do
            if ((bar >= 4)); then note spark 1 "$((p + 24))"; else note spark 1 r; fi
        done
    else
        # Final bar: the tonic rings out and fades before the loop restarts.
        note pad 6 "$pad"; note pad 2 r
        note bass 6 "$root"; note bass 2 r
        note spark 3 "$((c1 + 24)) $((c2 + 24)) $((c3 + 24))"; note spark 5 r
    fi
    for ev in ${melody[bar]}; do
        note lead "${ev#*:}" "${ev%:*}"
    done
done

for t in pad bass lead spark; do
    sox -R "$tmp/$t"-*.wav "$tmp/$t.wav"
done
# Four mono tracks into stereo: bass centred, pad and lead a little off-centre,
# sparkles wider; reverb for the cold open air; down to 22050 Hz, the rate the
# intro mixes at, so playback needs no resampling.
sox -R -M "$tmp/pad.wav" "$tmp/bass.wav" "$tmp/lead.wav" "$tmp/spark.wav" \
    -r 22050 -b 16 "$tmp/mix.wav" \
    remix 1v0.30,2v0.45,3v0.30,4v0.12 1v0.24,2v0.45,3v0.22,4v0.22 \
    highpass 20 reverb 55 40 85 100 15 -3 \
    trim 0 32 fade t 0 32 0.3 norm -1.5 rate -v 22050
lame --quiet --noreplaygain -t --cbr -b 96 -q 2 -m j "$tmp/mix.wav" "$here/velimora.mp3"
echo "velimora.mp3: $(soxi -D "$tmp/mix.wav") s, $(soxi -r "$tmp/mix.wav") Hz, $(soxi -c "$tmp/mix.wav") channels"
