#!/usr/bin/env bash
# ConvertToNum calls per second and latency percentiles of vtxwebservice at 1, 16 and 64
# concurrent connections (wrk), on a private store with 237 active currencies. Release build in
# build/bench. BENCH_SECONDS (default 10) sets each run's length, BENCH_THREADS the host's pool.
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/install-deps.sh
build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVANTREX_BENCH=ON -DVANTREX_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target vtxwebservice bench_webservice >/dev/null
work="$(mktemp -d /tmp/vtxbench-wrk-XXXXXX)"
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export VANTREX_REGISTRY="$work/registry.db" VANTREX_RUNTIME_DIR="$work" VANTREX_APPDATA="$work"
"$build/bench/bench_webservice" --seed
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$build/webservice/vtxwebservice" --port "$port" --threads "${BENCH_THREADS:-$(nproc)}" >/dev/null &
pid=$!
url="http://127.0.0.1:$port/Vantrex"
for _ in $(seq 100); do curl -sf -o /dev/null "$url?wsdl" && break; sleep 0.05; done
for c in 1 16 64; do
  t=$(( c < $(nproc) ? c : $(nproc) ))
  echo "== $c connections, $t wrk threads"
  wrk -t "$t" -c "$c" -d "${BENCH_SECONDS:-10}s" --latency -s bench/webservice/post.lua "$url" |
    grep -E 'Requests/sec|Latency  |50%|75%|90%|99%|Non-2xx|Socket errors'
done
