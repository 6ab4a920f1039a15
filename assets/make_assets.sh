#!/usr/bin/env bash
# Regenerates font.bmp, logo.bmp and velimora.mp3 beside this script, and the program's
# icon in icons/.
# Needs these Debian packages (installed here if missing):
#   g++ pkg-config libsdl1.2-dev libsdl-ttf2.0-dev fonts-dejavu-core
#   fluidsynth fluid-soundfont-gm sox ffmpeg lame librsvg2-bin icoutils
# Reproducible: running it twice gives byte-identical files (fluidsynth renders
# with fixed settings to float samples, so nothing is dithered at random; sox
# runs with -R so its dither is seeded; lame uses fixed options and no tags).
set -euo pipefail
export LC_ALL=C  # decimal points for sox, plain sort order for globs

here=$(cd "$(dirname "$0")" && pwd)
ttf=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

. "$here/../scripts/setup.sh"
ensure_packages g++ pkg-config libsdl1.2-dev libsdl-ttf2.0-dev fonts-dejavu-core \
    fluidsynth fluid-soundfont-gm sox ffmpeg lame librsvg2-bin icoutils

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
# score.cpp writes the score as MIDI and prints its length; fluidsynth renders it
# with a General MIDI soundfont; sox cuts it to the score's length (the reverb
# tail has died away in the last bar's rest), fades that rest to digital silence
# so the loop seam is clean, and resamples to 22050 Hz, the rate the intro mixes
# at; ffmpeg's loudnorm measures the loudness and then applies one fixed gain
# (linear mode) to reach the target; lame encodes. The encoded tune measures about
# 0.4 LU quieter than its source, hence the aim of -15.6 for -16 in the MP3.
sf2=/usr/share/sounds/sf2/FluidR3_GM.sf2
loudness='I=-15.6:TP=-1.2:LRA=11'
[ -r "$sf2" ] || { echo "make_assets.sh: no soundfont at $sf2" >&2; exit 1; }
g++ -std=c++17 -O2 "$here/score.cpp" -o "$tmp/score"
len=$("$tmp/score" "$tmp/tune.mid")
# -f /dev/null: no user or system fluidsynth configuration can change the render.
fluidsynth -n -i -q -f /dev/null -g 0.5 -r 44100 -o synth.cpu-cores=1 -o player.timing-source=sample \
    -O float -T wav -F "$tmp/render.wav" "$sf2" "$tmp/tune.mid" >/dev/null
sox -R -V1 "$tmp/render.wav" -e floating-point -b 32 "$tmp/cut.wav" \
    trim 0 "$len" fade t 0 "$len" 1.5 rate -v 22050
# Pass one's JSON report becomes pass two's measured_* options.
pass1=$(ffmpeg -hide_banner -nostats -i "$tmp/cut.wav" -af "loudnorm=$loudness:print_format=json" -f null - 2>&1) ||
    { echo "make_assets.sh: ffmpeg could not measure the tune's loudness" >&2; exit 1; }
measured=$(awk -F'"' '/"input_(i|tp|lra|thresh)"/ { n = substr($2, 7); if (n != "thresh") n = toupper(n)
                                                   printf "%smeasured_%s=%s", sep, n, $4; sep = ":" }' <<<"$pass1")
[ -n "$measured" ] || { echo "make_assets.sh: ffmpeg's loudnorm gave no measurement" >&2; exit 1; }
ffmpeg -hide_banner -nostats -loglevel error -y -i "$tmp/cut.wav" \
    -af "loudnorm=$loudness:$measured:linear=true,aresample=22050" -c:a pcm_s16le -bitexact "$tmp/mix.wav"
env -u LAMEOPT lame --quiet --noreplaygain -t --cbr -b 96 -q 2 -m j "$tmp/mix.wav" "$here/velimora.mp3"

# What the MP3 decodes to: length, loudness, true peak, and the silence before the
# loop seam (silencedetect reports a silence still running at the end on its own).
report=$(ffmpeg -hide_banner -nostats -i "$here/velimora.mp3" \
    -af ebur128=peak=true:framelog=verbose,silencedetect=n=-60dB:d=0.1 -f null - 2>&1) ||
    { echo "make_assets.sh: ffmpeg could not measure velimora.mp3" >&2; exit 1; }
figure() { sed -n "s/^ *$1 *\(-\?[0-9.]*\).*/\1/p" <<<"$report" | tail -n 1; }
echo "velimora.mp3: $(printf %.2f "$(soxi -D "$tmp/mix.wav")") s, $(soxi -r "$tmp/mix.wav") Hz, $(soxi -c "$tmp/mix.wav") channels;" \
     "$(figure I:) LUFS integrated (aim -16), true peak $(figure Peak:) dBTP (aim under -1);" \
     "seam: $(sed -n 's/.*silence_duration: \([0-9.]*\)$/\1/p' <<<"$report" | tail -n 1) s below -60 dBFS before the end"
