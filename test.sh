#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer, runs every test.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
# npm's soap package, a SOAP client the web service's tests call it with.
soapjs=tests/webservice/soapjs
if [ ! -e "$soapjs/node_modules/.package-lock.json" ] || [ "$soapjs/package-lock.json" -nt "$soapjs/node_modules/.package-lock.json" ]; then
  (cd "$soapjs" && npm ci --no-audit --no-fund --silent)
fi
jobs="$(nproc)"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DVANTREX_SANITIZE=ON -DVANTREX_WERROR=ON >/dev/null
cmake --build build/test -j"$jobs"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# What an installed product makes on a host: the tests keep to private stores and folders instead.
host_traces() {
  local p
  for p in /var/lib/vantrex /run/vantrex /var/lib/Hulvane /etc/pam.d/hulvane-vantrex /etc/systemd/system/hulvane-*; do
    if [ -e "$p" ]; then echo "$p"; fi
  done
  if getent passwd vantrex >/dev/null; then echo "the account vantrex"; fi
  if getent group vantrex >/dev/null; then echo "the group vantrex"; fi
}
traces_before="$(host_traces)"
# A test that skips or does not run fails the run, unless tests/allowed-skips.txt lists it.
rm -f build/test/ctest-results.xml
status=0
(cd build/test && ctest --output-on-failure -j"$jobs" --output-junit ctest-results.xml) || status=$?
/usr/bin/python3 tests/support/check_skips.py build/test/ctest-results.xml tests/allowed-skips.txt || status=1
while read -r trace; do
  if [ -n "$trace" ] && ! grep -qxF -- "$trace" <<<"$traces_before"; then
    echo "test.sh: $trace appeared on this host during the tests"
    status=1
  fi
done <<<"$(host_traces)"
# The last line of the run says how it went.
summary() { /usr/bin/python3 tests/support/check_skips.py --summary build/test/ctest-results.xml || true; }
if [ "$status" -ne 0 ]; then
  summary
  exit "$status"
fi
if [ -x tools/run-fuzz.sh ]; then
  if ! tools/run-fuzz.sh; then
    summary
    echo "test.sh: the fuzz run failed"
    exit 1
  fi
fi
summary
