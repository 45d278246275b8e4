#!/bin/sh
# The tray shell on a real X display: Xvfb without a tray host (the panel
# must show as a window), then Xvfb with trayer (the icon must be embedded
# and a click on it must open the panel). Exit 77 (skipped) when the tools
# are missing.
#   run_tray_test.sh PATH/TO/tray_probe
set -u
probe=$1
for tool in xvfb-run trayer; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps installs xvfb and trayer)"
    exit 77
  fi
done
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS  # no StatusNotifierItem host: the XEmbed tray only
export QT_QPA_PLATFORM=xcb

xvfb-run -a "$probe" --expect window || exit 1

# shellcheck disable=SC2016
xvfb-run -a sh -c '
  trayer --edge top --align right --widthtype request --height 24 --SetDockType true >/dev/null 2>&1 &
  host=$!
  "$0" --expect tray
  status=$?
  kill "$host" 2>/dev/null
  exit "$status"' "$probe"
