#!/bin/sh
# Screenshots of every window at 96 and 144 dots per inch, each under its own X server (Xvfb) so
# that the fonts are measured as on a real screen: take.sh BUILD_DIR OUTPUT_FOLDER
set -e
build=${1:-build}
out=${2:-docs/screenshots}
for dpi in 96 144; do
  display=:$((90 + dpi % 7))
  Xvfb "$display" -screen 0 1600x1200x24 -dpi "$dpi" -nolisten tcp >/dev/null 2>&1 &
  server=$!
  sleep 1
  # Qt takes its logical resolution from the font resolution, not from the server's -dpi.
  DISPLAY=$display QT_QPA_PLATFORM=xcb QT_FONT_DPI=$dpi "$build/tools/window_shots" "$build/bin/Samples/Sample.mdb" "$out" "-$dpi" || status=$?
  kill "$server"
  wait "$server" 2>/dev/null || true
  [ -z "$status" ] || exit "$status"
done
