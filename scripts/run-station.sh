#!/usr/bin/env bash
# Runs the station on the emulated module: installs what is missing, builds, prepares a demo
# station in build/demo (settings with site, PC and counter, a 166 600-byte firmware image with
# its checksum, a blank emulated module) and starts the program.
#
# With a display (DISPLAY set and reachable) the window opens there for you to press START.
# Without one, the station runs under a private Xvfb: START is pressed for you, and the
# outcome, the report line and screenshots of the window before and after are printed.
#
# Options: --fresh   start again with a new demo station (counter 1, blank module)
#          --headless  use the private Xvfb even when a display is available
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
fresh=no
headless=no
for arg in "$@"; do
  case "$arg" in
    --fresh) fresh=yes ;;
    --headless) headless=yes ;;
    *) echo "usage: scripts/run-station.sh [--fresh] [--headless]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default --target brenvik talvane

source scripts/xstation.sh
demo="$root/build/demo"
if [ "$fresh" = yes ] || [ ! -f "$demo/config/brenvik/osm106.ini" ]; then
  rm -rf "$demo"
  xs_prepare_station "$demo" 166600 1
  echo "demo station prepared in $demo"
fi
program="$root/build/default/bin/brenvik"

if [ "$headless" = no ] && [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "starting the station on $DISPLAY; reports land in $demo"
  cd "$demo"
  XDG_CONFIG_HOME="$demo/config" TALVANE_ADAPTER="emulator:$demo/module.state" exec "$program"
fi

if ! command -v Xvfb >/dev/null; then
  echo "no display: set DISPLAY to an X server, or install Xvfb (scripts/install-deps.sh)" >&2
  exit 1
fi
echo "no display here: running the station under a private Xvfb and pressing START for you"
trap xs_cleanup EXIT
xs_start_xvfb
xs_start_station "$program" "$demo"
xs_screenshot "$demo/before.png"
before=$(xs_window_colour)
counter_before=$(tr -d '\r' < "$demo/config/brenvik/osm106.ini" | sed -n 's/^Counter=//p')
xs_click_start
if ! colour=$(xs_wait_outcome "$before" 120); then
  echo "the run did not end within 120 s" >&2
  exit 1
fi
xs_screenshot "$demo/after.png"
counter_after=$(tr -d '\r' < "$demo/config/brenvik/osm106.ini" | sed -n 's/^Counter=//p')
case "$colour" in
  008000) outcome="MODULE OK (green)" ;;
  FF0000) outcome="a failed stage (red): RESET NOK, WRITE NOK or UPDATE NOK" ;;
esac
echo "outcome:      $outcome"
echo "counter:      $counter_before -> $counter_after"
report=$(ls -t "$demo"/RepOsm*.txt 2>/dev/null | head -n 1 || true)
if [ -n "$report" ]; then
  echo "report line:  $(tail -c 200 "$report" | tr -d '\000' | tr -d '\r' | tail -n 1)  ($report)"
fi
echo "module:       $(grep -E '^(identity|image_bytes) ' "$demo/module.state" | tr '\n' ' ')"
echo "screenshots:  $demo/before.png  $demo/after.png"
