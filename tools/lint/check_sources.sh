#!/usr/bin/env bash
# Source checks that stand beside the behaviour tests: the programs start no other
# program, and never lower a certificate check. Run from anywhere; exits 1 and names
# each finding when a check fails. `make lint` runs it, and `make test` runs that first.
set -uo pipefail
cd "$(dirname "$0")/../.."

# The folders of the programs' own code (not the test servers or the sample market).
SCANNED=(text web search app tools/cli)
# Calls that would start a shell or another program.
FORBIDDEN_CALLS=(system popen fork vfork execl execlp execle execv execvp execvpe
  posix_spawn posix_spawnp wordexp ShellExecute ShellExecuteA ShellExecuteW)
# Names that start a program or touch a TLS context's verification, wherever they stand.
FORBIDDEN_NAMES=(QProcess /bin/sh SSL_set_verify SSL_CTX_set_verify X509_STORE)
# The only certificate options the programs may set, each exactly once, as written here.
ALLOWED_TLS_OPTIONS=("CURLOPT_SSL_VERIFYPEER, 1L" "CURLOPT_SSL_VERIFYHOST, 2L")
# The one TLS context hook, which only removes the key log callback; at most once.
KEYLOG_HOOK="CURLOPT_SSL_CTX_FUNCTION, NoKeyLog"

failed=0
fail() {
  echo "check_sources: $*" >&2
  failed=1
}

mapfile -t files < <(find "${SCANNED[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)
if [ "${#files[@]}" -eq 0 ]; then
  fail "no sources found under ${SCANNED[*]}"
  exit 1
fi

# Each line as FILE:LINE:CODE with its // comment cut off: a comment may name a call.
code=$(grep -nH '' "${files[@]}" | sed -E 's#//.*$##')

calls=$(IFS='|'; echo "${FORBIDDEN_CALLS[*]}")
while IFS= read -r hit; do
  fail "a call that starts another program: $hit"
done < <(grep -E "^[^:]+:[0-9]+:.*(^|[^A-Za-z0-9_.>:]|::)($calls)[[:space:]]*\(" <<<"$code")

for name in "${FORBIDDEN_NAMES[@]}"; do
  while IFS= read -r hit; do
    fail "$name: $hit"
  done < <(grep -F -- "$name" <<<"$code")
done

# Every setting of a certificate option, with its value.
tls_pattern='CURLOPT_[A-Z_]*(SSL_VERIFY|SSL_OPTIONS|SSL_CTX_FUNCTION)[A-Z_]*'
mapfile -t settings < <(grep -ohE "$tls_pattern[[:space:]]*,[[:space:]]*[^)]*" "${files[@]}")
for allowed in "${ALLOWED_TLS_OPTIONS[@]}"; do
  count=0
  for s in "${settings[@]}"; do [ "$s" = "$allowed" ] && count=$((count + 1)); done
  [ "$count" -eq 1 ] || fail "\"$allowed\" is set $count times, not once"
done
hooks=0
for s in "${settings[@]}"; do
  allowedHere=0
  for allowed in "${ALLOWED_TLS_OPTIONS[@]}" "$KEYLOG_HOOK"; do
    [ "$s" = "$allowed" ] && allowedHere=1
  done
  [ "$s" = "$KEYLOG_HOOK" ] && hooks=$((hooks + 1))
  [ "$allowedHere" -eq 1 ] || fail "a certificate option set otherwise: \"$s\""
done
[ "$hooks" -le 1 ] || fail "the TLS context hook is set $hooks times"
if [ "$hooks" -eq 1 ]; then
  # Its body calls one SSL_CTX_ function: the one that clears the key log callback.
  body=$(awk '/CURLcode NoKeyLog\(/ {on = 1} on {print} on && /^}/ {exit}' "${files[@]}")
  used=$(grep -oE 'SSL_CTX_[a-z_]+\(' <<<"$body" | sort -u | tr -d '\n')
  [ "$used" = "SSL_CTX_set_keylog_callback(" ] ||
    fail "NoKeyLog does more than clear the key log callback: ${used:-no hook body found}"
fi

# The desktop program hands an address to the desktop and to nothing else.
open=$(awk '/^void OpenAddress\(/ {on = 1} on {print} on && /^}/ {exit}' "${files[@]}")
grep -qF "QDesktopServices::openUrl(" <<<"$open" ||
  fail "OpenAddress does not hand its address to QDesktopServices::openUrl"

if [ "$failed" -eq 0 ]; then
  echo "check_sources: ${#files[@]} files under ${SCANNED[*]}: no forbidden call, certificate checks on"
fi
exit "$failed"
