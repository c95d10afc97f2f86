#!/usr/bin/env bash
# Time per channel and peak memory of reading a 2-hour, 64-channel, 2048 Hz
# BDF file (2.9 GB) channel by channel, as korva reads recordings.
#   bench/run_recording_bench.sh [BUILD_DIR] [FILE] [CHANNELS]
# The file is written once (about 30 s) and kept. Reading from the page
# cache measures the reader; to include the disk, drop the cache first
# (as root: sync; echo 3 > /proc/sys/vm/drop_caches).
set -euo pipefail
build=${1:-build}
file=${2:-/tmp/korva-2h-64ch.bdf}
channels=${3:-65}
bench=$build/bench/recording_read_bench
[ -f "$file" ] || "$bench" --write "$file"
ls -l "$file"
/usr/bin/time -f "wall %e s, user %U s, system %S s, peak resident %M kB" \
  "$bench" "$file" "$channels"
