#!/bin/bash
# contavio-book sync URL takes the password from the desktop's secret store:
# a D-Bus session and gnome-keyring started here, the password stored as the
# first versions did, under "carddav:USER@HOST" (service "Contavio") for the
# window's account, and syncs without --password-stdin and without a
# terminal against the fake server: another port of the same host is another
# server and gets no password; the account's own takes it, and the password
# moves to the key of its origin, "carddav:USER@http://HOST:PORT".
#   secret_store.sh PATH/TO/contavio-book
# Needs dbus-run-session, gnome-keyring-daemon and secret-tool; exits 77
# (skipped) without them.
set -eu

BOOK_PROGRAM=${1:?usage: secret_store.sh PATH/TO/contavio-book}
for tool in dbus-run-session dbus-send gnome-keyring-daemon secret-tool setsid; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
HERE=$(cd "$(dirname "$0")" && pwd)

if [ -z "${SECRET_STORE_INSIDE:-}" ]; then
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/secret_store.XXXXXX")
    trap 'rm -rf "$WORK"' EXIT
    status=0
    HOME=$WORK SECRET_STORE_INSIDE=$WORK dbus-run-session -- bash "$0" "$BOOK_PROGRAM" || status=$?
    exit $status
fi

WORK=$SECRET_STORE_INSIDE
PIDS=()
cleanup() { for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM
fail() { echo "FAIL: $*" >&2; exit 1; }

. "$HERE/keyring.sh"
start_keyring llavero "$WORK/keyring.log" || exit 1
PIDS+=("$KEYRING_PID")
free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
PORT=$(free_port)
OTHER=$(free_port)
/usr/bin/python3 "$HERE/fake_dav.py" "$PORT" "$WORK/control" "$WORK/requests.log" &
PIDS+=($!)
/usr/bin/python3 "$HERE/fake_dav.py" "$OTHER" "$WORK/control2" "$WORK/other.log" &
PIDS+=($!)
mkdir -p "$WORK/.config/Contavio"
printf '[CardDAV]\nserver=http://127.0.0.1:%s/u/book/\nuser=ana\n' "$PORT" >"$WORK/.config/Contavio/Contavio.conf"
printf clave | secret-tool store --label Contavio user "carddav:ana@127.0.0.1" server Contavio \
    type plaintext || fail "the password could not be stored: $(cat "$WORK/keyring.log")"
until curl -s -o /dev/null "http://127.0.0.1:$PORT/" && curl -s -o /dev/null "http://127.0.0.1:$OTHER/"; do
    sleep 0.1
done

mkdir "$WORK/b"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ana Uno\r\nN:Uno;Ana;;;\r\nEND:VCARD\r\n' >"$WORK/ana.vcf"
"$BOOK_PROGRAM" --book "$WORK/b/data.vlt" import "$WORK/ana.vcf" >/dev/null 2>&1
status=0
setsid "$BOOK_PROGRAM" --book "$WORK/b/data.vlt" sync "http://127.0.0.1:$OTHER/u/book/" --user ana \
    </dev/null >"$WORK/out" 2>&1 || status=$?
[ $status -eq 1 ] && grep -q "password-stdin" "$WORK/out" || fail "another port: $(cat "$WORK/out")"
grep -q "auth=yes" "$WORK/other.log" && fail "another port of the same host received the password"
setsid "$BOOK_PROGRAM" --book "$WORK/b/data.vlt" sync "http://127.0.0.1:$PORT/u/book/" --user ana \
    </dev/null >"$WORK/out" 2>&1 || fail "the password was not taken from the store: $(cat "$WORK/out")"
grep -q "auth=yes" "$WORK/requests.log" || fail "no password was sent"
[ "$(secret-tool lookup server Contavio user "carddav:ana@http://127.0.0.1:$PORT")" = clave ] &&
    [ -z "$(secret-tool lookup server Contavio user "carddav:ana@127.0.0.1")" ] ||
    fail "the password did not move to the key of its origin"
# Another user's key is not this one's: without a terminal, said and stopped.
status=0
setsid "$BOOK_PROGRAM" --book "$WORK/b/data.vlt" sync "http://127.0.0.1:$PORT/u/book/" --user otra \
    </dev/null >"$WORK/out" 2>&1 || status=$?
[ $status -eq 1 ] && grep -q "password-stdin" "$WORK/out" || fail "another user: $(cat "$WORK/out")"
grep -rq clave "$WORK/b" && fail "the password was written beside the book"
echo "the password came from the secret store"
