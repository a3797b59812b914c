#!/usr/bin/env bash
# The main job on a private demo store under <var dir>: installs the product there, registers a data
# source (a file: copy of the sample page of the European Central Bank's format, converted by eurfeed),
# starts vtxserver, runs one update over its pipe, prints the stored rates, shows a few commands, and
# keeps the server running on its schedule until Ctrl-C.
# Usage: tools/demo.sh <build dir> <var dir>
set -euo pipefail
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
mkdir -p "$2"
var="$(cd "$2" && pwd)"

export VANTREX_RUNTIME_DIR="$var/run"
export VANTREX_REGISTRY="$var/registry.db"
export VANTREX_APPDATA="$var/appdata"
export VANTREX_SYSLOG_SOCKET="$var/run/log.sock"
mkdir -p "$VANTREX_RUNTIME_DIR" "$VANTREX_APPDATA" "$var/pages"
product="$var/product"
log="$var/vtxserver.log"
events="$var/events.log"
pipe="$VANTREX_RUNTIME_DIR/HulvaneVantrexAppPipe"

echo "== installing into $product and registering it in the demo store ($VANTREX_REGISTRY)"
cmake --install "$build" --prefix "$product" >/dev/null
cp "$source_dir/resources/samples/eurofxref.html" "$var/pages/eurofxref.html"
# The currency-definitions check after the first update reads a local sample, not the maker's host.
cp "$source_dir/resources/samples/definitions.txt" "$var/pages/definitions.txt"
export VANTREX_DEFINITIONS_URL="file://$var/pages/definitions.txt"
"$product/vtxsetup" "$product" --source "file://$var/pages/eurofxref.html" eurfeed.ini --schedule 3600 86400
server="$product/vtxserver"

# The demo's own event log: a datagram listener on the syslog socket, one entry a line.
rm -f "$VANTREX_SYSLOG_SOCKET" "$events"
/usr/bin/python3 - "$VANTREX_SYSLOG_SOCKET" "$events" <<'PY' &
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
with open(sys.argv[2], "a") as out:
    while True:
        out.write(s.recv(9000).decode("latin-1") + "\n")
        out.flush()
PY
listener=$!
pid=""
cleanup() {
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  kill "$listener" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -S "$VANTREX_SYSLOG_SOCKET" ] && break
  sleep 0.05
done

# One request of the pipe protocol (msg, wParam, lParam as 32-bit little-endian words); prints the reply.
ask() {
  /usr/bin/python3 - "$pipe" "$@" <<'PY'
import socket, struct, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.settimeout(120)
s.connect(sys.argv[1])
s.sendall(struct.pack("<III", *(int(a, 0) for a in sys.argv[2:5])))
reply = b""
while len(reply) < 4:
    chunk = s.recv(4 - len(reply))
    if not chunk:
        break
    reply += chunk
print("0x%08X" % struct.unpack("<I", reply)[0] if len(reply) == 4 else "no reply")
PY
}

start_server() {
  "$server" /SERVICE 2>>"$log" &
  pid=$!
  for _ in $(seq 100); do
    [ -S "$pipe" ] && break
    sleep 0.1
  done
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "vtxserver ended early:" >&2
    cat "$log" >&2
    exit 1
  fi
}

echo "== starting vtxserver /SERVICE"
start_server
echo "vtxserver runs as process $pid, serving $pipe"
echo "== WM_VX_PING (0x806F) answers: $(ask 0x806F 0 0)"
echo "== WM_VX_UPDATENOW (0x8068): download, eurfeed, checks, store; the run's result: $(ask 0x8068 0 0)"
echo "== the stored rates"
"$product/vtxrates" | sed 's/^/   /'
echo "== WM_VX_LOCKCONFIG (0x8065) answers: $(ask 0x8065 0 0), a second one: $(ask 0x8065 0 0)"
echo "== WM_VX_UNLOCKCONFIG (0x8066) answers: $(ask 0x8066 0 0)"
echo "== a second start finds the running server and ends at once"
"$server" /SERVICE 2>&1 | sed 's/^/   second: /'
echo "== the event entries so far"
sleep 0.2
sed 's/^/   /' "$events"
echo "== vtxserver keeps running on its schedule (next update within the hour); Ctrl-C stops it"
# Ctrl-C reaches the server too, as the end of the session; it saves and ends by itself.
trap 'echo; echo "== stopping vtxserver"; kill -TERM "$pid" 2>/dev/null || true; wait "$pid" || true; pid=""; exit 0' INT TERM
wait "$pid"
pid=""
