#!/usr/bin/env bash
# How closely the constant-rate audiences hold their video rate over a film: for each audience
# with vbr=0, pp -vco rv9 and rv10 (or the codecs given) in two passes and in one (-dt), the
# video bytes against video_kbps x seconds / 8.
#
#   bench/rv40-rate.sh [build-dir] [seconds] [size] [codecs]
#
# The film (default 60 s at 720x576, 25 fps): a slow pan across a detailed still for the first
# half, then FFmpeg's testsrc2 pattern, so there is a cut and two kinds of picture. Each output
# must decode in FFmpeg and through GStreamer's rmdemux.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
seconds=${2:-60}
size=${3:-720x576}
codecs=${4:-rv9 rv10}
pp=$build/app/pp
[[ -x $pp ]] || { echo "no pp at $pp; build the pp target first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$top/bench/decodes.sh"
half=$((seconds / 2))
w=${size%x*}
h=${size#*x}

echo "making the film ($seconds s at $size) ..."
ffmpeg -v error -y -f lavfi -i "mandelbrot=size=2400x1200:rate=1:start_scale=0.008:end_scale=0.008:start_x=-0.7436:start_y=0.1318:maxiter=1000,gblur=sigma=1" \
  -frames:v 1 "$work/still.png"
ffmpeg -v error -y -loop 1 -framerate 25 -i "$work/still.png" \
  -f lavfi -i "testsrc2=size=${size}:rate=25:duration=$((seconds - half))" \
  -filter_complex "[0:v]crop=${w}:${h}:x='min(t*40,2400-${w})':y='min(t*12,1200-${h})',format=yuv420p,trim=duration=${half}[a];[1:v]format=yuv420p[b];[a][b]concat=n=2:v=1[v]" \
  -map "[v]" -c:v ffv1 "$work/film.mkv"

printf '\n%-28s %6s %-5s %-10s %11s %11s %8s  %s\n' audience kbit/s codec passes "video B" "target B" "off" decodes
for def in "$build"/app/Audiences/*.audience; do
  [[ $(sed -n 's/^vbr=//p' "$def" | tr -d '\r') == 0 ]] || continue
  name=$(sed -n 's/^name=//p' "$def" | tr -d '\r')
  vk=$(sed -n 's/^video_kbps=//p' "$def" | tr -d '\r')
  for vco in $codecs; do
    for mode in two one; do
      out=$work/out.rm
      rm -f "$out"
      extra=()
      [[ $mode == one ]] && extra=(-dt)
      "$pp" -i "$work/film.mkv" -o "$out" -t bench -a "" -c "" -ad "$name" -vco "$vco" "${extra[@]}" >/dev/null 2>&1
      bytes=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$out" | awk '{ s += $1 } END { print s }')
      target=$((vk * 1000 * seconds / 8))
      printf '%-28s %6s %-5s %-10s %11s %11s %+7.2f%%  %s\n' "$name" "$vk" "$vco" "$mode" "$bytes" "$target" \
        "$(awk -v a="$bytes" -v b="$target" 'BEGIN { print (a - b) * 100 / b }')" "$(decodes "$out")"
    done
  done
done
