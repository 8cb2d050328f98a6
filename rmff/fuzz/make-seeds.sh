#!/usr/bin/env bash
# Writes a small seed corpus for the container fuzzer into $1: tiny clips from FFmpeg's rm
# muxer (no index, overstated DATA size), the same joined by jj (index, CONT), and the
# third-party header sample.
set -euo pipefail
out=$1 jj=$2 sample=$3
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
gen() { ffmpeg -nostdin -v error -y "$@"; }
gen -f lavfi -i testsrc=size=32x32:rate=10 -f lavfi -i sine -c:v rv20 -g 3 -c:a ac3 -t 0.4 "$tmp/av.rm"
gen -f lavfi -i testsrc=size=32x32:rate=10 -c:v rv10 -g 2 -t 0.4 "$tmp/v.rm"
gen -f lavfi -i sine -c:a ac3 -t 0.2 "$tmp/a.rm"
"$jj" -i "$tmp/av.rm" -i "$tmp/av.rm" -o "$tmp/av-joined.rm" -t 标题 -a "" -c c >/dev/null
"$jj" -i "$tmp/a.rm" -i "$tmp/a.rm" -o "$tmp/a-joined.rm" >/dev/null
cp "$tmp"/*.rm "$out"/
cp "$sample" "$out"/header-only.rm
