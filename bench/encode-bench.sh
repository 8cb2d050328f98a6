#!/usr/bin/env bash
# Encode benchmark: pp against the ffmpeg command-line tool at equal rate settings.
# Generates a 60 s 720x576 25 fps source with sound, encodes it with the default audience
# through pp and then with ffmpeg, and prints both times, their ratio and pp's peak memory.
#
#   bench/encode-bench.sh [build-dir] [--two-pass]
#
# Without --two-pass both run single-pass (the window's start-up setting, -dt). With it, both
# make the same two passes: a measuring first pass with the cheapest macroblock decision, as pp
# does, then the real one.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
mode=${2:-}
pp=$build/app/pp
. "$top/bench/sources.sh"
benchStart "$pp"
src=$work/source.mpg

echo "generating the 60 s source ..."
ffmpeg -v error -y \
  -f lavfi -i "testsrc2=size=720x576:rate=25:duration=60" \
  -f lavfi -i "sine=frequency=440:beep_factor=4:sample_rate=48000:duration=60" \
  -c:v mpeg2video -q:v 3 -g 12 -c:a mp2 -b:a 192k -ac 2 "$src"

# The default audience (first line of audi.txt) and what pp makes of it: see engine/EncodePlan.cpp.
audience=$(head -n1 "$build/app/audi.txt" | iconv -f GBK -t UTF-8 | tr -d '\r')
def=$(grep -l "^name=$audience\$" "$build"/app/Audiences/*.audience)
val() { sed -n "s/^$1=//p" "$def" | tr -d '\r'; }
vk=$(val video_kbps); ak=$(val audio_kbps); ch=$(val audio_channels); rate=$(val audio_rate)
fps=$(val max_fps); key=$(val keyframe_seconds)
vf="fps=fps=$fps/1,scale=720:576:flags=lanczos,setsar=1,format=yuv420p"
af="aformat=channel_layouts=stereo,aresample=$rate:filter_size=8:phase_shift=6,aformat=sample_fmts=fltp"
# The peer: FFmpeg's RealVideo 2 at the constant-rate settings of the audience. pp writes
# RealVideo 9/10 with its own encoder, so the ratio compares two encoders doing the same job.
rc=(-b:v "${vk}k" -maxrate "${vk}k" -bufsize "${vk}k" -bt "${vk}k" -rc_init_occupancy $((vk * 750))
    -qcomp 0.2 -g $((fps * key)) -bf 0)

ppArgs=(-i "$src" -o "$work/ours.rm" -t "bench" -a "" -c "" -ad "$audience" -vco rv9)
[[ $mode == --two-pass ]] || ppArgs+=(-dt)


echo "encoding with pp ($([[ $mode == --two-pass ]] && echo two passes || echo one pass)) ..."
ours=$(timed ours "$pp" "${ppArgs[@]}")
peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/ours.time")

echo "encoding with ffmpeg ..."
if [[ $mode == --two-pass ]]; then
  cli=$(timed cli bash -c '
    cd "$1" && shift &&
    src=$1; shift
    ffmpeg -v error -y -i "$src" "$@" -mbd simple -an -pass 1 -passlogfile pass -f null - &&
    ffmpeg -v error -y -i "$src" "$@" -mbd bits -pass 2 -passlogfile pass cli.rm' _ "$work" "$src" \
      -vf "$vf" -c:v rv20 "${rc[@]}" -af "$af" -c:a ac3 -b:a "${ak}k" -ac "$ch")
else
  cli=$(timed cli ffmpeg -v error -y -i "$src" -vf "$vf" -c:v rv20 "${rc[@]}" -mbd bits \
      -af "$af" -c:a ac3 -b:a "${ak}k" -ac "$ch" "$work/cli.rm")
fi

size() { stat -c %s "$1"; }
cpu() { awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s }' "$work/$1.time"; }
echo
echo "machine load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors (wall times suffer when it is high)"
printf '%-28s %8s s wall  %8s s processor  %10s bytes\n' "pp:" "$ours" "$(cpu ours)" "$(size "$work/ours.rm")"
printf '%-28s %8s s wall  %8s s processor  %10s bytes\n' "ffmpeg command-line tool:" "$cli" "$(cpu cli)" "$(size "$work/cli.rm")"
awk -v a="$ours" -v b="$cli" 'BEGIN { printf "%-28s %8.2f (below 1 is faster than the tool)\n", "ratio pp / ffmpeg:", a / b }'
awk -v k="$peak" 'BEGIN { printf "%-28s %8.1f MB (goal: under 300 MB)\n", "pp peak memory:", k / 1024 }'
