#!/usr/bin/env bash
# ./run when the simulated amplifier ends before Corvane does: Corvane's exit status comes back and
# nothing is said about the simulator's pipe. The script runs in a scratch copy of the tree where
# the bootstrap, cmake, the simulator and Corvane are stand-ins.
# Usage: run_script_test.sh <path of run>
set -euo pipefail
run=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/scripts" "$tree/build/bin" "$tree/stubs" "$tree/src/text"
cp "$run" "$tree/run"
cp "$(dirname "$run")/src/text/Bookmarks.txt" "$tree/src/text/Bookmarks.txt"
printf '#!/bin/sh\nexit 0\n' >"$tree/scripts/bootstrap"
printf '#!/bin/sh\nmkdir -p "$1"\n' >"$tree/scripts/make-project-share"
printf '#!/bin/sh\nexit 0\n' >"$tree/stubs/cmake"
# The simulator announces itself and ends at once.
cat >"$tree/build/bin/ampsim" <<'SIM'
#!/usr/bin/env bash
echo $$ >"$(dirname "$0")/ampsim.pid"
echo "tcp 127.0.0.1:5999"
echo "ready"
SIM
# Corvane returns only once the simulator is gone (reaped by the script), with a status of its own.
cat >"$tree/build/bin/corvane" <<'APP'
#!/usr/bin/env bash
pid=$(cat "$(dirname "$0")/ampsim.pid")
for _ in $(seq 1000); do kill -0 "$pid" 2>/dev/null || exit 3; sleep 0.01; done
echo "the simulator never ended" >&2
exit 9
APP
chmod +x "$tree/run" "$tree/scripts/bootstrap" "$tree/scripts/make-project-share" "$tree/stubs/cmake" "$tree/build/bin/"*

status=0
PATH="$tree/stubs:$PATH" DISPLAY=:99 "$tree/run" >"$tree/out" 2>"$tree/err" || status=$?
if [[ $status -ne 3 ]]; then
  echo "FAIL: ./run exited with $status, expected Corvane's 3" >&2
  cat "$tree/out" "$tree/err" >&2
  exit 1
fi
if [[ -s "$tree/err" ]]; then
  echo "FAIL: ./run complained:" >&2
  cat "$tree/err" >&2
  exit 1
fi
grep -q "simulated amplifier on 127.0.0.1:5999" "$tree/out" || { echo "FAIL: no start line" >&2; exit 1; }
echo "ok"
