#!/usr/bin/env bash
# Benchmarks zefacut on images made with the project's image builder:
#   title1a  64 Title1DiskA disks of 154 tracks each (82 MB)
#   dense    64 such disks whose every track is one track of 65,355 empty
#            sectors that each read scans past (79 MB)
#   far      one such disk whose track runs through 100 MiB of 64 KiB
#            sectors, visited 32 times by a directory that loops back to it
# It reports four figures with their bounds: the 64 disks of title1a cut
# with -d against a floor that writes the same files with no parsing
# (bench/floor.cpp); the system calls per file written; the dry run of dense
# against cat; the bytes read from the image against the tracks needed; and
# the peak memory of each image. Then it times one Title1DiskA disk
# of 154 tracks in every format the tool reads beside the same disk as D88,
# in one hyperfine run, and gives each format's time as a multiple of D88's
# with the bound it is held to; the SCP flux dump of that disk is held to
# its HFE form instead (2 x), d88info must list the whole dump within 10 x
# the time cat takes to read it (bench/flux_speed.sh), and a dump of five
# revolutions must be read in 64 MiB. Last, the
# table of how many sectors the flux decoder reads under noise.
#
# Usage: bench/run.sh [BUILD_DIR]   (default: build/release, configured with
#        the release preset; the benchmark's programs are built only with
#        ZEFACUT_BENCH=ON, which this script sets). Needs hyperfine and strace (apt-get install
#        hyperfine strace).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -B "$build" -DZEFACUT_BENCH=ON >/dev/null
else
  cmake --preset release -DZEFACUT_BENCH=ON
fi
cmake --build "$build" --target zefacut d88info make_bench_image bench_floor flux_noise
tool=$(realpath "$build/zefacut")
floor=$(realpath "$build/bench/bench_floor")
work=$(realpath "$build")/bench-run
rm -rf "$work" && mkdir -p "$work/out"
for image in title1a dense far; do
  "$build/bench/make_bench_image" "$image" "$work/$image.d88"
done
mkdir -p "$work/formats"
"$build/bench/make_bench_image" formats "$work/formats"
cd "$work/out"

# hyperfine's medians of two commands, and the first over the second.
ratio_of() {
  awk -F, -v what="$1" -v bound="$2" 'NR == 2 { a = $4 } NR == 3 { b = $4 }
    END { r = a / b; printf "%-34s %9.1f ms %9.1f ms %6.2f x (bound %s)%s\n", what, a * 1000, b * 1000, r, bound, (r > bound ? "  OVER" : "") }' "$3"
}

echo "== 1. the workload: 64 disks cut with -d, against the floor (bench/floor.cpp)"
# Both replace the files of their previous run, run after run.
"$tool" -q -d -o w1 ../title1a.d88 >/dev/null 2>&1 || true
"$floor" ../title1a.d88 w2
diff -r w1 w2 >/dev/null || { echo "the floor's files differ from zefacut's" >&2; exit 1; }
hyperfine -N --style none --warmup 3 --runs 30 -i --output=null --export-csv ../floor.csv \
  "$tool -q -d -o w1 ../title1a.d88" "$floor ../title1a.d88 w2" >/dev/null
ratio_of "zefacut -d / floor" 1.10 ../floor.csv

echo "== 2. system calls per file written (64 disks, -d)"
# Into a folder the run made, a file takes its name with one link; over a
# previous run's file, an unnamed file needs a name of its own and a rename
# (a link never replaces), the file there is looked at once, and each folder
# is listed once for what runs killed outright left.
for run in "into new folders" "over the files of a previous run"; do
  bound=5
  if [ "$run" = "into new folders" ]; then
    rm -rf w3
  else
    bound=6.5
  fi
  strace -qq -o ../trace.txt -e trace=all "$tool" -q -d -o w3 ../title1a.d88 >/dev/null 2>&1 || true
  files=$(find w3 -type f | wc -l)
  # The image's descriptor is the one opened for the image path; its reads
  # and seeks are not the files' cost.
  fd=$(grep -m1 '^openat(.*title1a.d88' ../trace.txt | sed -E 's/.*= ([0-9]+)$/\1/')
  image_calls=$(sed -n "/^openat(.*title1a.d88/,\$p" ../trace.txt | grep -cE "^(read|lseek|pread64)\\($fd," || true)
  all_calls=$(grep -cE '^[a-z_0-9]+\(' ../trace.txt || true)
  awk -v a="$all_calls" -v i="$image_calls" -v f="$files" -v run="$run" -v bound="$bound" \
    'BEGIN { printf "%-34s %d files, %.2f calls per file (bound %s)%s\n", run, f, (a - i) / f, bound, ((a - i) / f > bound ? "  OVER" : "") }'
done

echo "== 3. dry run (-n) of the dense image, against cat"
hyperfine -N --style none --warmup 1 --runs 10 -i --output=null --export-csv ../dense.csv \
  "$tool -n ../dense.d88" "cat ../dense.d88" >/dev/null
ratio_of "zefacut -n dense / cat" 10 ../dense.csv

echo "== 4. bytes read from the image (64 disks)"
strace -qq -o ../trace.txt -e trace=openat,read,pread64 "$tool" -n ../title1a.d88 >/dev/null 2>&1 || true
fd=$(grep -m1 '^openat(.*title1a.d88' ../trace.txt | sed -E 's/.*= ([0-9]+)$/\1/')
read_bytes=$(sed -n "/^openat(.*title1a.d88/,\$p" ../trace.txt | grep -E "^(read|pread64)\\($fd," |
  awk '{ n = $NF; if (n > 0) s += n } END { print s + 0 }')
# Tracks 1, 4 to 6 and 12 to 22 of each disk hold the signature and the cut
# data: 15 tracks of 8 sectors of 16 + 1024 bytes.
needed=$((64 * 15 * 8 * 1040))
awk -v r="$read_bytes" -v n="$needed" \
  'BEGIN { printf "%-34s %d of %d bytes, %.2f x (bound 1.5)%s\n", "read / needed tracks", r, n, r / n, (r / n > 1.5 ? "  OVER" : "") }'

echo "== memory: peak resident set"
for image in title1a dense far; do
  /usr/bin/time -f "%M" -o ../rss.txt "$tool" -q -d -o w4 "../$image.d88" >/dev/null 2>&1 || true
  awk -v image="$image" 'END { printf "%-34s %.1f MiB (bound 16)%s\n", image, $1 / 1024, ($1 / 1024 > 16 ? "  OVER" : "") }' ../rss.txt
done

[ "${BENCH_FORMATS:-1}" = 0 ] && exit 0
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
  case "$image" in *.scp) continue ;; esac  # held to HFE below
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

echo "== flux (the same disk as an SCP dump of three revolutions: d88info against cat, zefacut against HFE; five revolutions' memory)"
# Cutting reads only the tracks the disk's files lie in; d88info decodes all
# 154 tracks of the dump, on all cores (bench/flux_speed.sh); the
# five-revolution dump (over 64 MiB) is read a track at a time.
"$build/bench/make_bench_image" scp5 "$work/scp5.scp"
if command -v hyperfine >/dev/null; then
  bash "$root/bench/flux_speed.sh" "$(dirname "$tool")" "$work/formats"
fi
/usr/bin/time -f "%M" -o ../rss.txt "$(dirname "$tool")/d88info" "$work/scp5.scp" >/dev/null 2>&1 || true
awk 'END { printf "%-34s %.1f MiB (bound 64)%s\n", "d88info, SCP of 5 revolutions", $1 / 1024, ($1 / 1024 > 64 ? "  OVER" : "") }' ../rss.txt

echo "== flux noise (a Title1DiskA disk of 24 tracks, 192 sectors, three revolutions; sectors read well)"
# Flux changes moved at random, intervals stretched at random, the speed
# drifting within a revolution, the disk read at the other drive speed
# (bench/flux_noise.cpp). No bound: the figures are kept in README.md.
"$build/bench/flux_noise"
