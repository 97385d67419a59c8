#!/usr/bin/env bash
# The real program as an operator meets it: under Xvfb, started from its installed layout on
# the emulated module, START pressed with a real mouse click, and the outcome judged from a
# screenshot and from what the station leaves behind.
# Usage: e2e_test.sh PREFIX   (PREFIX holds bin/brenvik and lib/libtalvane.so.1)
set -uo pipefail
prefix=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/xstation.sh"

program="$prefix/bin/brenvik"
work=$(mktemp -d /tmp/brenvik-e2e.XXXXXX)
trap 'xs_cleanup; rm -rf "$work"' EXIT

passed=0
failed=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s: expected [%s], got [%s]\n' "$1" "$2" "$3"
  fi
}
setting() { tr -d '\r' < "$station/config/brenvik/osm106.ini" | sed -n "s/^$1=//p"; }
module_key() { sed -n "s/^$1 = //p" "$station/module.state"; }
# The identity record of a serial as the module's state file shows it: 01 L text.
identity_hex() {
  printf '01 %02X' "${#1}"
  printf '%s' "$1" | od -An -v -tx1 | tr 'a-f' 'A-F' | tr -s ' \n' ' ' | sed 's/ $//'
  echo
}
silver_lamps="C0C0C0,C0C0C0,C0C0C0,C0C0C0,C0C0C0,C0C0C0,C0C0C0,C0C0C0,C0C0C0,C0C0C0,C0C0C0"

xs_start_xvfb || exit 1

# --- A blank module: MODULE OK, a new serial, the counter advanced -----------------------
station="$work/station"
xs_prepare_station "$station" 166600 41
xs_start_station "$program" "$station" || exit 1
xs_screenshot "$work/ready.png"
check "ready window" "window=0000FF label=0000FF lamps=$silver_lamps" "$(xs_read_window "$work/ready.png")"
xs_click_start
outcome=$(xs_wait_outcome "" 60)
check "blank module outcome" "008000" "$outcome"
xs_screenshot "$work/ok.png"
check "MODULE OK window" "window=008000 label=008000 lamps=$silver_lamps" "$(xs_read_window "$work/ok.png")"
check "counter advanced" "42" "$(setting Counter)"
year=$(( $(date +%Y) - 1900 )); month=$(( 10#$(date +%m) - 1 ))
serial="DV12${year}${month}41"
report="$station/RepOsm12${year}${month}.txt"
check "report record" "${serial}          X" "$(head -c $(( ${#serial} + 10 )) "$report")X"
check "report record length" "$(( ${#serial} + 37 ))" "$(stat -c %s "$report")"
check "report record end" "0d0a00" "$(tail -c 3 "$report" | od -An -tx1 | tr -d ' \n')"
check "identity stored" "$(identity_hex "$serial")" "$(module_key identity)"
check "image received" "yes" "$(cmp -s "$station/firmware.bin" "$station/module.state.image" && echo yes)"

# --- The same module again: its own serial reported, the counter unchanged --------------
# The module answers a little slower so that the run's WORKING is seen.
echo "reply_polls = 2" >> "$station/module.state"
xs_click_start
outcome=$(xs_wait_outcome "008000" 90)
check "same module outcome" "008000" "$outcome"
check "counter unchanged" "42" "$(setting Counter)"
check "two records" "$(( 2 * (${#serial} + 37) ))" "$(stat -c %s "$report")"
check "second record serial" "$serial" "$(tail -c $(( ${#serial} + 37 )) "$report" | head -c ${#serial})"

# --- No module: RESET NOK, nothing touched ---------------------------------------------
printf 'present = no\n' > "$station/module.state"
cp "$station/config/brenvik/osm106.ini" "$work/settings.before"
size_before=$(stat -c %s "$report")
xs_click_start
outcome=$(xs_wait_outcome "" 60)
check "no module outcome" "FF0000" "$outcome"
xs_screenshot "$work/reset-nok.png"
check "RESET NOK window" "window=FF0000 label=FF0000 lamps=$silver_lamps" "$(xs_read_window "$work/reset-nok.png")"
check "settings untouched" "same" "$(cmp -s "$work/settings.before" "$station/config/brenvik/osm106.ini" && echo same)"
check "report untouched" "$size_before" "$(stat -c %s "$report")"

# --- A refused image block on the next, blank module: UPDATE NOK ------------------------
# A slow module, so that the run's WORKING shows between two red outcomes.
printf 'identity =\nfault_refuse_block = 5\nreply_polls = 40\n' > "$station/module.state"
rm -f "$station/module.state.image"
xs_click_start
outcome=$(xs_wait_outcome "FF0000" 60)
check "refused block outcome" "FF0000" "$outcome"
xs_screenshot "$work/update-nok.png"
check "UPDATE NOK window" "window=FF0000 label=FF0000 lamps=$silver_lamps" "$(xs_read_window "$work/update-nok.png")"
check "counter used up" "43" "$(setting Counter)"
check "identity kept after a failed download" "$(identity_hex "${serial%41}42")" "$(module_key identity)"
check "no image" "no" "$(test -e "$station/module.state.image" && echo yes || echo no)"
xs_stop_station

# --- A wrong checksum at start-up: the box, then START disabled for good ----------------
station="$work/badsum"
xs_prepare_station "$station" 1000 1
sed -i 's/^ChecksumBin=.*/ChecksumBin=300\r/' "$station/config/brenvik/osm106.ini"
(cd "$station" && XDG_CONFIG_HOME="$station/config" TALVANE_ADAPTER="emulator:$station/module.state" \
   exec "$program" >"$station/station.log" 2>&1) &
XS_PIDS+=($!)
XS_STATION_PID=$!
if xs_wait 20 xdotool search --name '^Updater$'; then
  check "checksum box" "Updater" "Updater"
  box=$(xdotool search --name '^Updater$' | head -n 1)
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key Return
else
  check "checksum box" "Updater" "none"
fi
xs_wait 20 xdotool search --name "$XS_TITLE"
XS_WINDOW=$(xdotool search --name "$XS_TITLE" | head -n 1)
sleep 0.5
xs_screenshot "$work/failed.png"
check "start-up failed window" "C0C0C0" "$(xs_pixel "$work/failed.png" 8 8)"
xs_click_start
sleep 1
check "START stays disabled" "C0C0C0" "$(xs_window_colour)"
check "module untouched" "" "$(module_key identity)"
xs_stop_station

printf '%d passed, %d failed\n' "$passed" "$failed"
[ "$failed" -eq 0 ]
