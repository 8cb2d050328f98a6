# Sourced by the benchmarks: the start of a timed benchmark, the default audience's video
# settings, the two sources the quality benchmarks share, the video bytes a file spends, and timed
# runs with what /usr/bin/time -v wrote of them.

# benchStart PP: the tools a timed benchmark needs (PP, ffmpeg, /usr/bin/time) or a word on which
# is missing, and a work folder removed on exit, in `work`.
benchStart() {
  [[ -x $1 ]] || { echo "no pp at $1; build the pp target first" >&2; exit 1; }
  command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }
  [[ -x /usr/bin/time ]] || { echo "/usr/bin/time not found (package time)" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
}

# timed LABEL COMMAND...: runs it under /usr/bin/time -v into $work/LABEL.time (its output in
# LABEL.out and LABEL.err, the latter shown if it fails) and prints its wall time in seconds.
timed() {
  local label=$1; shift
  /usr/bin/time -v -o "$work/$label.time" "$@" >"$work/$label.out" 2>"$work/$label.err" || { cat "$work/$label.err" >&2; return 1; }
  wallSeconds "$work/$label.time"
}

# defaultAudience BUILD: the first audience of BUILD/app/audi.txt; sets audience (its name), vk
# (video kbit/s), fps (its highest picture rate) and key (seconds between keyframes).
defaultAudience() {
  local def
  audience=$(head -n1 "$1/app/audi.txt" | iconv -f GBK -t UTF-8 | tr -d '\r')
  def=$(grep -l "^name=$audience\$" "$1"/app/Audiences/*.audience)
  vk=$(sed -n 's/^video_kbps=//p' "$def" | tr -d '\r')
  fps=$(sed -n 's/^max_fps=//p' "$def" | tr -d '\r')
  key=$(sed -n 's/^keyframe_seconds=//p' "$def" | tr -d '\r')
}

# makeSources DIR SECONDS PAN: two lossless sources at 720x576, 25 fps: DIR/PAN.mkv, a slow pan
# across a detailed still picture (a softened deep zoom of the Mandelbrot set: smooth areas and
# fine detail, like a photograph), and DIR/pattern.mkv, FFmpeg's synthetic testsrc2 pattern.
makeSources() {
  ffmpeg -v error -y -f lavfi -i "mandelbrot=size=2400x1200:rate=1:start_scale=0.008:end_scale=0.008:start_x=-0.7436:start_y=0.1318:maxiter=1000,gblur=sigma=1" \
    -frames:v 1 "$1/still.png"
  ffmpeg -v error -y -loop 1 -framerate 25 -i "$1/still.png" \
    -vf "crop=720:576:x='min(t*60,1600)':y='min(t*20,600)',format=yuv420p" -t "$2" -c:v ffv1 "$1/$3.mkv"
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25:duration=$2" -pix_fmt yuv420p -c:v ffv1 "$1/pattern.mkv"
}

videoBytes() { ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$1" | awk '{ s += $1 } END { print s }'; }

# wallSeconds FILE: the wall time of a run that `/usr/bin/time -v -o FILE` measured, in seconds.
wallSeconds() {
  awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$1" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f\n", s }'
}
# peakMb FILE: the peak resident memory of that run, in MB.
peakMb() { awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$1"; }
