#!/usr/bin/env bash
# cli_under_wine.sh BUILD-WINDOWS [LINUX-BIN]
#
# Runs zemlaro-cli.exe of BUILD-WINDOWS under Wine against the Linux sample market on
# 127.0.0.1 and compares each run with the Linux zemlaro-cli against the same market:
# both services, the cookie store, the login wall's redirect, hostile pages and the
# exit codes. LINUX-BIN holds zemlaro-cli and zemlaro-sample-market (default: the
# Linux build beside BUILD-WINDOWS, "build" for "build-windows"). One PASS or FAIL
# line per check; the exit status is 1 when any check failed.
#
# The markets name themselves "localhost": Wine's certificate check matches a name
# only against the certificate's DNS names, never its IP address. The market's CA is
# trusted by adding it to the current user's Root store of the throw-away prefix
# (trust-test-ca.exe), which changes the trust of no other certificate.
if [ -z "${BASH_VERSION:-}" ]; then exec bash "$0" "$@"; fi
set -u

die() {
  echo "cli_under_wine: $*" >&2
  exit 2
}

[ $# -ge 1 ] || die "usage: cli_under_wine.sh BUILD-WINDOWS [LINUX-BIN]"
WINBUILD=$(cd "$1" && pwd) || die "no folder $1"
LINUX_BIN=${2:-${WINBUILD%-windows}/bin}
CLI_EXE=$WINBUILD/bin/zemlaro-cli.exe
TRUST_EXE=$WINBUILD/bin/trust-test-ca.exe
CLI_LINUX=$LINUX_BIN/zemlaro-cli
MARKET=$LINUX_BIN/zemlaro-sample-market
for f in "$CLI_EXE" "$TRUST_EXE" "$CLI_LINUX" "$MARKET"; do
  [ -f "$f" ] || die "missing $f"
done
WINE=${WINE:-wine}
export WINEPREFIX=${WINEPREFIX:-$WINBUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/cli-under-wine.XXXXXX") || die "no temporary folder"
MARKET_PIDS=()
cleanup() {
  # Closing a market's standard input ends it; then wait for it to go.
  for fd in "${MARKET_FDS[@]:-}"; do [ -n "$fd" ] && eval "exec $fd>&-"; done
  for pid in "${MARKET_PIDS[@]:-}"; do [ -n "$pid" ] && wait "$pid" 2>/dev/null; done
  rm -rf "$WORK"
}
MARKET_FDS=()
trap cleanup EXIT

FAILED=0
pass() { echo "PASS $1"; }
fail() {
  echo "FAIL $1: $2"
  FAILED=1
}

# start_market NAME ARGS...: a market on 127.0.0.1 named localhost; sets PORT_<NAME>
# and leaves its CA in $WORK/NAME.ca. Waits for the line it prints once the port
# file is written (or for its exit).
start_market() {
  local name=$1
  shift
  mkfifo "$WORK/$name.in" "$WORK/$name.out" || die "no fifo"
  "$MARKET" --host-name localhost --port-file "$WORK/$name.port" --ca-file "$WORK/$name.ca" \
    --until-stdin-closes "$@" <"$WORK/$name.in" >"$WORK/$name.out" 2>"$WORK/$name.err" &
  MARKET_PIDS+=($!)
  local fd
  exec {fd}>"$WORK/$name.in"
  MARKET_FDS+=("$fd")
  local line=""
  read -r line <"$WORK/$name.out"
  case $line in
    "listening on "*) ;;
    *) die "the $name market did not start: $(cat "$WORK/$name.err")" ;;
  esac
  [ -s "$WORK/$name.port" ] || die "the $name market wrote no port"
  eval "PORT_$name=$(tr -d '\n' <"$WORK/$name.port")"
  "$WINE" "$TRUST_EXE" "$(winpath "$WORK/$name.ca")" || die "trust-test-ca failed for $name"
}

# A Linux path as Wine's Z: drive shows it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# run_pair TAG CA ARGS...: the Linux and the Windows tool with the same arguments
# (an "@FILE@" argument is FILE for Linux and its Z: path for Wine), the Linux one
# with "--cacert CA" after the first. Each writes $WORK/TAG.{linux,windows}.{out,err,status}.
run_pair() {
  local tag=$1 ca=$2
  shift 2
  local linuxArgs=() windowsArgs=() arg
  for arg in "$@"; do
    if [[ $arg == @*@ ]]; then
      local path=${arg:1:${#arg}-2}
      linuxArgs+=("$path")
      windowsArgs+=("$(winpath "$path")")
    else
      linuxArgs+=("$arg")
      windowsArgs+=("$arg")
    fi
  done
  "$CLI_LINUX" "${linuxArgs[0]}" --cacert "$ca" "${linuxArgs[@]:1}" >"$WORK/$tag.linux.out" \
    2>"$WORK/$tag.linux.err"
  echo $? >"$WORK/$tag.linux.status"
  "$WINE" "$CLI_EXE" "${windowsArgs[@]}" >"$WORK/$tag.windows.out" 2>"$WORK/$tag.windows.err"
  echo $? >"$WORK/$tag.windows.status"
}

status_of() { cat "$WORK/$1.$2.status"; }
rows_of() { wc -l <"$WORK/$1.$2.out" | tr -d ' '; }

# same_run TAG WANTED-STATUS WANTED-LINES: both exit with the status, write the same
# rows (WANTED-LINES lines with the header) and the same stderr.
same_run() {
  local tag=$1 status=$2 lines=$3 check=$4
  local ls ws
  ls=$(status_of "$tag" linux)
  ws=$(status_of "$tag" windows)
  if [ "$ls" != "$status" ] || [ "$ws" != "$status" ]; then
    fail "$check" "exit status linux $ls, windows $ws, wanted $status ($(head -c 300 "$WORK/$tag.windows.err"))"
  elif ! cmp -s "$WORK/$tag.linux.out" "$WORK/$tag.windows.out"; then
    fail "$check" "the rows differ ($(rows_of "$tag" linux) lines on Linux, $(rows_of "$tag" windows) on Windows)"
  elif [ "$(rows_of "$tag" windows)" != "$lines" ]; then
    fail "$check" "$(rows_of "$tag" windows) lines, wanted $lines"
  elif ! cmp -s "$WORK/$tag.linux.err" "$WORK/$tag.windows.err"; then
    fail "$check" "stderr differs: linux [$(head -c 300 "$WORK/$tag.linux.err")] windows [$(head -c 300 "$WORK/$tag.windows.err")]"
  else
    pass "$check"
  fi
}

# The names of a cookie file's cookies, sorted (never their values).
cookie_names() { grep -v '^#[^H]' "$1" | grep -v '^$' | cut -f6 | sort; }
cookie_value() { grep -v '^#[^H]' "$1" | awk -F'\t' -v n="$2" '$6 == n { print $7 }'; }

# ---- the markets ----
# plain: pages 2 to 5 hostile; wall: every search behind the login wall.
start_market plain --page-mode 2=garbage --page-mode 3=reset --page-mode 4=endless \
  --page-mode 5=redirect-loop --page-mode 6=redirect-once
start_market wall --login-wall
PLAIN=localhost:$PORT_plain
WALL=localhost:$PORT_wall

# ---- both services ----
run_pair legacy "$WORK/plain.ca" search --service legacy --host "$PLAIN" --pages 1 \
  --no-cookie-store kw
same_run legacy 0 45 "legacy service: page 1 gives the same 44 rows"

run_pair current "$WORK/plain.ca" search --service current --host "$PLAIN" --delay 0 \
  --pages 2 --no-cookie-store --format json kw
same_run current 0 98 "current service: the token handshake, 2 pages, the same JSON"
if [ "$(grep -o '"id"' "$WORK/current.windows.out" | wc -l)" -ne 96 ]; then
  fail "current service: 96 listings" "$(grep -o '"id"' "$WORK/current.windows.out" | wc -l) found"
else
  pass "current service: 96 listings"
fi

# ---- exit codes ----
run_pair usage "$WORK/plain.ca" search --service legacy --pages 1
same_run usage 2 0 "usage error (no keyword): exit 2"
"$WINE" "$CLI_EXE" search --host "$PLAIN" --cacert "$(winpath "$WORK/plain.ca")" kw \
  >"$WORK/cacert.out" 2>"$WORK/cacert.err"
status=$?
if [ "$status" = 2 ] && grep -q -- "--cacert is not available on Windows" "$WORK/cacert.err" &&
  [ ! -s "$WORK/cacert.out" ]; then
  pass "--cacert on Windows: refused with exit 2"
else
  fail "--cacert on Windows: refused with exit 2" "status $status, stderr [$(cat "$WORK/cacert.err")]"
fi

"$WINE" "$CLI_EXE" search --service legacy --host "$PLAIN" --pages 1 --no-cookie-store \
  --format xlsx --output "$(winpath "$WORK/rows.xlsx")" kw >"$WORK/xlsx.out" 2>"$WORK/xlsx.err"
status=$?
if [ "$status" = 1 ] && grep -q "workbooks (.xlsx) are not available" "$WORK/xlsx.err" &&
  [ ! -e "$WORK/rows.xlsx" ]; then
  pass "--format xlsx on Windows: refused with exit 1 and a reason"
else
  fail "--format xlsx on Windows: refused with exit 1 and a reason" \
    "status $status, stderr [$(cat "$WORK/xlsx.err")]"
fi

# ---- the login wall: a redirect to the sign-in page ----
run_pair wall-legacy "$WORK/wall.ca" search --service legacy --host "$WALL" --pages 2 \
  --no-cookie-store kw
same_run wall-legacy 3 1 "login wall, legacy: the redirect gives exit 3 and the same address"
grep -q "sign in first at https://$WALL/member/login.jhtml" "$WORK/wall-legacy.windows.err" &&
  pass "login wall, legacy: the sign-in address is named" ||
  fail "login wall, legacy: the sign-in address is named" "$(cat "$WORK/wall-legacy.windows.err")"
run_pair wall-current "$WORK/wall.ca" search --service current --host "$WALL" --delay 0 \
  --pages 2 --no-cookie-store kw
same_run wall-current 3 1 "login wall, current: exit 3 and the same address"

# ---- cookies: a signed-in store finds the listings and is written back ----
curl -s -o /dev/null --cacert "$WORK/wall.ca" -c "$WORK/signed.txt" \
  -d "username=buyer&password=secret&redirectURL=%2Fitem.htm%3Fid%3D1" \
  "https://$WALL/member/login.jhtml" || die "curl could not sign in"
for side in linux windows; do
  cp "$WORK/signed.txt" "$WORK/store.$side.txt"
  chmod 600 "$WORK/store.$side.txt"
done
"$CLI_LINUX" search --host "$WALL" --cacert "$WORK/wall.ca" --delay 0 --pages 2 \
  --cookies "$WORK/store.linux.txt" kw >"$WORK/signed.linux.out" 2>"$WORK/signed.linux.err"
echo $? >"$WORK/signed.linux.status"
"$WINE" "$CLI_EXE" search --host "$WALL" --delay 0 --pages 2 \
  --cookies "$(winpath "$WORK/store.windows.txt")" kw >"$WORK/signed.windows.out" \
  2>"$WORK/signed.windows.err"
echo $? >"$WORK/signed.windows.status"
same_run signed 0 97 "cookies, current: the signed-in store finds both pages' 96 listings"

names_linux=$(cookie_names "$WORK/store.linux.txt" | tr '\n' ' ')
names_windows=$(cookie_names "$WORK/store.windows.txt" | tr '\n' ' ')
if [ "$names_linux" = "$names_windows" ] && [[ " $names_windows" == *" _m_h5_tk "* ]] &&
  [[ " $names_windows" == *" isg "* ]] && [[ " $names_windows" == *" cookie2 "* ]]; then
  pass "cookies: the store written back holds the same cookies ($names_windows)"
else
  fail "cookies: the store written back holds the same cookies" \
    "linux [$names_linux] windows [$names_windows]"
fi
if [ "$(cookie_value "$WORK/store.windows.txt" cookie2)" = "$(cookie_value "$WORK/signed.txt" cookie2)" ] &&
  [ "$(cookie_value "$WORK/store.windows.txt" isg)" != "$(cookie_value "$WORK/signed.txt" isg)" ] &&
  grep -q "^#HttpOnly_localhost	" "$WORK/store.windows.txt"; then
  pass "cookies: the sign-in is kept, HttpOnly kept, the refreshed cookie replaced"
else
  fail "cookies: the sign-in is kept, HttpOnly kept, the refreshed cookie replaced" "store differs"
fi
leaked=0
while IFS= read -r value; do
  [ -n "$value" ] && grep -qF -- "$value" "$WORK/signed.windows.err" "$WORK/signed.windows.out" &&
    leaked=1
done < <(cut -f7 "$WORK/store.windows.txt" | grep -v '^$')
[ $leaked = 0 ] && pass "cookies: no cookie value in the output" ||
  fail "cookies: no cookie value in the output" "a value was printed"

# Each side goes on with the store it wrote back.
"$CLI_LINUX" search --service legacy --host "$WALL" --cacert "$WORK/wall.ca" --pages 1 \
  --cookies "$WORK/store.linux.txt" kw >"$WORK/signed-legacy.linux.out" \
  2>"$WORK/signed-legacy.linux.err"
echo $? >"$WORK/signed-legacy.linux.status"
"$WINE" "$CLI_EXE" search --service legacy --host "$WALL" --pages 1 \
  --cookies "$(winpath "$WORK/store.windows.txt")" kw >"$WORK/signed-legacy.windows.out" \
  2>"$WORK/signed-legacy.windows.err"
echo $? >"$WORK/signed-legacy.windows.status"
same_run signed-legacy 0 45 "cookies, legacy: the written-back store passes the login wall"

# ---- hostile pages: the good pages' rows are kept ----
run_pair hostile "$WORK/plain.ca" search --service legacy --host "$PLAIN" --pages 7 \
  --no-cookie-store kw
ls=$(status_of hostile linux)
ws=$(status_of hostile windows)
if [ "$ws" != "$ls" ] || [ "$ws" != 0 ]; then
  fail "hostile pages: no crash" "exit status linux $ls, windows $ws"
else
  pass "hostile pages: no crash, exit 0"
fi
# Pages 1, 6 (redirected once) and 7 are good, page 2 is garbage that still has rows.
if cmp -s "$WORK/hostile.linux.out" "$WORK/hostile.windows.out"; then
  pass "hostile pages: the same rows ($(rows_of hostile windows) lines)"
else
  fail "hostile pages: the same rows" \
    "$(rows_of hostile linux) lines on Linux, $(rows_of hostile windows) on Windows"
fi
for page in 3 4 5; do
  l=$(grep "^page $page/7: " "$WORK/hostile.linux.err" | cut -d'(' -f1)
  w=$(grep "^page $page/7: " "$WORK/hostile.windows.err" | cut -d'(' -f1)
  if [ -n "$w" ] && [ "$l" = "$w" ]; then
    pass "hostile page $page: ${w% }"
  else
    fail "hostile page $page" "linux [$l] windows [$w]"
  fi
  echo "     linux:   $(grep "^page $page/7: " "$WORK/hostile.linux.err")"
  echo "     windows: $(grep "^page $page/7: " "$WORK/hostile.windows.err")"
done

"${WINESERVER:-wineserver}" -w 2>/dev/null
exit $FAILED
