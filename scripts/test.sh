#!/usr/bin/env bash
# Builds Pagewright twice (plain, and with AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test; the plain run's CTest summary comes last. Warnings are errors here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
JOBS="${JOBS:-$(nproc)}"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_SANITIZE=ON -DPW_BUILD_UI=OFF -DPW_WERROR=ON >/dev/null
cmake --build build-asan -j "$JOBS"
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
echo "== engine tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
ctest --test-dir build-asan -L engine -j "$JOBS" --output-on-failure --timeout 600
unset ASAN_OPTIONS UBSAN_OPTIONS

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPW_WERROR=ON >/dev/null
cmake --build build -j "$JOBS"
echo "== all tests =="
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build -j "$JOBS" --output-on-failure --timeout 600
