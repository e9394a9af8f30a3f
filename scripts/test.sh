#!/usr/bin/env bash
# Builds the project twice (normal, and AddressSanitizer + UBSan) and runs the
# whole test suite in each build; runs the integration suite under valgrind
# memcheck, the thread stress test under ThreadSanitizer and every fuzz
# target for a bounded time; then checks the installed files: a consumer
# project, the installed dbdesk, the Python module and the Node example.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# Include layering first: a wrong include fails here before any build starts.
echo "=== include layers ==="
bash "$root/scripts/check-layers-test.sh"
bash "$root/scripts/check-layers.sh" "$root"
bash "$root/scripts/install-deps.sh"
jobs="$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"
for variant in normal sanitize; do
  dir="$root/build-ci-$variant"
  flag=OFF
  [[ $variant == sanitize ]] && flag=ON
  echo "=== $variant build ==="
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=$flag -DQV_BUILD_BENCH=ON >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure --timeout 300 -j"$jobs")
done
echo "=== leak check (valgrind memcheck) ==="
bash "$root/scripts/run-valgrind.sh" "$root/build-ci-normal"
echo "=== thread sanitizer ==="
bash "$root/scripts/run-tsan.sh" "$root"
echo "=== fuzzing ==="
bash "$root/scripts/run-fuzzers.sh" "$root"
echo "=== packaging and FFI checks ==="
bash "$root/scripts/check-packaging.sh" "$root/build-ci-normal"
