#!/usr/bin/env bash
# Runs the integration suite (the shared library through its C interface,
# against the test server) under valgrind's memcheck and fails on any memory
# error and on any block definitely or indirectly lost. The build must be a
# normal one (no sanitizers): BUILD_DIR/tests/qv_integration_tests.
#   bash scripts/run-valgrind.sh BUILD_DIR
#
# The suite runs as two gtest shards side by side (one per core); each
# shard's valgrind log is kept in BUILD_DIR/valgrind/. Every test of the
# suite runs, the timed ones included: their waits are the test server's
# scripted delays and the library's time-outs and cancels, which are real
# time and far longer than what valgrind's slowdown adds to the work
# around them. The whole run takes about a minute and a half on two cores.
#
# Only definite and indirect losses fail the run: blocks still reachable at
# exit are process-wide state. tests/valgrind.supp names each suppressed
# allocation and why it is not the library's to free.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
tests="$build/tests/qv_integration_tests"
[[ -x $tests ]] || { echo "not built: $tests" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind is missing (scripts/install-deps.sh)" >&2; exit 1; }
logs="$build/valgrind"
rm -rf "$logs"
mkdir -p "$logs"
shards=2
start=$(date +%s)

run_shard() {
  local index=$1
  GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$index \
    valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect \
             --error-exitcode=1 --suppressions="$root/tests/valgrind.supp" --num-callers=30 \
             --log-file="$logs/shard$index.log" \
             "$tests" >"$logs/shard$index.out" 2>&1
}

pids=()
for ((i = 0; i < shards; ++i)); do
  run_shard "$i" &
  pids+=($!)
done
failed=0
for ((i = 0; i < shards; ++i)); do
  if ! wait "${pids[$i]}"; then
    failed=1
    echo "shard $i failed: $logs/shard$i.out, $logs/shard$i.log" >&2
    grep -E '^\[  FAILED  \]' "$logs/shard$i.out" >&2 || true
  fi
done
for ((i = 0; i < shards; ++i)); do
  echo "--- shard $i: $(grep -E '^\[  PASSED  \]' "$logs/shard$i.out" || echo 'tests failed')"
  sed -n 's/^==[0-9]*== \{1,\}\(definitely lost\|indirectly lost\|possibly lost\|still reachable\|suppressed\|ERROR SUMMARY\)/  \1/p' \
    "$logs/shard$i.log"
done
echo "valgrind run: $(($(date +%s) - start)) s"
exit $failed
