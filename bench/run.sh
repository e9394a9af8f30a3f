#!/usr/bin/env bash
# Builds the library, the test server and qv-bench in build-bench/ (release
# flags, no tests) and runs the benchmark; arguments go to qv-bench, e.g.
#   bash bench/run.sh --baseline /path/to/older/quorvex-dbdesk-core.so
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QV_BENCH_BUILD_DIR:-$root/build-bench}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_BENCH=ON \
  -DQV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target qv-bench >/dev/null
exec "$build/bench/qv-bench" "$@"
