#!/bin/sh
# The CardDAV password in a real secret store: a D-Bus session of its own
# with gnome-keyring-daemon (unlocked, secrets only), the account test's
# secret-store case against it, the password found in the store under the
# account's key, and in no file under the test's home and XDG folders; then
# the window's sync after start-up, which takes its password from the store.
#   account_secret_store.sh PATH/TO/ServerAccount_test PATH/TO/ServerSync_test
# Needs dbus-run-session, gnome-keyring-daemon and secret-tool; exits 77
# (skipped) without them.
set -eu

TEST_PROGRAM=${1:?usage: account_secret_store.sh PATH/TO/ServerAccount_test PATH/TO/ServerSync_test}
WINDOW_TEST=${2:?usage: account_secret_store.sh PATH/TO/ServerAccount_test PATH/TO/ServerSync_test}
for tool in dbus-run-session gnome-keyring-daemon secret-tool dbus-send; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/account_secret_store.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
mkdir -p "$WORK/home" "$WORK/config" "$WORK/data" "$WORK/cache" "$WORK/run"
chmod 700 "$WORK/run"
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/data" \
    XDG_CACHE_HOME="$WORK/cache" XDG_RUNTIME_DIR="$WORK/run" QT_QPA_PLATFORM=offscreen
# A password no file would hold by chance.
PASSWORD="pw-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
HERE=$(cd "$(dirname "$0")" && pwd)
export PASSWORD TEST_PROGRAM WINDOW_TEST WORK HERE

dbus-run-session -- sh -eu -c '
    . "$HERE/keyring.sh"
    start_keyring keyring-unlock "$WORK/keyring.log" || exit 1
    trap "kill $KEYRING_PID 2>/dev/null || true; wait $KEYRING_PID 2>/dev/null || true" EXIT
    CONTAVIO_SECRET_STORE_TEST="$PASSWORD" "$TEST_PROGRAM" \
        --gtest_filter=AccountTest.SecretStore* 2>&1 |
        tee "$WORK/test.log" | grep -q "\[  PASSED  \] 1 test" ||
        { cat "$WORK/test.log" >&2; echo "FAIL: the secret-store case did not pass" >&2; exit 1; }
    found=$(secret-tool lookup server Contavio user "carddav:ana@http://127.0.0.1:5232")
    [ "$found" = "$PASSWORD" ] ||
        { echo "FAIL: the store does not hold the password under its key" >&2; exit 1; }
    CONTAVIO_SECRET_STORE_TEST=1 "$WINDOW_TEST" --gtest_filter=ServerSyncTest.StartUp* 2>&1 |
        tee "$WORK/window.log" | grep -q "\[  PASSED  \] 1 test" ||
        { cat "$WORK/window.log" >&2; echo "FAIL: the sync after start-up did not pass" >&2; exit 1; }
'
if grep -rlF "$PASSWORD" "$WORK"; then
    echo "FAIL: the password is in a file (above)" >&2
    exit 1
fi
echo "ok: the password is in the secret store and in no file; the window synced with it"
