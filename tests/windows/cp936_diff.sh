#!/bin/sh
# Compares the code page 936 table of two builds of cp936-table: the Linux one
# (run here) and the Windows one (run under Wine, which the caller's environment
# sets up). Writes every entry that differs, and the counts, to the report file.
# Usage: cp936_diff.sh <linux cp936-table> <windows cp936-table.exe> <report file>
set -eu
linux_program=$1
windows_program=$2
report=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$linux_program" > "$work/linux.txt"
# The Windows C runtime ends lines with CR LF.
wine "$windows_program" | tr -d '\r' > "$work/windows.txt"

awk -v linux="$work/linux.txt" -v windows="$work/windows.txt" '
function key(   n) { n = ($1 == "P" || $1 == "T" || $1 == "R") ? 3 : 2; k = $1; for (i = 2; i <= n; ++i) k = k " " $i; v = ""; for (i = n + 1; i <= NF; ++i) v = v (v == "" ? "" : " ") $i; }
BEGIN {
  while ((getline < linux) > 0) { if ($1 == "#") { lhead = $0; continue } key(); a[k] = v; order[++count] = k }
  while ((getline < windows) > 0) { if ($1 == "#") { whead = $0; continue } key(); b[k] = v; if (!(k in a)) order[++count] = k }
  print "Linux:   " lhead; print "Windows: " whead
  print "Each line: section and bytes or unit, then Linux value | Windows value."
  for (j = 1; j <= count; ++j) {
    k = order[j]; split(k, part, " "); s = part[1]; compared[s]++
    la = (k in a) ? a[k] : "(absent)"; wb = (k in b) ? b[k] : "(absent)"
    if (la != wb) { differ[s]++; lines = lines k ": " la " | " wb "\n" }
  }
  split("S P R T E W", sections, " ")
  for (j = 1; j <= 6; ++j) { s = sections[j]; if (s in compared) printf "section %s: %d entries compared, %d differ\n", s, compared[s], differ[s] + 0 }
  printf "%s", lines
}' > "$report"
grep '^section\|^Linux\|^Windows' "$report"
echo "every difference: $report"
