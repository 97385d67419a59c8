# Shell functions that run the real station under Xvfb: prepare a station folder, start the
# program, press START with a real mouse click, read the window's colours from a screenshot.
# Source this file; every process started here is ended by xs_cleanup.

XS_PIDS=()
XS_TITLE="DA Vureva : Osmire test V1.6"

xs_log() { printf '%s\n' "$*" >&2; }

# xs_wait SECONDS COMMAND...: runs COMMAND until it succeeds, at most SECONDS long.
xs_wait() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    if [ "$SECONDS" -ge "$end" ]; then return 1; fi
    sleep 0.1
  done
}

xs_cleanup() {
  local pid
  for pid in "${XS_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${XS_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  XS_PIDS=()
}

# Starts a private X server and exports DISPLAY.
xs_start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XS_PIDS+=($!)
    export DISPLAY=":$n"
    if xs_wait 10 xdotool getdisplaygeometry; then return 0; fi
    xs_log "Xvfb on :$n did not come up"
    return 1
  done
  xs_log "no free display number"
  return 1
}

# xs_prepare_station DIR IMAGE_BYTES [COUNTER]: a settings file with site 1, PC 2 and the
# counter, a generated firmware image with its checksum, and a blank emulated module.
xs_prepare_station() {
  local dir=$1 size=$2 counter=${3:-1}
  mkdir -p "$dir/config/brenvik"
  local checksum
  checksum=$(python3 - "$dir/firmware.bin" "$size" <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2])
data = bytes(((i * 31 + 7) ^ (i >> 9)) & 0xFF for i in range(size))
open(path, "wb").write(data)
x = 0
for b in data:
    x ^= b
print(x)
PY
)
  printf '[SECTION]\r\nBinary=firmware.bin\r\nChecksumBin=%s\r\n[INFO]\r\nMonth=0\r\nPCnumber=2\r\nCounter=%s\r\nProdSite=1\r\n' \
    "$checksum" "$counter" > "$dir/config/brenvik/osm106.ini"
  printf '# A blank module\nbase = 0x340\npresent = yes\nbuffer_size = 1024\nidentity =\n' \
    > "$dir/module.state"
}

# xs_start_station PROGRAM DIR: the station with its profile and reports in DIR, on the
# emulated module DIR/module.state; waits for its window and sets XS_WINDOW.
xs_start_station() {
  local program=$1 dir=$2
  (cd "$dir" && XDG_CONFIG_HOME="$dir/config" TALVANE_ADAPTER="emulator:$dir/module.state" \
     exec "$program" >"$dir/station.log" 2>&1) &
  XS_PIDS+=($!)
  XS_STATION_PID=$!
  if ! xs_wait 20 xdotool search --name "$XS_TITLE"; then
    xs_log "the station window did not appear; its output:"
    cat "$dir/station.log" >&2
    return 1
  fi
  XS_WINDOW=$(xdotool search --name "$XS_TITLE" | head -n 1)
  # Wait until the window has painted its first frame.
  sleep 0.3
}

xs_stop_station() {
  kill "$XS_STATION_PID" 2>/dev/null || true
  wait "$XS_STATION_PID" 2>/dev/null || true
}

xs_screenshot() { import -window root "$1"; }

# xs_pixel FILE X Y: the colour at window coordinates X,Y as RRGGBB.
xs_pixel() {
  local file=$1 x=$(($2 + 321)) y=$(($3 + 187))
  convert "$file" -format "%[hex:p{$x,$y}]" info: | cut -c1-6
}

# The window colour, the status label's colour and each lamp's colour, in one line.
xs_read_window() {
  local file=$1 out n
  out="window=$(xs_pixel "$file" 8 8) label=$(xs_pixel "$file" 297 278) lamps="
  for n in $(seq 1 11); do out+="$(xs_pixel "$file" $((152 + 32 * (n - 1) + 16)) 236),"; done
  printf '%s\n' "${out%,}"
}

xs_window_colour() {
  local shot
  shot=$(mktemp --suffix=.png)
  xs_screenshot "$shot"
  xs_pixel "$shot" 8 8
  rm -f "$shot"
}

# Presses START with a real mouse click in the middle of the button.
xs_click_start() {
  xdotool mousemove --window "$XS_WINDOW" 329 162 click 1
}

# xs_wait_outcome [PREVIOUS] [SECONDS]: waits until the window shows an outcome colour (red
# or green) and prints it. When the window already showed an outcome colour PREVIOUS before
# START, the run's blue "WORKING" is waited for first.
xs_wait_outcome() {
  local previous=${1:-}; local limit=${2:-60}
  local end=$((SECONDS + limit)) c
  if [ "$previous" = "FF0000" ] || [ "$previous" = "008000" ]; then
    until [ "$(xs_window_colour)" = "0000FF" ]; do
      [ "$SECONDS" -lt "$end" ] || return 1
      sleep 0.05
    done
  fi
  while [ "$SECONDS" -lt "$end" ]; do
    c=$(xs_window_colour)
    if [ "$c" = "FF0000" ] || [ "$c" = "008000" ]; then
      # The outcome is painted once the run has returned to the event loop.
      sleep 0.3
      printf '%s\n' "$c"
      return 0
    fi
    sleep 0.1
  done
  return 1
}
