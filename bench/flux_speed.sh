#!/usr/bin/env bash
# Times the flux decoding on one Title1DiskA disk of 154 tracks written by
# the tests' flux writer as an SCP dump of three revolutions a track (58 MB)
# and, beside it, as HFE:
#   d88info listing the whole SCP (every track decoded, on all cores),
#   against cat reading the same file                         bound 10 x
#   zefacut cutting the disk from the SCP (only the tracks it cuts are
#   decoded), against cutting it from the HFE                 bound 2 x
# Each pair is timed in one hyperfine run; the figure is the ratio of the
# medians of the wall time. The ratio of the CPU time (user + system) is
# given beside it: on a machine busy with other work the wall time of a
# program on two threads says little.
#
# Usage: bench/flux_speed.sh [BUILD_DIR [FORMATS_DIR]]   (default:
#        build/release, and the disk is written there). Run by bench/run.sh;
#        needs hyperfine (apt-get install hyperfine).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
[ -f "$build/CMakeCache.txt" ] || cmake --preset release -DZEFACUT_BENCH=ON
build=$(realpath "$build")
formats=${2:-}
if [ -z "$formats" ]; then
  cmake --build "$build" --target zefacut d88info make_bench_image >/dev/null
  formats="$build/bench-flux"
  rm -rf "$formats" && mkdir -p "$formats"
  "$build/bench/make_bench_image" formats "$formats"
fi
formats=$(realpath "$formats")
scp="$formats/title1a-SCP.scp"
hfe="$formats/title1a-HFE.hfe"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The two commands of a hyperfine CSV: their medians, the first over the
# second, and the same of their CPU time.
ratio_of() {
  awk -F, -v what="$1" -v bound="$2" '
    NR == 2 { a = $4; ac = $5 + $6 } NR == 3 { b = $4; bc = $5 + $6 }
    END {
      r = a / b
      printf "%-30s %8.1f ms %8.1f ms %6.2f x (bound %s)%s; CPU %.1f ms / %.1f ms = %.2f x\n",
        what, a * 1000, b * 1000, r, bound, (r > bound ? "  OVER" : ""), ac * 1000, bc * 1000, ac / bc
    }' "$3"
}

printf "%-30s %11s %11s\n" "" "median" "against"
hyperfine -N --style none --warmup 2 --runs 15 -i --output=null --export-csv d88info.csv \
  "$build/d88info $scp" "cat $scp" >/dev/null
ratio_of "d88info SCP / cat" 10 d88info.csv
hyperfine -N --style none --warmup 3 --runs 20 -i --output=null --export-csv cut.csv \
  "$build/zefacut -q -d -o scp $scp" "$build/zefacut -q -d -o hfe $hfe" >/dev/null
ratio_of "zefacut SCP / HFE" 2 cut.csv
