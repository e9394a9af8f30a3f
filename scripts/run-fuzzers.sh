#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, QV_FUZZ=ON) in ROOT/build-ci-fuzz and
# runs each for a bounded time, two at a time, each on a scratch copy of its
# seed corpus (fuzz/corpus/<name>/, optional): nothing new is written into
# the checkout. Prints every target's executions and fails on any crash,
# leak, sanitizer report, time-out or broken property; the inputs that
# failed are kept in the scratch directory, whose path is printed.
#   bash scripts/run-fuzzers.sh [ROOT | BUILD_DIR]
#   QV_FUZZ_SECONDS: seconds per target (default 20, at most 60)
set -uo pipefail
readonly kMaxSeconds=60
readonly kParallel=2
readonly kRssLimitMb=2048
readonly kInputTimeoutS=10

# The argument is the checkout, or a build directory of one.
arg="$(cd "${1:-$(dirname "$0")/..}" && pwd)" || exit 2
if [[ -f $arg/CMakeCache.txt && ! -f $arg/CMakeLists.txt ]]; then
  build="$arg"
  root="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")"
else
  root="$arg"
  build="$root/build-ci-fuzz"
fi
[[ -d $root/fuzz ]] || { echo "run-fuzzers: no fuzz/ under $root" >&2; exit 2; }

seconds="${QV_FUZZ_SECONDS:-20}"
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 1)); then
  echo "run-fuzzers: QV_FUZZ_SECONDS must be a whole number of seconds" >&2
  exit 2
fi
((seconds > kMaxSeconds)) && seconds=$kMaxSeconds

started=$SECONDS
targets=()
for src in "$root"/fuzz/*_fuzzer.cpp; do
  [[ -e $src ]] && targets+=("$(basename "$src" .cpp)")
done
((${#targets[@]})) || { echo "run-fuzzers: no fuzz/*_fuzzer.cpp" >&2; exit 2; }

echo "=== fuzz build: ${targets[*]} ==="
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DQV_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" -j"$kParallel" --target "${targets[@]}" || exit 1
built=$((SECONDS - started))

scratch="$(mktemp -d "${TMPDIR:-/tmp}/qv-fuzz.XXXXXX")"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"

# Runs one target on its own corpus copy; its log is scratch/<name>.log and
# a failing input lands in scratch/<name>/.
run_one() {
  local binary="$1" name
  name="$(basename "$binary")"
  local corpus="$scratch/$name/corpus" seeds="$root/fuzz/corpus/${name%_fuzzer}"
  mkdir -p "$corpus"
  [[ -d $seeds ]] && cp -R "$seeds/." "$corpus/"
  "$binary" "$corpus" -max_total_time="$seconds" -rss_limit_mb="$kRssLimitMb" \
    -timeout="$kInputTimeoutS" -artifact_prefix="$scratch/$name/" -print_final_stats=1 \
    >"$scratch/$name.log" 2>&1
  echo $? >"$scratch/$name.rc"
}

echo "=== fuzzing, ${seconds}s per target, $kParallel at a time ==="
mapfile -t binaries < <(find "$build" -type f -name '*_fuzzer' -perm -u+x | sort)
failed=0
for target in "${targets[@]}"; do
  printf '%s\n' "${binaries[@]}" | grep -q "/$target\$" || { echo "FAIL $target: not built"; failed=1; }
done
for binary in "${binaries[@]}"; do
  while (($(jobs -rp | wc -l) >= kParallel)); do wait -n; done
  run_one "$binary" &
done
wait

for binary in "${binaries[@]}"; do
  name="$(basename "$binary")"
  log="$scratch/$name.log"
  rc="$(cat "$scratch/$name.rc" 2>/dev/null || echo lost)"
  done_line="$(grep -m1 -E '^Done [0-9]+ runs' "$log")"
  if [[ $rc != 0 ]] || grep -qE 'ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:|property violated' "$log"; then
    failed=1
    echo "FAIL $name (exit $rc)"
    grep -E 'ERROR:|SUMMARY:|runtime error:|property violated|Test unit written to|artifact' "$log" | head -20
    echo "  log: $log"
  else
    echo "ok   $name: ${done_line:-no 'Done' line}"
  fi
done

echo "fuzz: build ${built}s, total $((SECONDS - started))s"
if ((failed)); then
  echo "fuzz: failures; inputs and logs kept in $scratch"
  exit 1
fi
rm -rf "$scratch"
