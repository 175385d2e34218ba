#!/usr/bin/env bash
# Resident size of the composed program before and after a minute of zooming and panning over the
# world: the real TervoloNG in a virtual X display (1280x900) with a private home and every server a
# closed port on 127.0.0.1, driven with xdotool (wheel zooms in and out, drags across the map).
# Prints the resident size at start, after each round and at the end, and the caches' budgets.
#
#   scripts/measure-program-memory.sh build/app/TervoloNG
#
# Needs xvfb-run and xdotool (apt-get install xvfb xauth xdotool).
set -euo pipefail
program=$(realpath "$1")
home=$(mktemp -d /tmp/tervolo-memory-XXXXXX)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home"/{data,config,cache,state,runtime}
chmod 700 "$home/runtime"
inner="$home/drive.sh"
. "$(dirname "$(realpath "$0")")/program-home.sh"
{ echo 'set -u'; program_home_env "$home" tiles.memory.localhost:9 seamarks.memory.localhost:9; } > "$inner"
cat >> "$inner" <<INNER
"$program" >/dev/null 2>&1 & pid=\$!
rss() { awk '/VmRSS/ { printf "%.0f MB", \$2 / 1024 }' /proc/\$pid/status; }
sleep 4
echo "start: \$(rss)"
for round in 1 2 3 4; do
  for i in \$(seq 1 12); do xdotool mousemove 640 450 click 4; sleep 0.25; done
  for i in 1 2 3 4 5 6; do xdotool mousemove 300 300 mousedown 1 mousemove 500 400 mousemove 900 700 mouseup 1; sleep 0.4; done
  for i in \$(seq 1 6); do xdotool mousemove 640 450 click 5; sleep 0.25; done
  for i in 1 2 3 4 5 6; do xdotool mousemove 900 300 mousedown 1 mousemove 700 400 mousemove 300 700 mouseup 1; sleep 0.4; done
  echo "round \$round: \$(rss)"
done
sleep 3
echo "after: \$(rss)"
kill \$pid; wait \$pid 2>/dev/null
INNER
xvfb-run -a -s "-screen 0 1280x900x24" bash "$inner"
# The budgets (from the sources' constants; the cell cache's is six screens of cells, here 1280x900 at
# ratio 1: 6 x 5 cells of 256 KB = 45 MB, so its minimum).
echo "budgets: map cells 64 MB (six screens of cells of the largest screen, 64-192 MB);" \
     "lower-level tiles 64 MB or 128 tiles per tile layer; tiles not yet stored 64"
