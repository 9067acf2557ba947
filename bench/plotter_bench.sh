#!/bin/sh
# Loads a million-line three-column text into a plotter and redraws it:
# prints the time from file to shown plotter, the redraw time and the peak
# memory. Usage: bench/plotter_bench.sh [BUILD_DIR] [LINES]
set -eu
build=${1:-build}
lines=${2:-1000000}
here=$(cd "$(dirname "$0")/.." && pwd)
cmake --build "$build" --target plotter_load >/dev/null
data=$(mktemp /tmp/plotter_bench.XXXXXX.txt)
trap 'rm -f "$data"' EXIT
awk -v n="$lines" 'BEGIN { srand(7); for (i = 0; i < n; i++)
  printf "%.6f %.6f %.4f\n", i * 0.001, 3 + 2 * i * 0.001 + rand() - 0.5, 0.2 + rand() * 0.1 }' >"$data"
echo "text: $lines lines, $(du -h "$data" | cut -f1)"
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a "$build/bin/plotter_load" "$data" 5
else
  QT_QPA_PLATFORM=offscreen "$build/bin/plotter_load" "$data" 5
fi
