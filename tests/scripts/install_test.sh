#!/usr/bin/env bash
# `cmake --install` into a scratch prefix, then the installed tree on its own: the programs run from
# there with no library path set (their run path finds the navigator's library and the simulated
# GPIB driver), the desktop entry passes desktop-file-validate, the manual pages format without a
# troff warning, and the data files are where the programs and the manual pages say.
# Usage: install_test.sh <build folder> <with windows: ON|OFF>
set -uo pipefail
build=$1 with_qt=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

if ! cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1; then
  cat "$prefix.log" >&2; rm -f "$prefix.log"
  fail "cmake --install"; exit 1
fi
rm -f "$prefix.log"

expected=(bin/corvane-batch bin/ampsim lib/corvane/libGpibSimulator.so share/man/man1/corvane.1
  share/man/man1/corvane-batch.1 share/corvane/Bookmarks.txt share/corvane/examples/amplifier-test.lua
  share/corvane/help/batch-language.txt share/corvane/help/keyboard.txt share/doc/corvane/README.md)
if [[ $with_qt == ON ]]; then
  expected+=(bin/corvane lib/corvane/libcorvane_projects.so share/applications/corvane.desktop
    share/icons/hicolor/scalable/apps/corvane.svg)
fi
for file in "${expected[@]}"; do
  [[ -s "$prefix/$file" ]] || fail "$file is not installed"
done

for page in "$prefix"/share/man/man1/*.1; do
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  [[ -z "$warnings" ]] || fail "$(basename "$page"): $warnings"
done
if [[ $with_qt == ON ]]; then
  desktop-file-validate "$prefix/share/applications/corvane.desktop" || fail "corvane.desktop is not valid"
  out=$(env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen "$prefix/bin/corvane" --help 2>&1) ||
    fail "the installed corvane --help: $out"
fi

# The installed runner opens the simulated GPIB driver, which is not beside it but in lib/corvane.
script="$prefix/idn.txt"
printf '*IDN?\n' >"$script"
out=$(cd "$prefix" && env -u LD_LIBRARY_PATH "$prefix/bin/corvane-batch" "$script" --connect gpib:0,7:Simulator \
  --reply-timeout 5000 --max-seconds 20 2>&1)
status=$?
[[ $status -eq 0 && "$out" == *"Rx: Veltrask,AmpSim"* ]] ||
  fail "the installed corvane-batch on gpib:0,7:Simulator gave status $status:"$'\n'"$out"
exit $failed
