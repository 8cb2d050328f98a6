#!/usr/bin/env bash
# Our RealVideo 9/10 on real footage against libx264 (constrained baseline and main, preset
# medium), side by side in one run. The clips are the sample videos Debian's opencv-doc package
# ships (fetched with apt-get download, no root needed, and kept in a cache): a film trailer
# (720x528, 24/s), a tree in the wind (320x240, 15/s), a still street camera (768x576, 10/s) and
# a handheld box (640x480, 30/s). Each is made once into a lossless source at the picture rate
# the audience allows, so every encoder is fed the very same pictures, and pictures are paired
# by their order (containers round times differently).
#
#   bench/real-footage.sh [build-dir] [seconds] [parts]
#
# parts, comma separated (all by default):
#   quality  two passes at the default audience, a VBR one and the low-rate one: PSNR and SSIM
#            against the source (and the worst picture's PSNR), video bytes, wall time; rv10
#            against x264 baseline and main
#   rate     every constant-rate audience, one pass and two: the video rate against video_kbps
#   speed    one pass end to end at the default audience: wall time against x264 baseline's
#            one pass on the same source, and peak memory
# Every file of ours is checked to decode without a word in FFmpeg and through GStreamer's rmdemux.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
seconds=${2:-12}
parts=${3:-quality,rate,speed}
pp=$build/app/pp
. "$top/bench/decodes.sh"
. "$top/bench/sources.sh"
benchStart "$pp"

# ---- the clips ---------------------------------------------------------------------------------
cache=${CORVA_FOOTAGE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/corva-footage}
mkdir -p "$cache"
if [[ ! -f $cache/tree.avi ]]; then
  echo "fetching Debian's opencv-doc package for its sample videos ..."
  (cd "$cache" && apt-get download opencv-doc >/dev/null)
  dpkg-deb -x "$cache"/opencv-doc_*.deb "$cache/x"
  data=$cache/x/usr/share/doc/opencv-doc/examples/data
  cp "$data/tree.avi" "$data/Megamind.avi" "$data/vtest.avi" "$cache/"
  gunzip -c "$cache/x/usr/share/doc/opencv-doc/opencv4/html/box.mp4.gz" >"$cache/box.mp4"
  rm -rf "$cache/x" "$cache"/opencv-doc_*.deb
fi
declare -A clipFile=([trailer]=Megamind.avi [tree]=tree.avi [street]=vtest.avi [handheld]=box.mp4)
clips=(trailer tree street handheld)

# audienceSettings NAME: sets vk (video kbit/s), maxFps, key (seconds), vbr (0/1) and peak.
audienceSettings() {
  local def
  def=$(grep -l "^name=$1\$" "$build"/app/Audiences/*.audience)
  vk=$(sed -n 's/^video_kbps=//p' "$def" | tr -d '\r')
  maxFps=$(sed -n 's/^max_fps=//p' "$def" | tr -d '\r')
  key=$(sed -n 's/^keyframe_seconds=//p' "$def" | tr -d '\r')
  vbr=$(sed -n 's/^vbr=//p' "$def" | tr -d '\r')
  peak=$(sed -n 's/^vbr_peak_kbps=//p' "$def" | tr -d '\r')
  peak=${peak:-$vk}
}

# clipSource CLIP MAXFPS: the lossless source of the clip's first seconds at no more than MAXFPS
# pictures a second (made once); prints its path.
clipSource() {
  local out=$work/$1-$2.mkv rate fps
  if [[ ! -f $out ]]; then
    # the rate the encoders keep (constant, as the clips' own times are not), and the size ours
    # codes (at most 720 wide), so that all are fed the same pictures
    rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$cache/${clipFile[$1]}")
    fps=$(awk -v r="$rate" -v m="$2" 'BEGIN { split(r, a, "/"); print (a[1] / a[2] > m + 0.01) ? m : r }')
    ffmpeg -v error -y -i "$cache/${clipFile[$1]}" -t "$seconds" -an \
      -vf "fps=fps=$fps,scale=w='min(iw,720)':h=-4,setsar=1,format=yuv420p" -c:v ffv1 "$out" 2>/dev/null
  fi
  echo "$out"
}

# keyframeTimes FILE: the times of its keyframes, comma separated, each half a picture early
# (containers round times, and a keyframe forced at a time lands on the first picture at or after it)
keyframeTimes() {
  local rate
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$1")
  ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,flags -of csv=p=0 "$1" |
    awk -F, -v r="$rate" 'BEGIN { split(r, a, "/"); half = 0.5 * a[2] / a[1] }
      $2 ~ /K/ { t = $1 - half; printf "%s%.3f", s, t < 0 ? 0 : t; s = "," }'
}
pictures() { ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }
# quality FILE SOURCE: "PSNR SSIM LOWEST" (luma and chroma), the pictures paired by their order;
# LOWEST is the worst single picture's PSNR, which shows a picture repeated or crushed (a walker
# jumping back on a still street) that the average hides.
quality() {
  local pair='[0:v]setpts=N[a];[1:v]setpts=N[b];[a][b]'
  local p s low stats=$work/psnr.stats
  p=$(ffmpeg -v info -i "$1" -i "$2" -lavfi "${pair}psnr=stats_file=$stats" -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p' | tail -1)
  low=$(awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^psnr_avg:/) { v = substr($i, 10); if (v != "inf" && (m == "" || v + 0 < m)) m = v + 0 } }
             END { if (m == "") print "inf"; else printf "%.2f", m }' "$stats")
  s=$(ffmpeg -v info -i "$1" -i "$2" -lavfi "${pair}ssim" -f null - 2>&1 | sed -n 's/.*SSIM.* All:\([0-9.]*\).*/\1/p' | tail -1)
  echo "$p $s $low"
}
# x264Args PROFILE SOURCE: the peer at the audience's rate (a VBR audience: its average, capped at
# its peak), with a keyframe as often in time as ours (the source's picture rate times the
# audience's keyframe seconds: a clip below the audience's picture rate has its keyframes as far
# apart in time, not in pictures).
x264Args() {
  local buf=$vk maxr=$vk gop
  [[ $vbr == 1 ]] && { maxr=$peak; buf=$((2 * peak)); }
  gop=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$2" |
    awk -v k="$key" '{ split($1, a, "/"); printf "%d", a[1] / a[2] * k + 0.5 }')
  echo "-c:v libx264 -profile:v $1 -preset medium -b:v ${vk}k -maxrate ${maxr}k -bufsize ${buf}k -g $gop -threads 0"
}
x264TwoPasses() { # source, out, profile, [keyframe times to force, comma separated]
  local args
  args=$(x264Args "$3" "$1")
  [[ -n ${4:-} ]] && args+=" -force_key_frames $4"
  (cd "$work" && ffmpeg -v error -y -i "$1" $args -an -fps_mode passthrough -pass 1 -passlogfile "x264-$3" -f null - &&
    ffmpeg -v error -y -i "$1" $args -an -fps_mode passthrough -pass 2 -passlogfile "x264-$3" "$2")
}
export -f x264TwoPasses x264Args
export work vk vbr peak maxFps key

defaultName=$(head -n1 "$build/app/audi.txt" | iconv -f GBK -t UTF-8 | tr -d '\r')

if [[ ,$parts, == *,quality,* ]]; then
  echo
  echo "== quality, two passes (PSNR and SSIM paired by picture order) =="
  printf '%-9s %-6s %-15s %8s %8s %8s %10s %5s %8s  %s\n' clip rate encoder "PSNR dB" SSIM "worst dB" "video B" pics "wall s" decodes
  declare -A sum=() count=()
  for name in "$defaultName" "清晰画质 VBR 500Kbps" "窄带上网 CBR 150Kbps"; do
    audienceSettings "$name"
    export vk vbr peak maxFps key
    tag=${vk}k$([[ $vbr == 1 ]] && echo v || true)
    for clip in "${clips[@]}"; do
      src=$(clipSource "$clip" "$maxFps")
      declare -A psnr=() bytes=() file=()
      for run in x264b x264m rv9 rv10; do
        case $run in
          x264b) out=$work/$clip-$tag-$run.mkv; label="x264 baseline"
                 t=$(timed "$clip-$tag-$run" bash -c 'x264TwoPasses "$@"' _ "$src" "$out" baseline) ;;
          x264m) out=$work/$clip-$tag-$run.mkv; label="x264 main"
                 t=$(timed "$clip-$tag-$run" bash -c 'x264TwoPasses "$@"' _ "$src" "$out" main) ;;
          *)     out=$work/$clip-$tag-$run.rm; label="ours $run"
                 t=$(timed "$clip-$tag-$run" "$pp" -i "$src" -o "$out" -t bench -a "" -c "" -ad "$name" -vco "$run") ;;
        esac
        read -r p s low <<<"$(quality "$out" "$src")"
        psnr[$run]=$p
        file[$run]=$out
        bytes[$run]=$(videoBytes "$out")
        check=-
        [[ $run == rv* ]] && check=$(decodes "$out")
        printf '%-9s %-6s %-15s %8s %8s %8s %10s %5s %8s  %s\n' "$clip" "$tag" "$label" "$p" "$s" "$low" "${bytes[$run]}" \
          "$(pictures "$out")" "$t" "$check"
      done
      awk -v a="${psnr[rv9]}" -v b="${psnr[rv10]}" -v x="${psnr[x264b]}" -v m="${psnr[x264m]}" \
        -v bb="${bytes[rv10]}" -v xb="${bytes[x264b]}" -v c="$clip" -v r="$tag" \
        'BEGIN { printf "%-9s %-6s rv10 %+.2f dB against x264 baseline (bytes %.3f of its), %+.2f dB against main; rv9 %+.2f dB against rv10\n",
                 c, r, b - x, bb / xb, b - m, a - b }'
      # x264 ends under its rate where ours comes nearer it: given its rate raised until it takes
      # at least our bytes, baseline is compared at no more bytes of ours (its constraints scaled
      # alike).
      given=$vk xb=${bytes[x264b]} xp=${psnr[x264b]}
      for try in 1 2 3; do
        (( xb >= bytes[rv10] )) && break
        given=$(awk -v k="$given" -v o="${bytes[rv10]}" -v x="$xb" 'BEGIN { printf "%d", k * o / x * 1.005 + 1 }')
        out=$work/$clip-$tag-x264b-$given.mkv
        vk=$given bash -c 'x264TwoPasses "$@"' _ "$src" "$out" baseline
        xb=$(videoBytes "$out")
        read -r xp _ _ <<<"$(quality "$out" "$src")"
      done
      if [[ $given != "$vk" ]]; then
        awk -v b="${psnr[rv10]}" -v x="$xp" -v bb="${bytes[rv10]}" -v xb="$xb" -v g="$given" -v c="$clip" -v r="$tag" \
          'BEGIN { printf "%-9s %-6s rv10 %+.2f dB against x264 baseline given %dk (%s dB, bytes %.3f of its): at no more bytes%s\n",
                   c, r, b - x, g, x, bb / xb, bb <= xb ? "" : " NOT reached" }'
      fi
      # A film shorter than two keyframe intervals has a keyframe late in it besides the first, so
      # that FFmpeg can seek in it (with the first alone it cannot seek at all); x264 places none.
      # Given ours as well, baseline shows how much of the difference that keyframe is.
      ours=$(keyframeTimes "${file[rv10]}")
      if (( $(tr -cd , <<<"$ours" | wc -c) > $(keyframeTimes "${file[x264b]}" | tr -cd , | wc -c) )); then
        out=$work/$clip-$tag-x264b-keys.mkv
        vk=$given bash -c 'x264TwoPasses "$@"' _ "$src" "$out" baseline "$ours"
        read -r kp _ _ <<<"$(quality "$out" "$src")"
        awk -v b="${psnr[rv10]}" -v x="$kp" -v bb="${bytes[rv10]}" -v xb="$(videoBytes "$out")" -v g="$given" -v c="$clip" -v r="$tag" \
          -v k="$ours" 'BEGIN { printf "%-9s %-6s rv10 %+.2f dB against x264 baseline given %dk and our keyframes at %s s (%s dB, bytes %.3f of its)\n",
                   c, r, b - x, g, k, x, bb / xb }'
      fi
      sum[main]=$(awk -v s="${sum[main]:-0}" -v b="${psnr[rv10]}" -v m="${psnr[x264m]}" 'BEGIN { print s + b - m }')
      count[main]=$((${count[main]:-0} + 1))
    done
  done
  awk -v s="${sum[main]}" -v n="${count[main]}" 'BEGIN { printf "rv10 against x264 main, on average over %d runs: %+.2f dB\n", n, s / n }'
fi

if [[ ,$parts, == *,rate,* ]]; then
  echo
  echo "== rate of every constant-rate audience (video bytes over the clip's time) =="
  printf '%-9s %-24s %10s %10s %10s\n' clip audience "kbit/s" "one pass" "two passes"
  worst=0
  for def in "$build"/app/Audiences/*.audience; do
    [[ $(sed -n 's/^vbr=//p' "$def" | tr -d '\r') == 0 ]] || continue
    name=$(sed -n 's/^name=//p' "$def" | tr -d '\r')
    audienceSettings "$name"
    for clip in "${clips[@]}"; do
      src=$(clipSource "$clip" "$maxFps")
      length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$src")
      line=$(printf '%-9s %-24s %10s' "$clip" "$name" "$vk")
      for pass in -dt ""; do
        out=$work/rate-$clip-$vk$pass.rm
        "$pp" -i "$src" -o "$out" -t bench -a "" -c "" -ad "$name" $pass </dev/null >/dev/null 2>&1
        off=$(awk -v b="$(videoBytes "$out")" -v l="$length" -v k="$vk" 'BEGIN { printf "%+.1f%%", (b * 8 / l / 1000 / k - 1) * 100 }')
        worst=$(awk -v w="$worst" -v o="${off%\%}" 'BEGIN { o = o < 0 ? -o : o; print (o > w ? o : w) }')
        check=$(decodes "$out")
        [[ $check == ok ]] || off="$off ($check)"
        line+=$(printf ' %10s' "$off")
      done
      echo "$line"
    done
  done
  echo "furthest from its rate: ${worst}%"
fi

if [[ ,$parts, == *,speed,* ]]; then
  echo
  echo "== speed, one pass end to end at the default audience (both read the same lossless source) =="
  audienceSettings "$defaultName"
  printf '%-9s %-15s %8s %8s %7s %9s  %s\n' clip encoder "wall s" "pics/s" "peak MB" "vs x264" decodes
  for clip in "${clips[@]}"; do
    src=$(clipSource "$clip" "$maxFps")
    n=$(pictures "$src")
    declare -A wall=()
    for run in x264 rv9 rv10; do
      if [[ $run == x264 ]]; then
        out=$work/speed-$clip-x264.mkv; label="x264 baseline"
        wall[$run]=$(timed "speed-$clip-$run" ffmpeg -v error -y -i "$src" $(x264Args baseline "$src") -an -fps_mode passthrough "$out")
        check=-
      else
        out=$work/speed-$clip-$run.rm; label="ours $run -dt"
        wall[$run]=$(timed "speed-$clip-$run" "$pp" -i "$src" -o "$out" -t bench -a "" -c "" -ad "$defaultName" -vco "$run" -dt)
        check=$(decodes "$out")
      fi
      printf '%-9s %-15s %8s %8.1f %7s %8.2fx  %s\n' "$clip" "$label" "${wall[$run]}" \
        "$(awk -v f="$n" -v t="${wall[$run]}" 'BEGIN { print f / t }')" "$(peakMb "$work/speed-$clip-$run.time")" \
        "$(awk -v a="${wall[$run]}" -v b="${wall[x264]}" 'BEGIN { print a / b }')" "$check"
    done
  done
fi
echo
echo "machine load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors (wall times suffer when it is high)"
