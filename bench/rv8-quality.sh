#!/usr/bin/env bash
# RealVideo 8 (pp -vco rv8, RV30) against FFmpeg's RealVideo 2 encoder (ffmpeg -c:v rv20 -mbd
# bits), the other choice for a player that knows nothing newer, at the default audience's rate
# in two passes each: PSNR against the source and the video bytes each spends; and rv8's speed
# beside rv9's on the same work, as ratios in the same run.
#
#   bench/rv8-quality.sh [build-dir] [seconds]
#
# Two sources at 720x576, 25 fps: a slow pan across a detailed still picture (a softened deep
# zoom of the Mandelbrot set: smooth areas and fine detail, like a photograph) and FFmpeg's
# synthetic testsrc2 pattern. The wanted margins: rv8 at least 3 dB ahead of RV20 on the
# photograph and 1.5 dB on the pattern, at no more bytes.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
seconds=${2:-10}
pp=$build/app/pp
[[ -x $pp ]] || { echo "no pp at $pp; build the pp target first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$top/bench/decodes.sh"
. "$top/bench/sources.sh"

defaultAudience "$build"
frames=$((seconds * fps))

echo "making the sources ($seconds s each) ..."
makeSources "$work" "$seconds" photo

wall() { # command...: seconds it took
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/last.err" || { cat "$work/last.err" >&2; return 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
}
psnr() { ffmpeg -v info -i "$1" -i "$2" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p' | tail -1; }

rc=(-b:v "${vk}k" -maxrate "${vk}k" -bufsize "${vk}k" -bt "${vk}k" -rc_init_occupancy $((vk * 750))
    -qcomp 0.2 -g $((fps * key)) -bf 0)
rv20() { # source, output: two passes, as our two
  (cd "$work" &&
    ffmpeg -v error -y -i "$1" -vf "fps=fps=$fps,format=yuv420p" -c:v rv20 "${rc[@]}" -mbd simple -an -pass 1 -passlogfile rv20 -f null - &&
    ffmpeg -v error -y -i "$1" -vf "fps=fps=$fps,format=yuv420p" -c:v rv20 "${rc[@]}" -mbd bits -an -pass 2 -passlogfile rv20 "$2")
}

echo "audience: $audience ($vk kbit/s video, $fps fps), two passes each"
printf '\n%-8s %-20s %8s %10s %8s  %s\n' source encoder "PSNR dB" "video B" "wall s" decodes
for src in photo pattern; do
  declare -A p=() b=() t=()
  for run in rv20 rv8 rv9; do
    out=$work/$src-$run.rm
    if [[ $run == rv20 ]]; then
      t[$run]=$(wall rv20 "$work/$src.mkv" "$out")
      label="FFmpeg RV20"
    else
      t[$run]=$(wall "$pp" -i "$work/$src.mkv" -o "$out" -t bench -a "" -c "" -ad "$audience" -vco "$run")
      label="ours $run"
    fi
    p[$run]=$(psnr "$out" "$work/$src.mkv")
    b[$run]=$(videoBytes "$out")
    check=-
    [[ $run != rv20 ]] && check=$(decodes "$out")
    printf '%-8s %-20s %8s %10s %8s  %s\n' "$src" "$label" "${p[$run]}" "${b[$run]}" "${t[$run]}" "$check"
  done
  awk -v a="${p[rv8]}" -v c="${p[rv20]}" -v ba="${b[rv8]}" -v bc="${b[rv20]}" -v ta="${t[rv8]}" -v t9="${t[rv9]}" \
    -v s="$src" -v want="$([[ $src == photo ]] && echo 3 || echo 1.5)" \
    'BEGIN { printf "%-8s rv8 %+.2f dB against RV20 (wanted >= +%s) at %.3f its bytes; rv8 takes %.2f of rv9'"'"'s time (%.2fx as fast)\n",
             s, a - c, want, ba / bc, ta / t9, t9 / ta }'
done
echo
echo "machine load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors (wall times suffer when it is high)"
