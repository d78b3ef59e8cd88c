# Sourced by the secret-store tests, inside their own D-Bus session.
#   start_keyring PASSWORD LOG
# starts gnome-keyring-daemon (secrets only) with its login keyring unlocked
# by PASSWORD, sets KEYRING_PID, and returns once the daemon owns
# org.freedesktop.secrets. Until then nothing may call the secret service:
# the bus would start a second daemon of its own, which finds the login
# keyring half written and, with no password, stays locked.
start_keyring() {
    printf "%s" "$1" | gnome-keyring-daemon --foreground --unlock --components=secrets >"$2" 2>&1 &
    KEYRING_PID=$!
    keyring_tries=0
    until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
            grep -q "boolean true"; do
        keyring_tries=$((keyring_tries + 1))
        if [ $keyring_tries -ge 100 ] || ! kill -0 "$KEYRING_PID" 2>/dev/null; then
            echo "FAIL: the secret store did not start: $(cat "$2")" >&2
            kill "$KEYRING_PID" 2>/dev/null || true
            wait "$KEYRING_PID" 2>/dev/null || true
            return 1
        fi
        sleep 0.1
    done
}
