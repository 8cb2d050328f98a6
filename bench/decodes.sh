# Sourced by the benchmarks. decodes FILE prints "ok" when FFmpeg decodes the file's video
# without a word and GStreamer's own RealMedia demuxer with its decoder for the codec (RV40 or
# RV30) makes as many pictures of it; otherwise what went wrong.
decodes() {
  local f=$1 errors pictures gst codec
  command -v gst-launch-1.0 >/dev/null || { echo "no gst-launch-1.0"; return; }
  codec=$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 "$f")
  errors=$(ffmpeg -v error -i "$f" -map 0:v -f null - 2>&1 | head -c 200)
  [[ -z $errors ]] || { echo "ffmpeg: $errors"; return; }
  pictures=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$f")
  gst=$(gst-launch-1.0 -v filesrc location="$f" ! rmdemux name=d d. ! queue ! "avdec_$codec" ! fakesink silent=false 2>&1 |
    grep -c 'last-message = chain' || true)
  if [[ $gst == "$pictures" ]]; then echo ok; else echo "rmdemux: $gst of $pictures pictures"; fi
}
