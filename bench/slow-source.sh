#!/usr/bin/env bash
# A scan on a source slower than memory, next to a plain read of the same source in the
# same run: the image served by quillon-faulty-file (FUSE) with --rate, a disk of RATE MB/s
# that serves one request at a time (every read goes to it: direct I/O, no page cache).
# (A device-mapper "delay" target over a loop device would do as well where the kernel has
# device-mapper; containers often do not.)
#
#   no candidates  random bytes: the scan only reads and tests
#   dense          the sample database repeated: every 4096 bytes a page to compress
#
# For each image, REPEAT times: a plain read (quillon-bench --read: 256 KiB preads, the
# scan's reads), then a whole scan (quillon-bench --scan, the writer with one worker per
# core). Prints MB/s and the ratio of the best of each.
#
# usage: bench/slow-source.sh [--build DIR] [--dir DIR] [--size MiB] [--rate MBPS] [--repeat N]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

build=build
dir=${TMPDIR:-/tmp}/quillon-slow-source
size=512
rate=100
repeat=3
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--dir DIR] [--size MiB] [--rate MBPS] [--repeat N]" >&2
       exit 2 ;;
  esac
done
bench=$build/bench/quillon-bench
faulty=$build/tests/tools/quillon-faulty-file
for tool in "$bench" "$faulty"; do
  [ -x "$tool" ] || { echo "$tool is not built: cmake --build $build" >&2; exit 1; }
done
command -v fusermount3 >/dev/null || { echo "fusermount3 is missing (package fuse3)" >&2; exit 1; }

mkdir -p "$dir/mnt"
server=
cleanup() {
  if [ -n "$server" ]; then
    fusermount3 -u "$dir/mnt" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

make_image() {  # kind path
  python3 - "$1" "$2" "$size" "$repo/samples/sample-jet4.mdb" <<'PY'
import os, sys
kind, path, size, database = sys.argv[1], sys.argv[2], int(sys.argv[3]) << 20, sys.argv[4]
block = os.urandom(1 << 20) if kind == "random" else open(database, "rb").read()
with open(path, "wb") as out:
    written = 0
    while written < size:
        part = block[: size - written]
        out.write(part)
        written += len(part)
PY
}

best() { sort -n | tail -1; }

printf '%s cores (shared: other work on the machine shows in the figures); a disk of %s MB/s; %s MiB per image\n' \
  "$(nproc)" "$rate" "$size"
printf '%-16s %12s %12s %8s\n' image "read MB/s" "scan MB/s" ratio
for kind in random dense; do
  image=$dir/$kind.img
  make_image $kind "$image"
  "$faulty" --image="$image" --rate="$rate" "$dir/mnt" -f &
  server=$!
  for _ in $(seq 100); do [ -e "$dir/mnt/disk.img" ] && break; sleep 0.1; done
  device=$dir/mnt/disk.img
  reads=()
  scans=()
  for _ in $(seq "$repeat"); do
    reads+=("$("$bench" --read "$device" | cut -d' ' -f1)")
    rm -f "$dir/out.frag"
    scans+=("$("$bench" --scan "$device" "$dir/out.frag" | cut -d' ' -f1)")
  done
  read=$(printf '%s\n' "${reads[@]}" | best)
  scan=$(printf '%s\n' "${scans[@]}" | best)
  label=$([ $kind = random ] && echo "no candidates" || echo "dense")
  printf '%-16s %12s %12s %8s   (reads %s; scans %s)\n' "$label" "$read" "$scan" \
    "$(python3 -c "print('%.2f' % ($scan / $read))")" "${reads[*]}" "${scans[*]}"
  fusermount3 -u "$dir/mnt"
  wait "$server" || true
  server=
  rm -f "$image" "$dir/out.frag"
done
