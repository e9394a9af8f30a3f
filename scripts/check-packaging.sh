#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what was installed the
# way the library's users meet it: a consumer project built through the CMake
# package and through pkg-config, the installed dbdesk, the Python module and
# the Node example, each against the demo server.
#   bash scripts/check-packaging.sh BUILD_DIR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
source "$root/scripts/demo-server.sh"
work="$(mktemp -d)"
trap 'stop_demo_server; rm -rf "$work"' EXIT
prefix="$work/prefix"

step() { echo "--- $*"; }

step "cmake --install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir="$prefix/$(cd "$prefix" && ls -d lib*/ | head -n1)"
libdir="${libdir%/}"
soname="$(objdump -p "$libdir/quorvex-dbdesk-core.so" | awk '$1 == "SONAME" {print $2}')"
[[ $soname == quorvex-dbdesk-core.so.1 ]] || { echo "SONAME is '$soname'" >&2; exit 1; }
for f in "$libdir/quorvex-dbdesk-core.so.1" "$prefix/include/quorvex/dbdesk_core.h" \
         "$libdir/pkgconfig/quorvex-dbdesk-core.pc" "$prefix/bin/dbdesk" \
         "$libdir/cmake/quorvex-dbdesk-core/quorvex-dbdesk-core-config.cmake"; do
  [[ -e $f ]] || { echo "not installed: $f" >&2; exit 1; }
done

start_demo_server "$build"

step "consumer through find_package(quorvex-dbdesk-core)"
cmake -S "$root/tests/packaging/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer" "$demo_port"

step "consumer through pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -o "$work/consumer-pc" "$root/tests/packaging/consumer/consumer.c" \
  $(pkg-config --cflags --libs quorvex-dbdesk-core) -Wl,-rpath,"$libdir"
"$work/consumer-pc" "$demo_port"

step "installed dbdesk"
DBDESK_PASSWORD=secret "$prefix/bin/dbdesk" query --host 127.0.0.1 --port "$demo_port" --user sa \
  --format table "SELECT id, owner, balance FROM demo.dbo.accounts"

export DBDESK_CORE_LIBRARY="$libdir/quorvex-dbdesk-core.so.1"
step "Python module"
(cd "$root/bindings/python" && DBDESK_TEST_PORT="$demo_port" PYTHONDONTWRITEBYTECODE=1 python3 -m unittest -v 2>&1 &&
  python3 -B example.py "$demo_port")

step "Node example"
if ! timeout 30 npm ping >/dev/null 2>&1; then
  echo "SKIPPED: Node example: the npm registry cannot be reached (npm ping failed), so koffi cannot be installed"
else
  (cd "$root/bindings/node" && npm ci --no-audit --no-fund --loglevel=error && node example.mjs "$demo_port")
fi
echo "packaging and FFI checks passed"
