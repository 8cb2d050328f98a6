#!/usr/bin/env bash
# Whether a change to the encoder leaves every file it writes byte for byte the same: builds pp
# at an earlier commit (in a worktree of its own, beside this one), encodes one set of films with
# both, and compares the outputs with cmp. Every -vco, one pass and two, three audiences (the
# default, the narrow one at 15 pictures a second and the top one), and -vm sharp and -rs on one
# film each; the films cover a pan across a detailed still, FFmpeg's test pattern with sound, noise,
# a cut every few pictures, an odd size and a single picture.
#
#   bench/same-output.sh BASE-COMMIT [build-dir]
#
# VCOS="rv9 rv10" limits the -vco values compared (all three by default), for a change meant to
# alter one of them only.
#
# Prints one line per encode that differs (or fails on one side only) and a count at the end;
# exits 1 when anything differs.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
base=${1:?usage: bench/same-output.sh BASE-COMMIT [build-dir]}
build=${2:-$top/build}
pp=$build/app/pp
[[ -x $pp ]] || { echo "no pp at $pp; build the pp target first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }

sha=$(git -C "$top" rev-parse --short=7 "$base^{commit}")
tree=$(dirname "$top")/base-$sha
if [[ ! -d $tree ]]; then
  git -C "$top" worktree add --detach "$tree" "$sha" >/dev/null
fi
if [[ ! -f $tree/build/CMakeCache.txt ]]; then
  cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
echo "building pp at $sha in $tree/build ..."
cmake --build "$tree/build" --target pp -j"$(nproc)" >/dev/null
ppBase=$tree/build/app/pp

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "making the films ..."
ffmpeg -v error -y -f lavfi -i "mandelbrot=size=1200x800:rate=1:start_scale=0.008:end_scale=0.008:start_x=-0.7436:start_y=0.1318:maxiter=400,gblur=sigma=1" \
  -frames:v 1 "$work/still.png"
ffmpeg -v error -y -loop 1 -framerate 25 -i "$work/still.png" \
  -vf "crop=352:288:x='min(t*50,800)':y='min(t*15,500)',format=yuv420p" -t 4 -c:v ffv1 "$work/pan.mkv"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25:duration=3" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" -ac 2 \
  -pix_fmt yuv420p -c:v ffv1 -c:a pcm_s16le "$work/pattern.mkv"
ffmpeg -v error -y -f lavfi -i "nullsrc=size=176x144:rate=25:duration=3,geq=random(1)*255:128:128" \
  -pix_fmt yuv420p -c:v ffv1 "$work/noise.mkv"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=320x240:rate=25:duration=1" -f lavfi -i "smptebars=size=320x240:rate=25:duration=1" \
  -f lavfi -i "mandelbrot=size=320x240:rate=25,trim=duration=1" -f lavfi -i "rgbtestsrc=size=320x240:rate=25:duration=1" \
  -filter_complex "[0:v][1:v][2:v][3:v]concat=n=4:v=1,format=yuv420p[v]" -map "[v]" -c:v ffv1 "$work/cuts.mkv"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=100x76:rate=30:duration=2" -pix_fmt yuv420p -c:v ffv1 "$work/odd.mkv"
ffmpeg -v error -y -f lavfi -i "testsrc2=size=176x144:rate=25" -frames:v 1 -pix_fmt yuv420p -c:v ffv1 "$work/one.mkv"

audience() { sed -n "${1}p" "$build/app/audi.txt" | iconv -f GBK -t UTF-8 | tr -d '\r'; }
runs=()
for film in pan pattern noise cuts odd one; do
  for a in 1 3 7; do
    for vco in ${VCOS:-rv8 rv9 rv10}; do
      for mode in two one; do runs+=("$film|$a|$vco|$mode|"); done
    done
  done
done
runs+=("pan|1|rv9|two|-vm sharp" "pattern|1|rv10|two|-rs 480x0" "cuts|3|rv9|one|-am voice")

differ=0
n=0
for run in "${runs[@]}"; do
  IFS='|' read -r film a vco mode extra <<<"$run"
  args=(-i "$work/$film.mkv" -t same -a "" -c "" -ad "$(audience "$a")" -vco "$vco")
  [[ $mode == one ]] && args+=(-dt)
  # shellcheck disable=SC2206
  [[ -n $extra ]] && args+=($extra)
  rm -f "$work/a.rm" "$work/b.rm"
  ra=0; rb=0
  "$ppBase" "${args[@]}" -o "$work/a.rm" >/dev/null 2>&1 || ra=$?
  "$pp" "${args[@]}" -o "$work/b.rm" >/dev/null 2>&1 || rb=$?
  n=$((n + 1))
  if [[ $ra != "$rb" ]]; then
    echo "DIFFERS  $film audience $a $vco $mode $extra: exit $ra before, $rb now"
    differ=$((differ + 1))
  elif [[ $ra == 0 ]] && ! cmp -s "$work/a.rm" "$work/b.rm"; then
    echo "DIFFERS  $film audience $a $vco $mode $extra: $(cmp "$work/a.rm" "$work/b.rm" 2>&1 | head -1)"
    differ=$((differ + 1))
  fi
done
echo "$n encodes, $differ differ from $sha"
[[ $differ == 0 ]]
