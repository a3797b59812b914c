#!/usr/bin/env bash
# Grows the committed corpus of one fuzz target by a long run, then minimises it into
# fuzz/corpus/<name> (libFuzzer's -merge=1), so that the short run of ./test.sh starts from it.
#   tools/grow-corpus.sh <name> [runs] [seconds]
# runs: executions of the long run, default 10000000; seconds: a limit on its time (none by
# default), for a slow target; the report says how many executions were made and how fast.
# Builds the target in build/fuzz-long (clang, the fuzzer's instrumentation). Meant for a quiet
# moment or a low priority (nice -n 19): the run takes one core until it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
name="$1"
runs="${2:-10000000}"
seconds="${3:-0}"
target="${name}_fuzz"
[ -f "fuzz/$target.cpp" ] || { echo "grow-corpus: no fuzz/$target.cpp" >&2; exit 2; }
build=build/fuzz-long
mkdir -p "$build"
# Two runs may start together: one configuration and build at a time in the shared folder (a new
# target needs the configuration again).
flock "$build/.build-lock" sh -c "CC=clang CXX=clang++ cmake -S . -B '$build' -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTREX_FUZZ=ON -DVANTREX_TESTS=OFF -DVANTREX_SANITIZE=OFF >/dev/null && \
  cmake --build '$build' -j2 --target '$target' >/dev/null"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
work="$build/grow/$name"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts" "fuzz/corpus/$name"
cp -R "fuzz/corpus/$name/." "$work/corpus/"
for fixtures in "tests/filters/$name/fixtures" "tests/filters/$name/pages"; do
  [ -d "$fixtures" ] || continue
  find "$fixtures" -maxdepth 1 -type f ! -name '*.expected' -exec cp {} "$work/corpus/" \;
done
"$build/fuzz/$target" -runs="$runs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 || {
  echo "grow-corpus $name: the run failed (see $work/log and $work/artifacts)" >&2
  tail -n 40 "$work/log" >&2
  exit 1
}
mkdir -p "$work/merged"
"$build/fuzz/$target" -merge=1 -timeout=10 -rss_limit_mb=2048 "$work/merged" "$work/corpus" >"$work/merge.log" 2>&1
rm -rf "fuzz/corpus/$name"
mkdir -p "fuzz/corpus/$name"
cp "$work/merged/." -R "fuzz/corpus/$name/"
units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log" | tail -1)
echo "grow-corpus $name: ${units:-?} executions at ${rate:-?}/s," \
  "$(find "fuzz/corpus/$name" -type f | wc -l) inputs kept"
