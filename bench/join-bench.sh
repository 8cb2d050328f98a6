#!/usr/bin/env bash
# Joins two generated RealMedia files of about 100 MB each with jj and compares the time
# with a plain copy of the same bytes (cat A B > X), in the same run and on warm caches.
# Also reports jj's peak memory. The files live in a scratch folder that is removed at exit.
#
#   bench/join-bench.sh [path/to/jj] [scratch folder]
set -euo pipefail

jj=${1:-$(dirname "$0")/../build/app/jj}
scratch=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/join-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
[ -x "$jj" ] || { echo "jj not found at $jj (build it, or pass its path)" >&2; exit 1; }
jj=$(realpath "$jj")
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (Debian package 'time')" >&2; exit 1; }
cd "$scratch"

# A 12-second noisy clip at a fixed high quality (about 10 MB; the rm muxer takes no frame
# over 64 KB), joined ten times with itself: quick to make, from ordinary encoder output.
clip() { # name video-source
  ffmpeg -nostdin -v error -y -f lavfi -i "$2=size=352x288:rate=25" -f lavfi -i sine \
    -vf noise=alls=60:allf=t -c:v rv20 -q:v 14 -g 25 -c:a ac3 -t 12 "$1"
}
big() { # out clip
  local args=()
  for _ in 1 2 3 4 5 6 7 8 9 10; do args+=(-i "$2"); done
  "$jj" "${args[@]}" -o "$1" >/dev/null
}
echo "making the inputs ..."
clip c1.rm testsrc
clip c2.rm testsrc2
big A.rm c1.rm
big B.rm c2.rm
rm -f c1.rm c2.rm
size() { stat -c %s "$1"; }
total=$(( $(size A.rm) + $(size B.rm) ))
printf 'inputs: A %d bytes, B %d bytes\n' "$(size A.rm)" "$(size B.rm)"

seconds() { # runs the command, prints its wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
min() { printf '%s\n' "$@" | sort -g | head -n1; }

cat A.rm B.rm > /dev/null # warm the cache for both contestants
copy=() join=()
for _ in 1 2 3; do
  rm -f X.rm Y.rm
  copy+=("$(seconds sh -c 'cat A.rm B.rm > X.rm')")
  join+=("$(seconds "$jj" -i A.rm -i B.rm -o Y.rm -t bench -a "" -c "")")
done
rm -f X.rm Y.rm
/usr/bin/time -v "$jj" -i A.rm -i B.rm -o Y.rm >/dev/null 2> time.txt
peak_kb=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' time.txt)

copy_s=$(min "${copy[@]}")
join_s=$(min "${join[@]}")
mb=$(echo "$total / 1048576" | bc -l)
printf 'copy (cat A B > X): %6.3f s  %7.1f MB/s   (best of 3)\n' "$copy_s" "$(echo "$mb / $copy_s" | bc -l)"
printf 'join (jj):          %6.3f s  %7.1f MB/s   (best of 3)\n' "$join_s" "$(echo "$mb / $join_s" | bc -l)"
printf 'jj speed / copy speed: %.2f (goal: at least 0.50)\n' "$(echo "$copy_s / $join_s" | bc -l)"
printf 'jj peak memory: %.1f MB (goal: under 64 MB)\n' "$(echo "$peak_kb / 1024" | bc -l)"
printf 'output: %d bytes\n' "$(size Y.rm)"
