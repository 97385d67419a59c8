#!/usr/bin/env bash
# Figures of the real station under Xvfb: start-up time with a 16 MiB image (program start to
# the ready window), wall time of a customization with a 166 600-byte and a 1 MiB image on the
# ready emulated module (click to outcome colour; each
# screenshot poll costs some tens of ms, so the figures are upper bounds), and the
# station's resident memory after the runs.
#   bash bench/station_bench.sh      (after a build of the default preset)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
program="$root/build/default/bin/brenvik"
source scripts/xstation.sh
work=$(mktemp -d /tmp/brenvik-bench.XXXXXX)
trap 'xs_cleanup; rm -rf "$work"' EXIT
xs_start_xvfb

now_ms() { date +%s%3N; }

for size in 1024 $((16 * 1024 * 1024)); do
  station="$work/startup$size"
  xs_prepare_station "$station" "$size" 1
  t0=$(now_ms)
  xs_start_station "$program" "$station"
  until [ "$(xs_window_colour)" = "0000FF" ]; do sleep 0.02; done
  t1=$(now_ms)
  echo "start-up with a $size-byte image: $((t1 - t0)) ms to the ready window"
  xs_stop_station
done

for size in 166600 1048576; do
  station="$work/s$size"
  xs_prepare_station "$station" "$size" 1
  xs_start_station "$program" "$station"
  t0=$(now_ms)
  xs_click_start
  until colour=$(xs_window_colour); [ "$colour" = "008000" ] || [ "$colour" = "FF0000" ]; do
    sleep 0.01
  done
  t1=$(now_ms)
  echo "customization with a $size-byte image: $((t1 - t0)) ms from click to outcome ($colour)"
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$XS_STATION_PID/status")
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$XS_STATION_PID/status")
  echo "station resident memory after the run: ${rss} kB (peak ${hwm} kB)"
  xs_stop_station
done
