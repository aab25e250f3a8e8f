#!/usr/bin/env bash
# Reads a11y_window over AT-SPI as a screen reader would. The window runs under Xvfb (Qt speaks
# AT-SPI from its xcb platform) with Qt's accessibility switched on, inside a private session bus
# whose accessibility bus at-spi2-core's launcher starts; accessibility_client.py, a pyatspi
# client, reads and drives it. Exits 77 (skipped) only when no bus can be started.
# Usage: accessibility_test.sh <a11y_window> <accessibility_client.py>
set -u
window=$1 client=$2

if [[ ${3:-} != --inside ]]; then
  if ! command -v dbus-run-session >/dev/null || ! dbus-run-session -- true 2>/dev/null; then
    echo "accessibility_test: no D-Bus session bus can be started" >&2
    exit 77
  fi
  # A runtime folder of its own: the accessibility bus puts its socket there, apart from any
  # other session's on this machine.
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  dbus-run-session -- bash "$0" "$window" "$client" --inside
  code=$?
  rm -rf "$XDG_RUNTIME_DIR"
  exit $code
fi

# The accessibility bus is started on demand by the session bus (org.a11y.Bus, at-spi2-core).
if ! gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.a11y.Bus.GetAddress >/dev/null; then
  echo "accessibility_test: the accessibility bus (at-spi2-core) cannot be started" >&2
  exit 77
fi

scratch=$XDG_RUNTIME_DIR
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT

# Xvfb names its display on the descriptor given; reading the FIFO waits for it.
mkfifo "$scratch/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$scratch/display" 2>"$scratch/xvfb.log" &
pids+=($!)
if ! read -r display <"$scratch/display"; then
  echo "accessibility_test: Xvfb did not start:" >&2
  cat "$scratch/xvfb.log" >&2
  exit 1
fi

DISPLAY=":$display" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 "$window" &
pids+=($!)
# Debian's pyatspi belongs to the system's Python, whatever python3 comes first on the path.
/usr/bin/python3 "$client"
