#!/usr/bin/env bash
# Benchmarks zefacut on images made with the project's image builder:
#   title1a  64 Title1DiskA disks of 154 tracks each (82 MB)
#   dense    64 such disks whose every track is one track of 65,355 empty
#            sectors that each read scans past (79 MB)
#   far      one such disk whose track runs through 100 MiB of 64 KiB
#            sectors, visited 32 times by a directory that loops back to it
# For title1a it also counts, with strace, the bytes read from the image and
# the system calls made per file written. Then it times one Title1DiskA disk
# of 154 tracks in every format the tool reads beside the same disk as D88,
# in one hyperfine run, and gives each format's time as a multiple of D88's
# with the bound it is held to.
#
# Usage: bench/run.sh [BUILD_DIR]   (default: build/release, configured with
#        the release preset). Needs hyperfine and strace (apt-get install
#        hyperfine strace); without hyperfine it times single runs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
[ -f "$build/CMakeCache.txt" ] || cmake --preset release
cmake --build "$build" --target zefacut make_bench_image
tool=$(realpath "$build/zefacut")
work=$(realpath "$build")/bench
rm -rf "$work" && mkdir -p "$work/out"
for image in title1a dense far; do
  "$build/make_bench_image" "$image" "$work/$image.d88"
done
mkdir -p "$work/formats"
"$build/make_bench_image" formats "$work/formats"
cd "$work/out"

echo "== time (zefacut against cat of the same image)"
for image in title1a dense far; do
  if command -v hyperfine >/dev/null; then
    # Every image holds one kind of disk 64 times: the files are replaced, with
    # a warning each, so the tool ends with status 2.
    hyperfine --style basic --warmup 1 --runs 5 -i \
      "$tool ../$image.d88 >/dev/null 2>&1" "cat ../$image.d88 >/dev/null"
  else
    /usr/bin/time -f "$image: zefacut %e s, %M KB" "$tool" "../$image.d88" >/dev/null 2>/dev/null
    /usr/bin/time -f "$image: cat %e s" cat "../$image.d88" >/dev/null
  fi
done

echo "== reads and system calls (title1a)"
strace -qq -o ../trace.txt -e trace=all "$tool" ../title1a.d88 >/dev/null 2>&1 || true
files=$(grep -c '^rename(' ../trace.txt || true)
# The image's descriptor is the one opened for the image path.
# Its reads and seeks are those on its descriptor after it was opened.
fd=$(grep -m1 '^openat(.*title1a.d88' ../trace.txt | sed -E 's/.*= ([0-9]+)$/\1/')
sed -n "/^openat(.*title1a.d88/,\$p" ../trace.txt | grep -E "^(read|lseek)\\($fd," >../image-calls.txt || true
read_bytes=$(awk '/^read/ { n = $NF; if (n > 0) s += n } END { print s + 0 }' ../image-calls.txt)
image_calls=$(wc -l <../image-calls.txt)
all_calls=$(grep -cE '^[a-z_0-9]+\(' ../trace.txt || true)
# Tracks 1, 4 to 6 and 12 to 22 of each disk hold the signature and the cut
# data: 15 tracks of 8 sectors of 16 + 1024 bytes.
needed=$((64 * 15 * 8 * 1040))
echo "files written:                 $files"
echo "bytes read from the image:     $read_bytes"
echo "bytes of the needed tracks:    $needed"
awk -v r="$read_bytes" -v n="$needed" 'BEGIN { printf "ratio:                         %.2f\n", r / n }'
echo "reads and seeks on the image:  $image_calls"
echo "other system calls:            $((all_calls - image_calls))"
awk -v a="$all_calls" -v i="$image_calls" -v f="$files" \
  'BEGIN { printf "other calls per file written:  %.2f\n", (a - i) / f }'

echo "== formats (one Title1DiskA disk in each format, against the same disk as D88)"
# Each format is timed in one hyperfine run with the D88 image, the two
# interleaved run by run in spirit: a fresh D88 time beside every format, so
# that a drift of the machine over the whole benchmark does not land on the
# formats timed last. Bounds: the flat and sector-map formats 1.1 x D88, IMD
# 1.5 x, HFE (the whole disk decoded from its bitstream) 5 x.
d88="$work/formats/title1a-D88.d88"
printf "%-16s %12s %12s %8s %6s\n" "image" "median (ms)" "D88 (ms)" "x D88" "bound"
for image in "$work"/formats/*; do
  [ "$image" = "$d88" ] && continue
  name=$(basename "$image")
  name=${name#title1a-}
  case "$name" in
    IMD*) bound=1.5 ;;
    HFE*) bound=5.0 ;;
    *) bound=1.1 ;;
  esac
  if command -v hyperfine >/dev/null; then
    hyperfine --style none --warmup 5 --runs 60 --export-csv ../pair.csv \
      "$tool $d88 >/dev/null 2>&1" "$tool $image >/dev/null 2>&1" >/dev/null
    awk -F, -v name="$name" -v bound="$bound" 'NR == 2 { base = $4 } NR == 3 { own = $4 }
      END {
        ratio = own / base
        over = ratio > bound ? "  OVER" : ""
        printf "%-16s %12.2f %12.2f %8.2f %6.1f%s\n", name, own * 1000, base * 1000, ratio, bound, over
      }' ../pair.csv
  else
    /usr/bin/time -f "$name: %e s" "$tool" "$image" >/dev/null 2>/dev/null
  fi
done
