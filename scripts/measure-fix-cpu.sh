#!/usr/bin/env bash
# CPU of the real TervoloNG with a 1 Hz position, in percent of one core, in three states of its map:
# the world view it starts with, zoomed in on the user by the my-location button with the dot in view
# and walking east at 1.4 m/s, and the same zoom with the dot dragged out of view. Each round starts
# each program afresh in a 1280x900 virtual display (no window manager, so the window sits at the
# same place) with a private home, map tiles from a loopback server (one plain picture for every
# tile) and every other server a closed port on 127.0.0.1, lets each state settle, then counts the
# process's user and system time from /proc/PID/stat over the window. With -o the tile server is a
# closed port too: the map then keeps asking for tiles that fail, which costs more than the fixes.
# Several programs (say an older build kept beside this one, so it finds the same resources) take
# their turns within each round, so they see the same machine.
#
#   scripts/measure-fix-cpu.sh [-o] [-s SECONDS] [-r ROUNDS] [-w SETTLE] PROGRAM...
#
# SECONDS (60) is the window of each state, ROUNDS (3) the number of fresh starts of each program,
# SETTLE (40) the wait before each window: longer than the 30 s after which the map's idle drawing
# threads end, so the windows hold what the fixes cost and not the cells a zoom or drag asked for.
# Prints each window and, per program and state, the median and the spread (min-max). Needs xvfb-run
# and xdotool.
set -euo pipefail
seconds=60 rounds=3 settle=40 offline=0
while getopts "os:r:w:" opt; do
  case $opt in
    o) offline=1 ;; s) seconds=$OPTARG ;; r) rounds=$OPTARG ;; w) settle=$OPTARG ;;
    *) sed -n '2,19p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || { sed -n '2,19p' "$0"; exit 2; }
programs=()
for program in "$@"; do programs+=("$(realpath "$program")"); done
here=$(dirname "$(realpath "$0")")
. "$here/program-home.sh"
work=$(mktemp -d /tmp/tervolo-fixcpu-XXXXXX)
trap 'rm -rf "$work"' EXIT
results="$work/results"
: > "$results"
tilePort=9
if [ $offline = 0 ]; then
  python3 - "$work/tile-port" <<'SERVER' &
import http.server, socketserver, struct, sys, zlib

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

rows = b"".join(b"\0" + bytes((232, 228, 218)) * 256 for _ in range(256))
PNG = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 256, 256, 8, 2, 0, 0, 0)) +
       chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))

class Tiles(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "image/png")
        self.send_header("Content-Length", str(len(PNG)))
        self.end_headers()
        self.wfile.write(PNG)
    def log_message(self, *args):
        pass

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

server = Server(("127.0.0.1", 0), Tiles)
with open(sys.argv[1], "w") as out:
    out.write(str(server.server_address[1]))
server.serve_forever()
SERVER
  server=$!
  trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
  for _ in $(seq 1 50); do [ -s "$work/tile-port" ] && break; sleep 0.1; done
  tilePort=$(cat "$work/tile-port")
fi
for round in $(seq 1 "$rounds"); do
  for index in "${!programs[@]}"; do
    program=${programs[$index]}
    home="$work/home-$round-$index"
    mkdir -p "$home"/{data,config,cache,state,runtime}
    chmod 700 "$home/runtime"
    # A walk east, one fix a second from now on, for the whole round and some to spare.
    python3 "$here/make-nmea-track.py" "$home/track.nmea" --count $((3 * (seconds + settle) + 120)) \
      --step 1 --speed 1.4 --course 90
    { echo 'set -u'
      program_home_env "$home" "tiles.fixcpu.localhost:$tilePort" "seamarks.fixcpu.localhost:$tilePort"
    } > "$home/drive.sh"
    cat >> "$home/drive.sh" <<INNER
export TERVOLO_NMEA_FILE=$home/track.nmea
"$program" >"$home/log.txt" 2>&1 & pid=\$!
ticks=\$(getconf CLK_TCK)
cpu() { awk -v t="\$ticks" '{ sub(/.*\\) /, ""); print (\$12 + \$13) / t }' /proc/\$pid/stat; }
window() {
  local c0 w0 c1 w1
  sleep $settle
  c0=\$(cpu); w0=\$(date +%s.%N)
  sleep $seconds
  c1=\$(cpu); w1=\$(date +%s.%N)
  awk -v s="\$1" -v c="\$c1" -v d="\$c0" -v w="\$w1" -v v="\$w0" -v p="$index" \
    'BEGIN { printf "%s %s %.3f\n", p, s, 100 * (c - d) / (w - v) }' | tee -a "$results"
}
window world
geometry=\$(xdotool search --sync --onlyvisible --pid \$pid | head -1 | xargs xdotool getwindowgeometry --shell)
eval "\$geometry"
# The my-location button: the fourth of the buttons down the map's right edge.
xdotool mousemove \$((X + WIDTH - 55)) \$((Y + 303)) click 1
window in_view
xdotool mousemove \$((X + WIDTH - 200)) \$((Y + HEIGHT / 2)) mousedown 1 \
  mousemove \$((X + WIDTH / 2)) \$((Y + HEIGHT / 2)) mousemove \$((X + 150)) \$((Y + HEIGHT / 2)) mouseup 1
window out_of_view
kill \$pid; wait \$pid 2>/dev/null || true
INNER
    echo "round $round: ${programs[$index]}"
    xvfb-run -a -s "-screen 0 1280x900x24" bash "$home/drive.sh" || true
  done
done
for index in "${!programs[@]}"; do
  echo "${programs[$index]}"
  for state in world in_view out_of_view; do
    awk -v p="$index" -v s="$state" '$1 == p && $2 == s { print $3 }' "$results" | sort -n |
      awk -v s="$state" '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "  %-12s median %.2f %% of a core (%.2f-%.2f)\n", s, m, v[1], v[NR] }'
  done
done
