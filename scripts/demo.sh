#!/usr/bin/env bash
# Builds the library and shows it working: starts the TDS test server as a
# separate process and runs a connection test and a two-batch query against
# it through the library's C interface, printing the replies.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
dir="$root/build-demo"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target quorvex-dbdesk-core qv-tds-server qv-demo
out="$(mktemp)"
"$dir/tds_server/qv-tds-server" --port 0 >"$out" &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 1 100); do
  grep -q "listening on" "$out" && break
  sleep 0.05
done
port="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$out")"
[[ -n $port ]] || { echo "test server did not start" >&2; exit 1; }
"$dir/qv-demo" "$dir/quorvex-dbdesk-core.so" "$port"
