#!/usr/bin/env bash
# Benchmark: pagewright-convert against qpdf, mutool and cp on generated inputs.
# Installs what it needs (the project's packages; mupdf-tools when it may install), builds
# the converter optimised in build-bench/ unless --exe is given, then runs pwbench.py.
# Usage: bash bench/run.sh [--exe=PATH] [--runs=N] [--big] [--inputs=a,b] [--no-mutool]
#                          [--no-check] [--clean]
# The inputs are cached in $PW_BENCH_DIR (default /tmp/pw-bench); --clean deletes them.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=""
pass=()
for a in "$@"; do
  case "$a" in
    --exe=*) exe="${a#--exe=}" ;;
    *) pass+=("$a") ;;
  esac
done
bash scripts/setup.sh
# What only the benchmark needs: python3 (inputs and timing) and, when it may install
# packages, mupdf-tools for the mutool comparison.
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
can_install() { [ -z "$SUDO" ] || command -v sudo >/dev/null; }
export DEBIAN_FRONTEND=noninteractive
if ! command -v python3 >/dev/null; then
  can_install || { echo "bench: python3 is needed" >&2; exit 1; }
  $SUDO apt-get install -y -qq --no-install-recommends python3 >/dev/null
fi
if ! command -v mutool >/dev/null && [[ " ${pass[*]-} " != *" --no-mutool "* ]] && can_install; then
  echo "bench: installing mupdf-tools (mutool)" >&2
  $SUDO apt-get install -y -qq --no-install-recommends mupdf-tools >/dev/null ||
    echo "bench: mupdf-tools not installed; mutool is skipped" >&2
fi
if [ -z "$exe" ]; then
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-bench --target pagewright-convert >/dev/null
  exe=build-bench/cli/pagewright-convert
fi
exec python3 bench/pwbench.py --exe "$exe" "${pass[@]}"
