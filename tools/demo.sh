#!/usr/bin/env bash
# Runs vtxserver on the private demo store under <var dir>, asks it over its pipe, and stops it.
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
pipe="$VANTREX_RUNTIME_DIR/HulvaneVantrexAppPipe"

# One request of the pipe protocol (msg, wParam, lParam as 32-bit little-endian words); prints the reply.
ask() {
  /usr/bin/python3 - "$pipe" "$@" <<'PY'
import socket, struct, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.settimeout(10)
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

echo "== starting vtxserver /SERVICE (store under $var)"
"$server" /SERVICE 2>"$log" &
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
echo "vtxserver runs as process $pid, serving $pipe"
echo "== WM_VX_PING (0x806F) over the pipe answers: $(ask 0x806F 0 0)"
echo "== WM_VX_ISUPDATING (0x806D) answers: $(ask 0x806D 0 0)"
echo "== WM_VX_LOCKCONFIG (0x8065) answers: $(ask 0x8065 0 0), a second one: $(ask 0x8065 0 0)"
echo "== WM_VX_UNLOCKCONFIG (0x8066) answers: $(ask 0x8066 0 0)"

echo "== a second start finds the running server and ends at once"
"$server" /SERVICE 2>&1 | sed 's/^/   second: /'

echo "== stopping it with WM_VX_QUIT (0x8067), exit code 0x2A: $(ask 0x8067 0x2A 0)"
wait "$pid"
echo "vtxserver ended with status $?"

echo "== started again and stopped by SIGTERM, which arrives as WM_ENDSESSION"
"$server" /SERVICE 2>>"$log" &
pid=$!
for _ in $(seq 100); do
  [ -S "$pipe" ] && break
  sleep 0.1
done
kill -TERM "$pid"
wait "$pid"
echo "vtxserver ended with status $?"
echo "== its event entries"
sed 's/^/   /' "$log"
