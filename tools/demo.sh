#!/usr/bin/env bash
# The main job on a private demo store under <var dir>: installs the product there, registers a data
# source (a file: copy of the sample page of the European Central Bank's format, converted by eurfeed),
# starts vtxserver, runs one update over its pipe, prints the stored rates, shows a few commands, and
# keeps the server running on its schedule until Ctrl-C. Each step says what it did and what came back.
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
catalogue="$source_dir/resources/0409/vantrex.cat"

# One request of the pipe protocol (msg, wParam, lParam), through the pipe client the tests use too;
# prints the 32-bit reply in hexadecimal, or "none" when no server answers.
ask() {
  /usr/bin/python3 - "$source_dir/tests/support" "$pipe" "$@" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from vtxtest import message, pipe_request
try:
    reply = pipe_request(sys.argv[2], message(*(int(a, 0) for a in sys.argv[3:6])), timeout=120)
except OSError:
    reply = None
print("none" if reply is None else "0x%08X" % reply)
PY
}

# A reply in words: success, or the failure with the catalogue's text of a server code.
say() {
  /usr/bin/python3 - "$catalogue" "$1" <<'PY'
import sys
code = sys.argv[2]
if code == "none":
    print("no answer (the server does not run)")
    sys.exit()
value = int(code, 16)
if value < 0x80000000:
    print("succeeded")
    sys.exit()
text = ""
if value & 0x1FFF0000 == 0x00040000:
    wanted = str(value & 0xFFFF)
    for line in open(sys.argv[1], encoding="utf-8"):
        number, _, rest = line.rstrip("\n").partition(" ")
        if number == wanted:
            text = ": " + rest.rstrip(".")
print("failed with %s%s" % (code, text))
PY
}

# The holder of the store's instance lock, when a server runs on it.
running_server() {
  /usr/bin/python3 - "$VANTREX_REGISTRY.lock" <<'PY'
import fcntl, os, sys
try:
    fd = os.open(sys.argv[1], os.O_RDONLY)
except OSError:
    sys.exit()
try:
    fcntl.flock(fd, fcntl.LOCK_SH | fcntl.LOCK_NB)
except OSError:
    print(os.read(fd, 32).decode(errors="replace").strip() or "unknown")
PY
}

holder="$(running_server)"
if [ -n "$holder" ] || [ "$(ask 0x806F 0 0)" != "none" ]; then
  echo "A vtxserver already runs on the demo store $var (process ${holder:-unknown})." >&2
  if [ -n "$holder" ] && [ "$holder" != "unknown" ]; then
    echo "Stop it with: kill $holder   (it saves its settings and ends), then start ./run.sh again." >&2
  else
    echo "Stop that server (SIGTERM ends it), then start ./run.sh again." >&2
  fi
  exit 1
fi

echo "== Installing the programs, the filter programs and the English catalogue into $product"
cmake --install "$build" --prefix "$product" >/dev/null
cp "$source_dir/resources/samples/eurofxref.html" "$var/pages/eurofxref.html"
# The currency-definitions check after the first update reads a local sample, not the maker's host.
cp "$source_dir/resources/samples/definitions.txt" "$var/pages/definitions.txt"
export VANTREX_DEFINITIONS_URL="file://$var/pages/definitions.txt"
"$product/vtxsetup" "$product" --source "file://$var/pages/eurofxref.html" eurfeed.ini --schedule 3600 86400 \
  >/dev/null
echo "   Registered that folder in the demo store $VANTREX_REGISTRY, with one data source: a copy of a"
echo "   sample page in the European Central Bank's format (made-up rates), converted by eurfeed."
echo "   Automatic updates come at most every hour and at least once a day; the check of the currency"
echo "   definitions that follows the first update reads a local sample of the maker's update text."
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

echo "== Starting vtxserver /SERVICE"
: >"$log"
"$server" /SERVICE 2>>"$log" &
pid=$!
for _ in $(seq 100); do
  [ "$(ask 0x806F 0 0)" = "0x00000001" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if ! kill -0 "$pid" 2>/dev/null; then
  pid=""
  echo "   vtxserver ended at once and said:" >&2
  sed 's/^/   /' "$log" >&2
  exit 1
fi
echo "   vtxserver runs as process $pid and serves its command pipe $pipe."
echo "   Asked it whether it is alive (a ping): $( [ "$(ask 0x806F 0 0)" = "0x00000001" ] && echo "it answered" || echo "no answer")."

echo "== Asking for an update now (vtxctl update)"
echo "   The server fetches the page, runs eurfeed on it, checks the new rates and stores them."
"$product/vtxctl" update 2>&1 | sed 's/^/   /' || true
echo "== The stored rates (vtxrates)"
"$product/vtxrates" | sed 's/^/   /'

echo "== Locking the configuration, as an editing session does"
echo "   The first lock $(say "$(ask 0x8065 0 0)"); the server holds back updates and warnings meanwhile."
echo "   A second lock $(say "$(ask 0x8065 0 0)")."
echo "   Unlocking with a reload of the configuration $(say "$(ask 0x8066 1 0)")."

echo "== The server's state as an operator sees it (vtxctl status)"
"$product/vtxctl" status 2>&1 | sed 's/^/   /' || true

echo "== Starting a second vtxserver on the same store"
second="$("$server" /SERVICE 2>&1 >/dev/null)" && status=0 || status=$?
echo "   It ended at once with status $status and said: ${second:-nothing}"

echo "== The event log entries so far (from the listener on $VANTREX_SYSLOG_SOCKET)"
sleep 0.2
sed 's/^/   /' "$events"
echo "== vtxserver keeps running on its schedule (the next update within the hour); Ctrl-C stops it"
# Ctrl-C reaches the server too, as the end of the session; it saves and ends by itself.
trap 'echo; echo "== Stopping vtxserver"; kill -TERM "$pid" 2>/dev/null || true; wait "$pid" || true; pid=""; exit 0' INT TERM
wait "$pid" || true
pid=""
