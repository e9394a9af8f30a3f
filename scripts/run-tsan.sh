#!/usr/bin/env bash
# Builds the stress test with ThreadSanitizer in ROOT/build-ci-tsan and runs
# it: 32 threads calling every operation at once against one test server.
# Any ThreadSanitizer report (or a failed check) fails the script.
#   usage: scripts/run-tsan.sh [ROOT]
set -euo pipefail
root="$(cd "${1:-$(dirname "$0")/..}" && pwd)"
dir="$root/build-ci-tsan"
log="$dir/stress-tsan.log"
start=$SECONDS

echo "=== ThreadSanitizer build ==="
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_TSAN=ON -DQV_SANITIZE=OFF \
  -DQV_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target qv_stress_tests
echo "built in $((SECONDS - start)) s"

echo "=== stress test under ThreadSanitizer ==="
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp"
status=0
"$dir/tests/qv_stress_tests" 2>&1 | tee "$log" || status=$?
# halt_on_error already ends the run with a failing status; the log check
# also catches a report printed by a child or at exit.
if grep -q "WARNING: ThreadSanitizer" "$log"; then
  echo "ThreadSanitizer reported a problem (see $log)" >&2
  status=1
fi
echo "total $((SECONDS - start)) s"
exit "$status"
