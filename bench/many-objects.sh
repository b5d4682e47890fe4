#!/bin/bash
# Times `pagewright-convert --info` on files of 16,000 and 160,000 objects, kept in a
# classic table and in object streams (made with qpdf), and prints the time per object.
# Usage: bench/many-objects.sh [path/to/pagewright-convert]
set -e
exe=${1:-build/cli/pagewright-convert}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
time_info() {  # best of three runs, in microseconds
  local best= s e t
  for run in 1 2 3; do
    s=$(date +%s%N); "$exe" --info "$1" > "$dir/out.txt"; e=$(date +%s%N)
    t=$(( (e - s) / 1000 ))
    if [ -z "$best" ] || [ $t -lt $best ]; then best=$t; fi
  done
  echo $best
}
# What a run costs without objects: start-up and a near-empty file.
python3 "$(dirname "$0")/many-objects.py" 0 "$dir/empty.pdf"
base=$(time_info "$dir/empty.pdf")
echo "start-up and an empty file: ${base} us"
for n in 16000 160000; do
  python3 "$(dirname "$0")/many-objects.py" $n "$dir/table-$n.pdf"
  qpdf --object-streams=generate "$dir/table-$n.pdf" "$dir/objstm-$n.pdf"
done
for kind in table objstm; do
  for n in 16000 160000; do
    best=$(time_info "$dir/$kind-$n.pdf")
    objects=$(grep '^objects:' "$dir/out.txt" | cut -d' ' -f2)
    echo "$kind $n objects: ${best} us total, $(( (best - base) * 1000 / n )) ns per object beyond start-up (store holds $objects)"
  done
done
