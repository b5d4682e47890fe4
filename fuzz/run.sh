#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer)
# in build-fuzz and runs one target, or all of them one after another, for SECONDS each.
#   fuzz/run.sh TARGET|all [SECONDS] [extra libFuzzer options...]
# Targets: parse xref objstm codec crypt loadsave repair. One fuzzing process each (no -jobs),
# so it can run beside other work; FUZZ_NICE=1 runs it at the lowest priority. A run
# starts from the target's committed seeds and regression inputs plus, for the file
# targets, the small files of ../shared/corpus (PW_CORPUS_DIR overrides); new inputs
# collect in build-fuzz/corpus/TARGET, the log in build-fuzz/fuzz-TARGET.log and
# findings in build-fuzz/findings/TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
TARGETS=(parse xref objstm codec crypt loadsave repair)
which=${1:?usage: fuzz/run.sh TARGET|all [SECONDS] [libFuzzer options...]}
seconds=${2:-60}
shift $(( $# >= 2 ? 2 : 1 ))
if [ "$which" = all ]; then list=("${TARGETS[@]}"); else list=("$which"); fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPW_SANITIZE=ON -DPW_FUZZ=ON -DPW_BUILD_UI=OFF >/dev/null
cmake --build build-fuzz -j "${JOBS:-$(nproc)}" --target "${list[@]/#/fuzz_}"

CORPUS_SRC=${PW_CORPUS_DIR:-$ROOT/../shared/corpus}
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
failed=()
prio=(); [ "${FUZZ_NICE:-0}" = 1 ] && prio=(nice -n 19)

for t in "${list[@]}"; do
  work=build-fuzz/corpus/$t findings=build-fuzz/findings/$t
  mkdir -p "$work" "$findings"
  seeds=()
  for d in fuzz/seeds/$t fuzz/regressions/$t; do [ -d "$d" ] && seeds+=("$d"); done
  maxlen=8192 dict=(-dict=fuzz/pdf.dict)
  case $t in
    xref|loadsave|parse|repair)
      # Small real files only: libFuzzer raises its input size to the largest seed.
      maxlen=65536
      mkdir -p build-fuzz/corpus-small
      find "$CORPUS_SRC" -maxdepth 1 -name '*.pdf' -size -64k -exec cp -n {} build-fuzz/corpus-small/ \; || true
      seeds+=(build-fuzz/corpus-small)
      if [ "$t" = repair ]; then
        # Cut and shifted copies of the small files: what a rebuild meets most.
        mkdir -p build-fuzz/corpus-damaged
        for f in build-fuzz/corpus-small/*.pdf; do
          [ -f "$f" ] || continue
          n=$(stat -c %s "$f") b=$(basename "$f")
          head -c $((n / 2)) "$f" >"build-fuzz/corpus-damaged/half-$b"
          head -c $((n - 40)) "$f" >"build-fuzz/corpus-damaged/tail-$b"
          { printf 'junk before the header\r\n'; cat "$f"; } >"build-fuzz/corpus-damaged/shift-$b"
        done
        seeds+=(build-fuzz/corpus-damaged)
      fi ;;
    codec) dict=() ;;
  esac
  echo "== fuzz_$t for ${seconds}s =="
  status=0
  "${prio[@]}" "build-fuzz/fuzz/fuzz_$t" "$work" "${seeds[@]}" \
    -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "${dict[@]}" "$@" >"build-fuzz/fuzz-$t.log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|ERROR|SUMMARY|stat::' "build-fuzz/fuzz-$t.log" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$t stopped with a finding: see build-fuzz/fuzz-$t.log and $findings/"
    failed+=("$t")
  fi
done
if ((${#failed[@]})); then echo "findings in: ${failed[*]}"; exit 1; fi
