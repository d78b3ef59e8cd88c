#!/bin/sh
# The window's syncs and termination signals in a desktop's D-Bus session:
# once in a session with no secret store on it (nor one the bus could
# start), once with gnome-keyring-daemon (unlocked, secrets only) holding the
# account's password while the server is down. In both the window asks
# nothing, and a signal saves the session's edits and ends the program.
#   window_session.sh PATH/TO/ServerSync_test PATH/TO/Faults_test
# Needs dbus-run-session, dbus-send and gnome-keyring-daemon; exits 77
# (skipped) without them.
set -eu

SYNC_TEST=${1:?usage: window_session.sh PATH/TO/ServerSync_test PATH/TO/Faults_test}
FAULTS_TEST=${2:?usage: window_session.sh PATH/TO/ServerSync_test PATH/TO/Faults_test}
CASES="ServerSyncTest.SyncAfterStartUpNeverWaitsOnTheUser:ServerSyncTest.SignalDuringASync*"
CASES="$CASES:FaultsTest.SignalWhileAQuestionWaits*:Signals/SignalTest.*"

if [ -n "${WINDOW_SESSION_INSIDE:-}" ]; then
    # Inside the session's bus: the cases, which must all pass.
    if [ "$WINDOW_SESSION_INSIDE" = secret-store ]; then
        . "$(dirname "$0")/keyring.sh"
        start_keyring llave "$WORK/keyring.log" || exit 1
        trap 'kill $KEYRING_PID 2>/dev/null || true; wait $KEYRING_PID 2>/dev/null || true' EXIT
        export CONTAVIO_SECRET_STORE_TEST=1
    fi
    log="$WORK/$WINDOW_SESSION_INSIDE.log"
    { "$SYNC_TEST" --gtest_filter="$CASES" && "$FAULTS_TEST" --gtest_filter="$CASES"; } >"$log" 2>&1 ||
        { cat "$log" >&2; echo "FAIL: $WINDOW_SESSION_INSIDE" >&2; exit 1; }
    echo "$WINDOW_SESSION_INSIDE: $(grep -c '^\[       OK \]' "$log") cases passed"
    exit 0
fi

for tool in dbus-run-session dbus-send gnome-keyring-daemon; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/window_session.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
mkdir -p "$WORK/home" "$WORK/data" "$WORK/cache" "$WORK/run"
chmod 700 "$WORK/run"
export HOME="$WORK/home" XDG_DATA_HOME="$WORK/data" XDG_CACHE_HOME="$WORK/cache" \
    XDG_RUNTIME_DIR="$WORK/run" QT_QPA_PLATFORM=offscreen WORK

# A session bus that starts no service of its own: a desktop without a secret store.
cat >"$WORK/bare-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$WORK/run</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF

WINDOW_SESSION_INSIDE=no-secret-store dbus-run-session --config-file="$WORK/bare-bus.conf" -- \
    sh "$0" "$SYNC_TEST" "$FAULTS_TEST"
WINDOW_SESSION_INSIDE=secret-store dbus-run-session -- sh "$0" "$SYNC_TEST" "$FAULTS_TEST"
echo "ok: no sync waited on the user, and every signal saved the book and ended the program"
