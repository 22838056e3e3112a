#!/usr/bin/env bash
# How fast a scan runs, next to a plain read and to PhotoRec, on the same three images:
#
#   no candidates  random bytes (SIZE MiB): no step passes the page test
#   dense          the sample database repeated (SIZE MiB): a candidate page every 4096 bytes
#   sparse         a SPARSE GiB sparse file, holes but for four copies of the sample database
#                  in its last GiB, 256 MiB apart
#
# For each image: a plain sequential read (quillon-bench --read: 256 KiB preads into a
# page-aligned buffer, the read a scan does), a whole scan with quillon-cli, and PhotoRec in
# batch mode with only its Access (mdb) file type enabled; each as MB/s and as a ratio to the
# plain read. The random and dense images are read once before timing, so every run reads
# them from the page cache. The sparse image's holes are no disk reads either, but at 64 GiB
# it does not fit the page cache: each program reads it cold, and the kernel zero-fills every
# page of a hole it hands out. The plain read and the scan are the best of REPEAT runs (one on
# the sparse image); PhotoRec runs once.
#
# On the dense image the scan is also set against its yardstick, in the same run: zlib level 1
# on one core over the scan's own fragments (quillon-bench --zlib, best of REPEAT), times the
# cores the writer's workers use; with the scan's processor time (all threads) against the
# deflating's own, which on a shared machine say what the scan costs where its MB/s say
# what share of the cores it got.
#
# PhotoRec carves each database from its first page to the next database's first page (or
# the end of the image); that is why the sparse image's copies lie close together at its
# end: spread over 64 GiB, PhotoRec would write 64 GB of carved files.
#
# usage: bench/compare.sh [--build DIR] [--dir DIR] [--size MiB] [--sparse GiB]
#                         [--repeat N] [--no-photorec]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

build=build
dir=${TMPDIR:-/tmp}/quillon-compare
size=1024
sparse=64
repeat=5
photorec=1
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --sparse) sparse=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --no-photorec) photorec=0; shift ;;
    *) echo "usage: $0 [--build DIR] [--dir DIR] [--size MiB] [--sparse GiB] [--repeat N]" \
         "[--no-photorec]" >&2; exit 2 ;;
  esac
done
bench=$build/bench/quillon-bench
cli=$build/src/cli/quillon-cli
database=$repo/samples/sample-jet4.mdb
for tool in "$bench" "$cli"; do
  [ -x "$tool" ] || { echo "$tool is not built: cmake --build $build" >&2; exit 1; }
done
if [ "$photorec" = 1 ] && ! command -v photorec >/dev/null; then
  echo "photorec is not installed (Debian package testdisk); or use --no-photorec" >&2
  exit 1
fi

mkdir -p "$dir"
trap 'rm -rf "$dir"' EXIT

now() { date +%s.%N; }
TIMEFORMAT='%3U %3S'  # what `time` prints: user and system seconds
rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", b / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b ? a : b) }'; }

echo "Building the images in $dir ..."
head -c $((size * 1024 * 1024)) /dev/urandom >"$dir/no-candidates.img"
db_bytes=$(stat -c %s "$database")
for ((written = 0; written < size * 1024 * 1024; written += db_bytes)); do
  cat "$database"
done >"$dir/dense.img"
truncate -s $((size * 1024 * 1024)) "$dir/dense.img"
truncate -s "${sparse}G" "$dir/sparse.img"
for k in 0 1 2 3; do
  dd if="$database" of="$dir/sparse.img" bs=1M seek=$(((sparse - 1) * 1024 + k * 256)) \
    conv=notrunc status=none
done
images=(no-candidates dense sparse)
labels=("no candidates (random, ${size} MiB)" "dense database pages (${size} MiB)"
        "sparse (${sparse} GiB, 4 databases)")
# Into the page cache. The sparse image does not fit, but the first pass through memory the
# machine has not used yet is slower (on a virtual machine, by a factor of three): whoever
# read first would be at a disadvantage.
for image in "${images[@]}"; do "$bench" --read "$dir/$image.img" >/dev/null; done

printf '\n| image | plain read | Quillon | Quillon / read |'
printf ' PhotoRec (mdb only) | PhotoRec / read |\n'
printf '|---|---|---|---|---|---|\n'
notes=()
for i in "${!images[@]}"; do
  image=$dir/${images[$i]}.img
  bytes=$(stat -c %s "$image")
  read_rate=0
  scan_rate=0
  runs=$repeat
  [ "${images[$i]}" = sparse ] && runs=1  # it is far larger than the page cache: one run
  cpu=""
  for ((r = 0; r < runs; r++)); do
    read_rate=$(best "$read_rate" "$("$bench" --read "$image" | cut -d' ' -f1)")
    start=$(now)
    { time "$cli" scan --force "$image" "$dir/out.frag" >"$dir/scan.out"; } 2>"$dir/scan.time"
    scan_rate=$(best "$scan_rate" "$(rate "$bytes" "$(awk -v a="$start" -v b="$(now)" \
      'BEGIN { print b - a }')")")
    one_cpu=$(tail -n 1 "$dir/scan.time" | awk '{ printf "%.2f", $1 + $2 }')
    cpu=$(awk -v a="$one_cpu" -v b="$cpu" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }')
  done
  summary=$(tail -n 1 "$dir/scan.out")
  fragments=${summary%% fragments*}
  notes+=("${images[$i]}: Quillon wrote $fragments fragments ($(stat -c %s "$dir/out.frag") bytes)")
  if [ "${images[$i]}" = dense ]; then
    zlib_rate=0 zlib_cpu_rate=0
    for ((r = 0; r < repeat; r++)); do
      read -r one_rate _ one_cpu_rate < <("$bench" --zlib "$dir/out.frag" "$bytes")
      zlib_rate=$(best "$zlib_rate" "$one_rate")
      zlib_cpu_rate=$(best "$zlib_cpu_rate" "$one_cpu_rate")
    done
    cores=$(nproc)
    yardstick="dense: Quillon $scan_rate MB/s = $(ratio "$scan_rate" "$((cores * zlib_rate))") ×"
    yardstick+=" ($cores cores × one-core zlib level 1 on its fragments, $zlib_rate MB/s of source);"
    yardstick+=" per core $((scan_rate / cores)) MB/s; the scan's processor time $cpu s (all"
    cpu_share=$(ratio "$(rate "$bytes" "$cpu")" "$zlib_cpu_rate")
    yardstick+=" threads), $(rate "$bytes" "$cpu") MB of source per processor second against"
    yardstick+=" one-core zlib's $zlib_cpu_rate ($cpu_share): on idle cores at most $cpu_share ×"
    yardstick+=" ($cores × one-core zlib)"
    notes+=("$yardstick")
  fi
  rm -f "$dir/out.frag" "$dir/scan.out" "$dir/scan.time"

  photorec_cells="| - | -"
  if [ "$photorec" = 1 ]; then
    rm -rf "$dir/photorec" && mkdir -p "$dir/photorec"
    start=$(now)
    (cd "$dir/photorec" && photorec /log /d "$dir/photorec/recup" /cmd "$image" \
      partition_none,options,keep_corrupted_file_no,fileopt,everything,disable,mdb,enable,search \
      </dev/null >/dev/null 2>&1)
    seconds=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
    photorec_rate=$(rate "$bytes" "$seconds")
    photorec_cells="| $photorec_rate MB/s | $(ratio "$photorec_rate" "$read_rate")"
    files=$(find "$dir/photorec" -name '*.mdb' | wc -l)
    carved=$(find "$dir/photorec" -name '*.mdb' -printf '%s\n' |
      awk '{ s += $1 } END { print s + 0 }')
    notes+=("${images[$i]}: PhotoRec carved $files .mdb files ($carved bytes)")
    rm -rf "$dir/photorec"
  fi
  printf '| %s | %s MB/s | %s MB/s | %s %s |\n' "${labels[$i]}" "$read_rate" "$scan_rate" \
    "$(ratio "$scan_rate" "$read_rate")" "$photorec_cells"
done
echo
printf '%s\n' "${notes[@]}"
echo "($(nproc) cores; random and dense images from the page cache, best of $repeat for the read" \
  "and the scan; one run on the sparse image; one PhotoRec run each)"
