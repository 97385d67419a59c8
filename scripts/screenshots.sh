#!/usr/bin/env bash
# Screenshots of the real station under Xvfb for the docs: ready, working (lamps part lit),
# MODULE OK, UPDATE NOK, RESET NOK and start-up failed. Writes docs/screenshots/*.png.
# Needs a build (scripts/test.sh or scripts/run-station.sh) first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
program="$root/build/default/bin/brenvik"
out="$root/docs/screenshots"
mkdir -p "$out"
source scripts/xstation.sh
work=$(mktemp -d /tmp/brenvik-shots.XXXXXX)
trap 'xs_cleanup; rm -rf "$work"' EXIT

shot() {  # the window alone
  local full="$work/full.png"
  xs_screenshot "$full"
  convert "$full" -crop 673x381+321+187 +repage "$out/$1.png"
  echo "$out/$1.png"
}
lamp_lit() { [ "$(xs_pixel "$1" $((152 + 32 * ($2 - 1) + 16)) 236)" = "00FF00" ]; }

xs_start_xvfb
station="$work/station"
xs_prepare_station "$station" 166600 1
# A module that answers each block after one 10 ms poll: the download lasts about 14 s.
echo "reply_polls = 2" >> "$station/module.state"
xs_start_station "$program" "$station"
shot ready
xs_click_start
end=$((SECONDS + 60))
until { xs_screenshot "$work/poll.png"; lamp_lit "$work/poll.png" 5; }; do
  [ "$SECONDS" -lt "$end" ] || { echo "lamps did not light" >&2; exit 1; }
  sleep 0.2
done
shot working
xs_wait_outcome "" 120 >/dev/null
shot module-ok
printf 'identity =\nfault_refuse_block = 30\nreply_polls = 40\n' > "$station/module.state"
xs_click_start
xs_wait_outcome "008000" 120 >/dev/null
shot update-nok
printf 'present = no\n' > "$station/module.state"
xs_click_start
sleep 1  # the red of RESET NOK follows the red of UPDATE NOK
shot reset-nok
xs_stop_station

station="$work/badsum"
xs_prepare_station "$station" 1000 1
sed -i 's/^ChecksumBin=.*/ChecksumBin=300\r/' "$station/config/brenvik/osm106.ini"
(cd "$station" && XDG_CONFIG_HOME="$station/config" TALVANE_ADAPTER="emulator:$station/module.state" \
   exec "$program" >/dev/null 2>&1) &
XS_PIDS+=($!)
xs_wait 20 xdotool search --name '^Updater$'
sleep 0.5
xs_screenshot "$work/full.png"
convert "$work/full.png" "$out/startup-failed-box.png"
echo "$out/startup-failed-box.png"
xdotool windowfocus --sync "$(xdotool search --name '^Updater$' | head -n 1)" 2>/dev/null || true
xdotool key Return
xs_wait 20 xdotool search --name "$XS_TITLE"
sleep 0.5
shot startup-failed
