#!/usr/bin/env bash
# Shows a mail check from start to end without a mail account: starts a throwaway POP3 server
# (Dovecot) on a loopback port with a demo mailbox, sets Mailvane up for it in a throwaway settings
# store, and runs mailvane-check twice. Needs root for the server (or sudo).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

heading() { printf '\n== %s ==\n' "$1"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/mailvane-demo.XXXXXX")
export MAILVANE_REGISTRY="$work/registry.sqlite3"

# The mailbox server runs as a coprocess and stops when its standard input closes: on the way out,
# whatever way that is.
stop_mailbox() {
  if [ -n "${mailbox_pid:-}" ]; then
    exec {mailbox_in}>&-
    wait "$mailbox_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_mailbox EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

heading "Building"
echo "Installing what is missing and building (the first time takes a few minutes)..."
if ! dir=$("$root/scripts/build.sh" 2>"$work/build.log" | tail -n 1) || [ -z "$dir" ]; then
  tail -n 30 "$work/build.log" >&2
  echo "The build failed." >&2
  exit 1
fi
check="$dir/mailvane/app/mailvane-check"
settings="$dir/mailvane/app/mailvane-settings"
mailbox="$dir/tests/support/mailvane-test-mailbox"
echo "Built in $dir"

user=demo
password=demo
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
coproc MAILBOX { exec "${as_root[@]}" "$mailbox" --demo --user "$user" --password "$password"; }
# Kept apart: bash forgets the coprocess's names once it has ended.
mailbox_pid=$MAILBOX_PID mailbox_in=${MAILBOX[1]} mailbox_out=${MAILBOX[0]}
if ! read -r word port <&"$mailbox_out" || [ "$word" != port ]; then
  echo "The demo mailbox did not start (see the message above)." >&2
  exit 1
fi

heading "Demo mailbox"
cat <<TEXT
A Dovecot POP3 server on 127.0.0.1:$port holds 7 messages for user "$user":
  1  Anna Berg        Minutes of Tuesday's team meeting            4 KB
  2  GitLab           Pipeline #4812 passed for main               7 KB
  3  Mega Deals       You have been selected for a FREE cruise!   10 KB  blocked sender
  4  Jonas Weber      Re: Weekend in the mountains?                2 KB
  5  Scanner Room 2   (no Subject header)                          1 KB  blank Subject
  6  Photo Service    Your holiday photos are ready              206 KB  over 32 KB
  7  Carla Mendes     Invoice 2024-031                            19 KB
TEXT

heading "Settings"
# The first run finds no account: it writes the default settings and ends with status 2.
echo "mailvane-check with a new, empty store writes the default settings and stops:"
status=0
"$check" 2>&1 | sed 's/^/  /' || status=${PIPESTATUS[0]}
[ "$status" -eq 2 ] || { echo "mailvane-check without accounts ended with status $status, not 2" >&2; exit 1; }

# Passwords are stored scrambled: character k (from 1) of code c becomes (c XOR k) + 3k.
scramble() {
  local text=$1 out="" k code
  for ((k = 1; k <= ${#text}; k++)); do
    printf -v code '%d' "'${text:k-1:1}"
    code=$(((code ^ k) + 3 * k))
    # This demo keeps to passwords whose scrambled form is plain ASCII without quotes or backslashes.
    if ((code > 126 || code == 34 || code == 92)); then
      echo "scramble: choose another demo password" >&2
      return 1
    fi
    out+=$(printf "\\$(printf '%03o' "$code")")
  done
  printf '%s' "$out"
}

scrambled=$(scramble "$password")
# The From text of the demo's third message (demoBlockedSender in tests/support/MailboxContent.h).
blocked='Mega Deals <offers@deals.example.biz>'
key='HKEY_LOCAL_MACHINE\Software\Corvanta\Mailvane 1.0'
cat >"$work/demo.reg" <<REG
REGEDIT4

[$key]
"BlockBlankSubject"=dword:ffffffff
"BlockOverSize"=dword:ffffffff
"MaxSize"=dword:00000020

[$key\\Accounts\\Demo mailbox]
"Host"="127.0.0.1"
"UserName"="$user"
"Password"="$scrambled"
"Selected"="True"
"Port"=dword:$(printf '%08x' "$port")

[$key\\Blocked Senders]
"$blocked"="$blocked"
REG
"$settings" import "$work/demo.reg"
cat <<TEXT
mailvane-settings imported these settings into the throwaway store $MAILVANE_REGISTRY:
  account "Demo mailbox": $user@127.0.0.1, port $port
  delete: mail from "$blocked", mail without a Subject, mail over 32 KB
TEXT

# Status 3: the check did not run, because the system reports no network connection (mailvane-check
# asks the system even for a local server).
run_check() {
  local status=0
  "$check" || status=$?
  if [ "$status" -eq 3 ]; then
    echo "The system reports no network connection, so mailvane-check did not check; the demo needs one." >&2
    exit 1
  fi
}

heading "First check: lists the wanted mail, deletes the rest on the server"
run_check

heading "Second check: the deleted messages are gone"
run_check
