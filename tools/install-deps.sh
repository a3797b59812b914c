#!/usr/bin/env bash
# Installs the Debian packages that are missing (apt-get only when needed).
#   tools/install-deps.sh run   what building and running need (tools/packages-run.txt)
#   tools/install-deps.sh       that and what the tests need (tools/packages-test.txt)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
case "${1:-all}" in
  run) lists=("$here/packages-run.txt") ;;
  all) lists=("$here/packages-run.txt" "$here/packages-test.txt") ;;
  *) echo "usage: tools/install-deps.sh [run]" >&2; exit 2 ;;
esac
missing=()
for list in "${lists[@]}"; do
  while read -r pkg; do
    pkg="${pkg%%#*}"; pkg="${pkg// /}"
    [ -n "$pkg" ] || continue
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$pkg")
    fi
  done < "$list"
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
