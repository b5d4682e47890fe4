#!/usr/bin/env bash
# Many files at once: 200 copies of corpus files that convert, through --batch with
# --jobs=1 and --jobs=2 and through the Dask driver (a local cluster of two workers),
# each from an empty output folder, timed in one run (median of --runs, default 3).
# Usage: bash bench/batch.sh [--exe=PATH] [--runs=N] [--files=N]
set -euo pipefail
cd "$(dirname "$0")/.."
exe="build/cli/pagewright-convert"
runs=3
files=200
for a in "$@"; do
  case "$a" in
    --exe=*) exe="${a#--exe=}" ;;
    --runs=*) runs="${a#--runs=}" ;;
    --files=*) files="${a#--files=}" ;;
    *) echo "bench: unknown option $a" >&2; exit 1 ;;
  esac
done
if [ "$exe" = "build/cli/pagewright-convert" ]; then
  bash scripts/setup.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --target pagewright-convert -j "$(nproc)" >/dev/null
fi
exe="$(readlink -f "$exe")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The corpus files a strict reader loads, copied round-robin up to the count.
mapfile -t sources < <(awk -F'\t' 'NR > 1 && $9 == "loads" && $7 == "none" {print $1}' ../shared/corpus/MANIFEST.tsv)
mkdir -p "$work/in"
for ((i = 0; i < files; i++)); do
  cp "../shared/corpus/${sources[i % ${#sources[@]}]}" "$work/in/$(printf '%03d' "$i")-${sources[i % ${#sources[@]}]}"
done
echo "$files files, $(du -sh "$work/in" | cut -f1), on $(nproc) cores"

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
timed() {  # prints the seconds of one run of "$@" into an empty output folder
  rm -rf "$work/out"
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN {print b - a}' 
}
declare -A result
for name in jobs1 jobs2 dask2; do
  for ((r = 0; r < runs; r++)); do
    case "$name" in
      jobs1) timed "$exe" --batch --jobs=1 "$work/in" -o "$work/out" ;;
      jobs2) timed "$exe" --batch --jobs=2 "$work/in" -o "$work/out" ;;
      dask2) timed /usr/bin/python3 scripts/pagewright-dask.py --workers=2 --converter="$exe" "$work/in" -o "$work/out" ;;
    esac
  done > "$work/$name.times"
  result[$name]=$(median < "$work/$name.times")
  printf '%-28s %8.2f s\n' "$name" "${result[$name]}"
done
awk -v j1="${result[jobs1]}" -v j2="${result[jobs2]}" -v d="${result[dask2]}" \
  'BEGIN {printf "jobs=2 / jobs=1: %.2f   dask (2 workers) / jobs=2: %.2f\n", j2 / j1, d / j2}' 
