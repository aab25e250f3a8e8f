#!/usr/bin/env bash
# --version of each program: exactly one line "<program> <version>", status 0, and no display
# needed (the window program answers before its toolkit starts).
# Usage: version_test.sh <bin folder> <version> <program>...
set -uo pipefail
bin=$1 version=$2
shift 2
failed=0
for program in "$@"; do
  status=0
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/$program" --version 2>&1) || status=$?
  if [[ $status -ne 0 || "$out" != "$program $version" ]]; then
    echo "FAIL: $program --version gave status $status and '$out', expected '$program $version'" >&2
    failed=1
  fi
done
exit $failed
