#!/usr/bin/env bash
# Sound benchmark: our cook encoder against FFmpeg's AC-3 and AAC encoders at each audience's
# sound rate, on four sounds made by cook-measure (a film's mix of dialogue, music and room
# tone with a door slam; speech; music; castanet-like clicks). For each it prints the bandwidth
# kept (the highest frequency where the decoded sound is within 20 dB of the source), the noise
# in the kept band (source over difference, dB) and, on the clicks, the pre-echo (power in the
# 20 ms before each click against the click, dB; lower is better). Then the share of a job's
# time the sound takes.
#
#   bench/cook-bench.sh [build-dir] [sound file ...]
#
# Sound files given after the build folder (any format FFmpeg reads: a film's soundtrack, speech,
# music) are measured too, their first 30 s at 48 kHz stereo; pre-echo is measured on the clicks
# only.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
shift || true
pp=$build/app/pp
measure=$build/bench/cook-measure
[[ -x $pp && -x $measure ]] || { echo "build pp and cook-measure first (scripts/build)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# audience file, sound kbit/s, channels, the sample rate AC-3 and AAC get (as the engine gave
# AC-3 before cook)
audiences=(
  "a03-narrow-150 32 1 32000"
  "a04-normal-300 48 2 44100"
  "a01-standard-450 64 2 44100"
  "a02-dvd-vbr-650 96 2 48000"
  "a06-high-vbr-900 128 2 48000"
  "a07-top-1500 192 2 48000"
)
ac3_rate() { # the largest AC-3 rate within the share, at least 32 mono / 64 stereo
  local k=$1 ch=$2 best=$(( ch > 1 ? 64 : 32 ))
  for r in 32 40 48 56 64 80 96 112 128 160 192 224 256; do
    (( r <= k && r >= best )) && best=$r
  done
  echo "$best"
}

kinds=(film speech music transient)
for kind in "${kinds[@]}"; do
  "$measure" make "$kind" "$work/$kind.wav"
  cp "$work/$kind.wav" "$work/$kind.src"
done
for file in "$@"; do
  kind=$(basename "${file%.*}")
  kinds+=("$kind")
  ffmpeg -v error -y -i "$file" -vn -t 30 -ar 48000 -ac 2 -f f32le "$work/$kind.f32"
  ffmpeg -v error -y -f f32le -ar 48000 -ac 2 -i "$work/$kind.f32" -c:a pcm_f32le "$work/$kind.wav"
  ln -s "$work/$kind.f32" "$work/$kind.src.f32"
done

printf '%-18s %-12s %-5s | %-26s | %-26s | %-26s\n' audience sound kbps \
  "cook: band Hz / noise dB" "AC-3: band Hz / noise dB" "AAC: band Hz / noise dB"
declare -A pre
for row in "${audiences[@]}"; do
  read -r file kbps ch rate <<<"$row"
  name=$(sed -n 's/^name=//p' "$build/app/Audiences/$file.audience" | tr -d '\r')
  a3=$(ac3_rate "$kbps" "$ch")
  for kind in "${kinds[@]}"; do
    src=$work/$kind.wav
    ref=$work/$kind.src
    [[ -e $ref.f32 ]] && ref=$ref.f32
    "$pp" -i "$src" -o "$work/cook.rm" -ad "$name" -dv -dt >/dev/null 2>&1
    ffmpeg -v error -y -i "$work/cook.rm" -ar 48000 -f f32le "$work/cook.f32"
    ffmpeg -v error -y -i "$src" -ac "$ch" -ar "$rate" -c:a ac3 -b:a "${a3}k" "$work/x.ac3"
    ffmpeg -v error -y -i "$work/x.ac3" -ar 48000 -f f32le "$work/ac3.f32"
    ffmpeg -v error -y -i "$src" -ac "$ch" -ar "$rate" -c:a aac -b:a "${kbps}k" "$work/x.m4a"
    ffmpeg -v error -y -i "$work/x.m4a" -ar 48000 -f f32le "$work/aac.f32"
    line=()
    for codec in cook ac3 aac; do
      read -r band snr echo _ < <("$measure" compare "$ref" "$work/$codec.f32" "$ch")
      line+=("$(printf '%6s / %5s' "$band" "$snr")")
      [[ $kind == transient ]] && pre[$file.$codec]=$echo
    done
    printf '%-18s %-12s %-5s | %-26s | %-26s | %-26s\n' "$file" "$kind" "$kbps" "${line[@]}"
  done
done
echo
echo "pre-echo before clicks, dB (lower is better):"
for row in "${audiences[@]}"; do
  read -r file kbps _ <<<"$row"
  printf '  %-18s %4s kbit/s  cook %6s  AC-3 %6s  AAC %6s\n' "$file" "$kbps" \
    "${pre[$file.cook]}" "${pre[$file.ac3]}" "${pre[$file.aac]}"
done

# The sound's share of a job: the default audience on a 20 s standard-definition film, once
# whole and once with the sound alone; and the encoder alone on the same length of sound.
echo
ffmpeg -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25:duration=20" -i "$work/film.wav" \
  -filter_complex "[1:a]aloop=loop=2:size=384000[a]" -map 0:v -map "[a]" -t 20 \
  -c:v mpeg2video -q:v 3 -c:a pcm_s16le "$work/film.mkv"
audience=$(head -n1 "$build/app/audi.txt" | iconv -f GBK -t UTF-8 | tr -d '\r')
t0=$(date +%s.%N)
"$pp" -i "$work/film.mkv" -o "$work/job.rm" -ad "$audience" -dt >/dev/null 2>&1
t1=$(date +%s.%N)
"$pp" -i "$work/film.mkv" -o "$work/sound.rm" -ad "$audience" -dt -dv >/dev/null 2>&1
t2=$(date +%s.%N)
cpu=$("$measure" speed 24 20)
awk -v t0="$t0" -v t1="$t1" -v t2="$t2" -v cpu="$cpu" 'BEGIN {
  job = t1 - t0; snd = t2 - t1
  printf "20 s film, default audience, one pass: whole job %.2f s; sound alone (decode, resample, cook, mux) %.2f s = %.1f%%; cook encoder alone %.2f s CPU = %.1f%%\n",
    job, snd, 100 * snd / job, cpu, 100 * cpu / job }'
