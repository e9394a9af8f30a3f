# Sourced by the scripts that need the demo server.
# start_demo_server BUILD_DIR: starts qv-tds-server on a free port of
# 127.0.0.1 and sets demo_server_pid and demo_port; stop_demo_server ends it.
start_demo_server() {
  demo_server_log="$(mktemp)"
  "$1/tds_server/qv-tds-server" --port 0 >"$demo_server_log" &
  demo_server_pid=$!
  for _ in $(seq 1 100); do
    grep -q "listening on" "$demo_server_log" && break
    sleep 0.05
  done
  demo_port="$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$demo_server_log")"
  [[ -n $demo_port ]] || { echo "test server did not start" >&2; return 1; }
}

stop_demo_server() {
  [[ -n ${demo_server_pid:-} ]] || return 0
  kill "$demo_server_pid" 2>/dev/null || true
  wait "$demo_server_pid" 2>/dev/null || true
  rm -f "$demo_server_log"
  demo_server_pid=
}
