#!/usr/bin/env bash
# Builds the library and shows it working: starts the TDS test server as a
# separate process, runs the demo tour of the library's C interface against
# it, then the same server through the dbdesk command line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
dir="$root/build-demo"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target quorvex-dbdesk-core qv-tds-server qv-demo dbdesk
source "$root/scripts/demo-server.sh"
trap stop_demo_server EXIT
start_demo_server "$dir"
"$dir/qv-demo" "$dir/quorvex-dbdesk-core.so" "$demo_port"

# The same server through the dbdesk command line. The password comes from
# the environment (or a prompt), never from the command line.
echo "=== dbdesk tour ==="
export DBDESK_PASSWORD=secret
server=(--host 127.0.0.1 --port "$demo_port" --user sa)
tour() {
  echo "\$ dbdesk $(printf '%q ' "$@")"
  local status=0
  "$dir/cli/dbdesk" "$@" || status=$?
  echo "(exit status $status)"
  echo
}
tour version
tour connect-test "${server[@]}"
tour query "${server[@]}" --format table $'SELECT name, database_id FROM sys.databases\nGO\nPRINT \'hello from batch 2\''
tour query "${server[@]}" "SELECT id, owner, balance FROM demo.dbo.accounts"
tour query "${server[@]}" --format csv "SELECT id, owner, balance FROM demo.dbo.accounts"
# A streamed query: the first rows and the progress message show at once,
# the rest after the server's pause; messages and row counts go to stderr.
tour query -S "127.0.0.1,$demo_port" --user sa --format table "EXEC demo.dbo.monthly_report"
# A streamed export: 200,000 rows written to a file as they arrive.
tour query "${server[@]}" --format csv -o "$dir/numbers.csv" "SELECT n, square FROM demo.dbo.numbers"
echo "numbers.csv: $(wc -l <"$dir/numbers.csv") lines, the last: $(tail -n 1 "$dir/numbers.csv")"
echo
tour kill "${server[@]}" 77
tour kill "${server[@]}" 5
tour tree "${server[@]}" databases
tour tree "${server[@]}" --database demo columns --object orders
tour script "${server[@]}" --database demo procedure add_item alter
tour script "${server[@]}" --database demo procedure add_item alter --format json
tour grid load "${server[@]}" --database demo products --max-rows 10 --format table
echo '[{"op":"delete","pk":{"id":3}}]' >"$dir/demo-edits.json"
tour grid apply "${server[@]}" --database demo products --dry-run --file "$dir/demo-edits.json"
tour activity "${server[@]}" sessions --format table
tour storage "${server[@]}" --database demo files --format table
tour query "${server[@]}" --format xml "SELECT 1 AS n"
