#!/usr/bin/env bash
# Benchmarks zefacut on images made with the project's image builder:
#   title1a  64 Title1DiskA disks of 154 tracks each (82 MB)
#   dense    64 such disks whose every track is one track of 65,355 empty
#            sectors that each read scans past (79 MB)
#   far      one such disk whose track runs through 100 MiB of 64 KiB
#            sectors, visited 32 times by a directory that loops back to it
# For title1a it also counts, with strace, the bytes read from the image and
# the system calls made per file written.
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
