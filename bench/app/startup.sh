#!/bin/sh
# Start-up and idle memory of the desktop program beside a minimal Qt Widgets
# program (empty-window), both on the same virtual X server in the same run:
#  - start: the time from launch until the program's window is mapped and viewable,
#    the median of ROUNDS launches of each, taken in turns;
#  - idle: the resident memory (VmRSS) two seconds after the window showed.
# Targets: the desktop program's median start at most 1.3 times the minimal
# program's, and at most 80 MB idle. Exit status 1 when a target is missed.
#   bench/app/startup.sh [PROGRAM [EMPTY_WINDOW]]
#   (default: build/bin/zemlaro and build/bin/empty-window; needs xvfb-run, xwininfo)
# The programs run with an empty data folder of their own, so no user's cookie store
# or settings are read.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
program=${1:-$root/build/bin/zemlaro}
yardstick=${2:-$(dirname "$program")/empty-window}
rounds=${ROUNDS:-5}
ratio_target=1.3
rss_target_kb=$((80 * 1024))
if [ -z "${INSIDE_XVFB:-}" ]; then
  # `make bench` runs every benchmark offscreen; this one needs the X server.
  unset QT_QPA_PLATFORM
  exec env INSIDE_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$program" "$yardstick"
fi
data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
export XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$data" XDG_CACHE_HOME="$data"

# launch PROGRAM: prints "MS RSS_KB" (start in ms, idle VmRSS in kB).
launch() {
  start=$(date +%s%N)
  "$1" >"$data/last.log" 2>&1 &
  pid=$!
  shown=""
  while [ -z "$shown" ]; do
    for id in $(xwininfo -root -children 2>/dev/null | awk '/Zemlaro/ {print $1}'); do
      if xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'; then shown=$(date +%s%N); fi
    done
    if ! kill -0 "$pid" 2>/dev/null; then echo "$1 ended before its window showed:" >&2; cat "$data/last.log" >&2; exit 1; fi
    if [ $(( ($(date +%s%N) - start) / 1000000 )) -ge 20000 ]; then
      echo "$1: no window within 20 s" >&2; kill "$pid"; exit 1
    fi
  done
  sleep 2
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "$(( (shown - start) / 1000000 )) $rss"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# One launch of each first, not counted: it fills the page cache for both alike.
launch "$yardstick" >/dev/null
launch "$program" >/dev/null
: >"$data/program" && : >"$data/yardstick"
i=0
while [ "$i" -lt "$rounds" ]; do
  launch "$yardstick" >>"$data/yardstick"
  launch "$program" >>"$data/program"
  i=$((i + 1))
done

p_ms=$(cut -d' ' -f1 "$data/program" | median)
y_ms=$(cut -d' ' -f1 "$data/yardstick" | median)
p_rss=$(cut -d' ' -f2 "$data/program" | median)
y_rss=$(cut -d' ' -f2 "$data/yardstick" | median)
echo "window shown after launch, median of $rounds (ms):" \
  "zemlaro $p_ms [$(cut -d' ' -f1 "$data/program" | tr '\n' ' ' | sed 's/ $//')]," \
  "empty window $y_ms [$(cut -d' ' -f1 "$data/yardstick" | tr '\n' ' ' | sed 's/ $//')]"
ratio=$(awk -v p="$p_ms" -v y="$y_ms" 'BEGIN {printf "%.2f", (y > 0 ? p / y : 0)}')
echo "start-up ratio zemlaro / empty window: $ratio (target <= $ratio_target)"
echo "idle VmRSS: zemlaro $((p_rss / 1024)) MB ($p_rss kB, target <= $((rss_target_kb / 1024)) MB)," \
  "empty window $((y_rss / 1024)) MB ($y_rss kB)"
missed=0
if awk -v r="$ratio" -v t="$ratio_target" 'BEGIN {exit !(r > t)}'; then
  echo "target missed: start-up ratio"; missed=1
fi
if [ "$p_rss" -gt "$rss_target_kb" ]; then echo "target missed: idle memory"; missed=1; fi
exit "$missed"
