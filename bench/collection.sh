#!/usr/bin/env bash
# Benchmarks -r and -j on a collection made with the image builder
# (bench/make_collection.cpp): a tree of 2,000 inputs, and the same ten times
# over. Figures, each the median of hyperfine's runs:
#   1. zefacut -r -n -j 1 over the tree, against today's way of giving the
#      same files on one command line (find ... -print0 | xargs -0 zefacut
#      -n -q), and against cat reading the images outside archives;
#   2. -j 2 against -j 1;
#   3. ten times the tree against the tree (-j 1);
#   4. the peak memory of -j 2 over the ten trees.
# Usage: bench/collection.sh [BUILD_DIR]   (default build/release, configured
#        with the release preset). Needs hyperfine (apt-get install hyperfine)
#        and GNU time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
[ -f "$build/CMakeCache.txt" ] || cmake --preset release
cmake --build "$build" --target zefacut make_collection
tool=$(realpath "$build/zefacut")
work=$(realpath "$build")/bench-collection
if [ ! -d "$work/ten" ]; then
  rm -rf "$work" && mkdir -p "$work"
  "$build/make_collection" "$work/one"
  "$build/make_collection" "$work/ten" 10
fi
cd "$work"

median() {  # the median of a hyperfine CSV's row N, in seconds
  awk -F, -v row="$2" 'NR == row + 1 { print $4 }' "$1"
}

echo "== 1. the tree of 2,000 inputs: -r -j 1 against the files given by xargs, and cat"
hyperfine -N --style none --warmup 2 --runs 10 -i --export-csv one.csv \
  "$tool -r -n -q -j 1 one" >/dev/null
hyperfine --style none --warmup 2 --runs 10 -i --export-csv xargs.csv \
  "find one -type f -print0 | xargs -0 $tool -n -q >/dev/null 2>&1" \
  "find one -type f \\( -name '*.d88' -o -name '*.imd' -o -name '*.dim' -o -name '*.fdi' -o -name '*.nfd' -o -name '*.td0' \\) -print0 | xargs -0 cat >/dev/null" \
  "find one -type f \\( -name '*.d88' -o -name '*.imd' -o -name '*.dim' -o -name '*.fdi' -o -name '*.nfd' -o -name '*.td0' \\) -print0 | xargs -0 $tool -n -q -j 1 >/dev/null 2>&1" \
  >/dev/null
r=$(median one.csv 1)
x=$(median xargs.csv 1)
c=$(median xargs.csv 2)
i=$(median xargs.csv 3)
awk -v r="$r" -v x="$x" -v c="$c" -v i="$i" 'BEGIN {
  printf "%-44s %8.3f s\n", "zefacut -r -n -j 1 (the tree)", r
  printf "%-44s %8.3f s  (%.2f x)\n", "find | xargs zefacut -n -q", x, r / x
  printf "%-44s %8.3f s\n", "the images outside archives: zefacut -j 1", i
  printf "%-44s %8.3f s  (zefacut %.2f x cat)\n", "the images outside archives: cat", c, i / c }'

echo "== 2. -j 2 against -j 1"
hyperfine -N --style none --warmup 2 --runs 10 -i --export-csv jobs.csv \
  "$tool -r -n -q -j 1 one" "$tool -r -n -q -j 2 one" >/dev/null
awk -v a="$(median jobs.csv 1)" -v b="$(median jobs.csv 2)" 'BEGIN {
  printf "%-44s %8.3f s\n%-44s %8.3f s  (%.2f x faster)\n", "-j 1", a, "-j 2", b, a / b }'

echo "== 3. ten times the tree (-j 1)"
hyperfine -N --style none --warmup 1 --runs 5 -i --export-csv ten.csv \
  "$tool -r -n -q -j 1 ten" >/dev/null
awk -v a="$r" -v b="$(median ten.csv 1)" 'BEGIN {
  printf "%-44s %8.3f s  (%.2f x the tree)\n", "20,000 inputs", b, b / a }'

echo "== 4. peak memory, -j 2 over ten times the tree, writing"
rm -rf out
/usr/bin/time -f "%M" -o rss.txt "$tool" -r -q -j 2 -o out ten >/dev/null 2>&1 || true
awk 'END { printf "%-44s %8.1f MiB (bound 64)%s\n", "peak resident set", $1 / 1024, ($1 / 1024 > 64 ? "  OVER" : "") }' rss.txt
