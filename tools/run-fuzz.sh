#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for a bounded time
# (VANTREX_FUZZ_SECONDS, default 20) on a copy of its corpus; fails when one of them crashes.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${VANTREX_FUZZ_SECONDS:-20}"
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTREX_FUZZ=ON -DVANTREX_TESTS=OFF -DVANTREX_SANITIZE=OFF >/dev/null
# Only the fuzz targets: the programs are not built with the fuzzer's instrumentation.
targets=()
for src in fuzz/*_fuzz.cpp; do [ -e "$src" ] && targets+=("$(basename "$src" .cpp)"); done
[ ${#targets[@]} -gt 0 ] || exit 0
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
rm -rf "$build/runs"
mkdir -p "$build/runs" "$build/artifacts"
names=()
pids=()
for src in fuzz/*_fuzz.cpp; do
  [ -e "$src" ] || continue
  target="$(basename "$src" .cpp)"
  name="${target%_fuzz}"
  work="$build/runs/$name"
  mkdir -p "$work/corpus"
  # A copy, so that what the run finds does not land in the source tree.
  if [ -d "fuzz/corpus/$name" ]; then cp -R "fuzz/corpus/$name/." "$work/corpus/"; fi
  # A parser's test fixtures seed its fuzzer as well (expected outputs are not inputs).
  for fixtures in "tests/filters/$name/fixtures" "tests/filters/$name/pages"; do
    [ -d "$fixtures" ] || continue
    find "$fixtures" -maxdepth 1 -type f ! -name '*.expected' -exec cp {} "$work/corpus/" \;
  done
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/artifacts/$name-" "$work/corpus" >"$work/log" 2>&1 &
  names+=("$name")
  pids+=("$!")
done

failed=0
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then
    echo "fuzz ${names[$i]}: $(grep -E '^Done|#[0-9]+.*DONE' "$build/runs/${names[$i]}/log" | tail -1)"
  else
    failed=1
    echo "fuzz ${names[$i]}: FAILED (artifacts in $build/artifacts)"
    tail -n 60 "$build/runs/${names[$i]}/log"
  fi
done
exit "$failed"
