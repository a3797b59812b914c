#!/usr/bin/env bash
# Runs vtxserver on the private demo store under <var dir>, shows that it serves, and stops it.
# Usage: tools/demo.sh <build dir> <var dir>
set -euo pipefail
build="$(cd "$1" && pwd)"
mkdir -p "$2"
var="$(cd "$2" && pwd)"
server="$build/server/vtxserver"
[ -x "$server" ] || { echo "vtxserver is not built in $build" >&2; exit 1; }

export VANTREX_RUNTIME_DIR="$var/run"
export VANTREX_REGISTRY="$var/registry.db"
export VANTREX_APPDATA="$var/appdata"
export VANTREX_SYSLOG_SOCKET="$var/run/log.sock"
mkdir -p "$VANTREX_RUNTIME_DIR" "$VANTREX_APPDATA"
log="$var/vtxserver.log"

echo "== starting vtxserver /SERVICE (store under $var)"
"$server" /SERVICE 2>"$log" &
pid=$!
for _ in $(seq 50); do
  [ -e "$VANTREX_RUNTIME_DIR/vtxserver.lock" ] && break
  sleep 0.1
done
sleep 0.3
if ! kill -0 "$pid" 2>/dev/null; then
  echo "vtxserver ended early:" >&2
  cat "$log" >&2
  exit 1
fi
echo "vtxserver runs as process $pid"

echo "== a second start finds the running server and ends at once"
"$server" /SERVICE 2>&1 | sed 's/^/   second: /'

echo "== stopping it (SIGTERM arrives as WM_ENDSESSION)"
kill -TERM "$pid"
wait "$pid"
echo "vtxserver ended with status $?"
echo "== its event entries"
sed 's/^/   /' "$log"
