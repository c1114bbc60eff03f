#!/bin/sh
# Start-up of the desktop program on a virtual X server: the time from launching
# build/bin/zemlaro until its main window is mapped and viewable, and its resident
# memory (VmRSS) after two seconds of idling.
#   bench/app/startup.sh [PROGRAM]      (default: build/bin/zemlaro; needs xvfb-run)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
program=${1:-$root/build/bin/zemlaro}
[ -n "${INSIDE_XVFB:-}" ] || exec env INSIDE_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$program"

start=$(date +%s%N)
"$program" &
pid=$!
shown=""
while [ -z "$shown" ]; do
  for id in $(xwininfo -root -children 2>/dev/null | awk '/Zemlaro/ {print $1}'); do
    if xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'; then shown=$(date +%s%N); fi
  done
  if ! kill -0 "$pid" 2>/dev/null; then echo "the program ended before its window showed"; exit 1; fi
  [ $(( ($(date +%s%N) - start) / 1000000 )) -lt 20000 ] || { echo "no window within 20 s"; kill "$pid"; exit 1; }
done
echo "main window shown $(( (shown - start) / 1000000 )) ms after launch"
sleep 2
echo "idle $(grep VmRSS /proc/$pid/status)"
kill "$pid"
wait "$pid" 2>/dev/null || true
