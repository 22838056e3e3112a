#!/bin/sh
# Runs two builds of quillon-cli on the same database images and compares every output
# byte for byte: scan's fragment files, recover's SQLite (as `sqlite3 .dump`), workbooks
# (part by part, all but the time they were written), CSV, report and manifest (from the
# image and from the fragment file, with and without --json), and rows' JSON and CSV.
# Meant for changes that must not change any output.
#
#   scripts/compare-outputs.sh OLD-CLI NEW-CLI WORKDIR [DATABASE...]
#
# Without DATABASEs: samples/*.mdb and the Access-written databases in
# ../shared/fixtures/real. Each database becomes three images: the file itself, the file
# with its first 16 KiB zeroed, and the file cut in 64 KiB pieces shuffled with a fixed
# seed. Both builds run in turn in the same folder, whose outputs are then moved aside, so
# the paths they print and store agree. Exit status: 0 when every output is identical, 1 when any differs,
# 2 on a usage or harness error.
set -u

if [ $# -lt 3 ]; then
  echo "usage: $0 OLD-CLI NEW-CLI WORKDIR [DATABASE...]" >&2
  exit 2
fi
old=$(realpath "$1") new=$(realpath "$2") work=$3
shift 3
here=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -eq 0 ]; then
  set -- "$here"/samples/*.mdb
  for db in "$here"/../shared/fixtures/real/*.mdb "$here"/../shared/fixtures/real/*.accdb; do
    [ -f "$db" ] && set -- "$@" "$db"
  done
fi
for tool in python3 sqlite3 cmp; do
  command -v $tool >/dev/null || { echo "$0: $tool is needed" >&2; exit 2; }
done
if [ -e "$work" ]; then
  echo "$0: $work exists; give a new folder" >&2
  exit 2
fi
mkdir -p "$work/images" "$work/old" "$work/new" "$work/run" || exit 2
work=$(realpath "$work")

python3 - "$work/images" "$@" <<'PY' || exit 2
import os, random, sys
out = sys.argv[1]
for db in sys.argv[2:]:
    data = open(db, "rb").read()
    name = os.path.basename(db).replace(".", "-")
    open(os.path.join(out, name + "-whole.img"), "wb").write(data)
    zeroed = bytes(min(16384, len(data))) + data[16384:]
    open(os.path.join(out, name + "-head-zeroed.img"), "wb").write(zeroed)
    pieces = [data[at:at + 65536] for at in range(0, len(data), 65536)]
    random.Random(20240611).shuffle(pieces)
    open(os.path.join(out, name + "-shuffled-64k.img"), "wb").write(b"".join(pieces))
PY

# Runs every command for one image with one binary in the shared folder, then moves what
# it wrote to its side's folder.
run_side() {  # side cli image
  side=$1 cli=$2 image=$3
  base=$(basename "$image" .img)
  (
    cd "$work/run" || exit 2
    ln -sfn ../images images
    out=$base
    mkdir -p "$out"
    img=images/$base.img
    "$cli" scan --quiet --force "$img" "$out/scan.frag" >"$out/scan.stdout" 2>"$out/scan.stderr"
    echo $? >"$out/scan.status"
    "$cli" recover --quiet "$img" "$out/recover-image" >"$out/recover-image.stdout" 2>"$out/recover-image.stderr"
    echo $? >"$out/recover-image.status"
    "$cli" recover --json "$img" "$out/recover-image-json" >"$out/recover-image.json" 2>"$out/recover-image-json.stderr"
    echo $? >"$out/recover-image-json.status"
    if [ -f "$out/scan.frag" ]; then
      "$cli" recover --json "$out/scan.frag" "$out/recover-frag" >"$out/recover-frag.json" 2>"$out/recover-frag.stderr"
      echo $? >"$out/recover-frag.status"
      "$cli" rows --json "$out/scan.frag" >"$out/rows.json" 2>"$out/rows-json.stderr"
      echo $? >"$out/rows-json.status"
      "$cli" rows "$out/scan.frag" --csv "$out/rows-csv" >"$out/rows-csv.stdout" 2>"$out/rows-csv.stderr"
      echo $? >"$out/rows-csv.status"
    fi
    mv "$out" "$work/$side/$out"
  )
}

for image in "$work"/images/*.img; do
  run_side old "$old" "$image"
  run_side new "$new" "$image"
done

# Compares every file the old side wrote with the new side's, and lists files only one
# side wrote.
compared=0 identical=0 differing=0
cd "$work/old" || exit 2
listing=$(mktemp)
{ find . -type f; (cd "$work/new" && find . -type f); } | sort -u >"$listing"
while IFS= read -r file; do
  compared=$((compared + 1))
  a=$work/old/$file b=$work/new/$file
  if [ ! -f "$a" ] || [ ! -f "$b" ]; then
    echo "only one side wrote $file"
    differing=$((differing + 1))
    continue
  fi
  case $file in
    *.sqlite)
      if [ "$(sqlite3 "$a" .dump)" = "$(sqlite3 "$b" .dump)" ]; then same=1; else same=0; fi ;;
    *.xlsx)
      # A workbook carries the second it was written in docProps/core.xml: every other part
      # must match byte for byte.
      if python3 - "$a" "$b" <<'PY'
import sys, zipfile
def parts(path):
    with zipfile.ZipFile(path) as z:
        return {n: z.read(n) for n in z.namelist() if n != "docProps/core.xml"}
sys.exit(0 if parts(sys.argv[1]) == parts(sys.argv[2]) else 1)
PY
      then same=1; else same=0; fi ;;
    *)
      if cmp -s "$a" "$b"; then same=1; else same=0; fi ;;
  esac
  if [ $same = 1 ]; then
    identical=$((identical + 1))
  else
    echo "differs: $file"
    differing=$((differing + 1))
  fi
done <"$listing"
rm -f "$listing"
echo "images: $(ls "$work"/images/*.img | wc -l), files compared: $compared, identical: $identical, differing: $differing"
[ $differing -eq 0 ]
