# What the scripts that start a server share; sourced.
#   fail TEXT          ends the script, saying why
#   free_port          a port of 127.0.0.1 nobody listens on
#   wait_for URL       waits until URL answers (15 s at most)
fail() { echo "FAIL: $*" >&2; exit 1; }
free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for() {
    local tries=0
    until curl -sk -o /dev/null "$1"; do
        tries=$((tries + 1)); [ $tries -lt 150 ] || fail "no server at $1"; sleep 0.1
    done
}

# Cyrus IMAP's CardDAV, started on 127.0.0.1 from a configuration of its own
# (users in a sasldb made by saslpasswd2), over HTTP and over HTTPS with a
# certificate made here.
#   cyrus_missing             says what is missing, or nothing
#   start_cyrus DIR USER:PASSWORD...
#                             starts it in the empty folder DIR; sets
#                             CYRUS_MASTER (the process to end), CYRUS_PORT,
#                             CYRUS_TLS_PORT and CYRUS_FINGERPRINT
# Its address book "Default" appears at a user's first request.
CYRUS_BIN=/usr/lib/cyrus/bin
cyrus_missing() {
    local tool
    for tool in saslpasswd2 openssl curl; do
        command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed"; return; }
    done
    [ -x "$CYRUS_BIN/master" ] && [ -x "$CYRUS_BIN/httpd" ] || { echo "Cyrus IMAP is not installed"; return; }
    # Cyrus's services refuse to run as root: then they run as its own user.
    [ "$(id -u)" -ne 0 ] || id cyrus >/dev/null 2>&1 || echo "no user cyrus"
}
start_cyrus() {
    local server=$1 login user=$(id -un) imap_port
    shift
    [ "$(id -u)" -ne 0 ] || user=cyrus
    CYRUS_PORT=$(free_port)
    CYRUS_TLS_PORT=$(free_port)
    imap_port=$(free_port)
    mkdir -p "$server/config" "$server/spool" "$server/run"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$server/key.pem" -out "$server/cert.pem" -days 2 \
        -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1
    CYRUS_FINGERPRINT=$(openssl x509 -in "$server/cert.pem" -noout -fingerprint -sha256 | sed 's/.*=//')
    local config=$server/imapd.conf
    # autocreate_quota: a user's first IMAP log-in makes the INBOX that the
    # address books hang from.
    cat >"$config" <<CONF
configdirectory: $server/config
partition-default: $server/spool
servername: 127.0.0.1
cyrus_user: $user
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_sasldb_path: $server/sasldb2
allowplaintext: yes
autocreate_quota: 0
httpmodules: carddav
tls_server_cert: $server/cert.pem
tls_server_key: $server/key.pem
CONF
    # The services read /etc/imapd.conf unless told otherwise.
    cat >"$server/cyrus.conf" <<CONF
START {
    recover cmd="ctl_cyrusdb -C $config -r"
}
SERVICES {
    http cmd="httpd -C $config" listen="127.0.0.1:$CYRUS_PORT" prefork=0
    https cmd="httpd -s -C $config" listen="127.0.0.1:$CYRUS_TLS_PORT" prefork=0
    imap cmd="imapd -C $config" listen="127.0.0.1:$imap_port" prefork=0
}
CONF
    # The realm of a user is the server's name.
    for login in "$@"; do
        echo "${login#*:}" | saslpasswd2 -f "$server/sasldb2" -u 127.0.0.1 -p -c "${login%%:*}"
    done
    [ "$user" = "$(id -un)" ] || chown -R "$user" "$server"
    "$CYRUS_BIN/master" -C "$config" -M "$server/cyrus.conf" -p "$server/run/master.pid" -D \
        >"$server/master.log" 2>&1 &
    CYRUS_MASTER=$!
    wait_for "http://127.0.0.1:$CYRUS_PORT/"
    wait_for "https://127.0.0.1:$CYRUS_TLS_PORT/"
    for login in "$@"; do
        curl -sf -o /dev/null "imap://127.0.0.1:$imap_port/" -u "$login" || fail "no IMAP log-in for $login"
    done
}
