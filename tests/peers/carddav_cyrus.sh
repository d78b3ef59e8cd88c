#!/bin/bash
# contavio-book sync URL against Cyrus IMAP's CardDAV, started here on
# 127.0.0.1 from a configuration of its own (users in a sasldb made by
# saslpasswd2), over HTTP and over HTTPS with a certificate made here: the
# suite's server scenario (carddav_scenario.sh) on each.
#   carddav_cyrus.sh PATH/TO/contavio-book
# Needs cyrus-imapd, cyrus-caldav, sasl2-bin, openssl and curl; exits 77
# (skipped) without them.
set -eu

BOOK_PROGRAM=${1:?usage: carddav_cyrus.sh PATH/TO/contavio-book}
CYRUS_BIN=/usr/lib/cyrus/bin
for tool in saslpasswd2 openssl curl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -x "$CYRUS_BIN/master" ] && [ -x "$CYRUS_BIN/httpd" ] || { echo "skipped: Cyrus IMAP is not installed"; exit 77; }
# Cyrus's services refuse to run as root: then they run as its own user.
CYRUS_USER=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    CYRUS_USER=cyrus
    id cyrus >/dev/null 2>&1 || { echo "skipped: no user cyrus"; exit 77; }
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/carddav_cyrus.XXXXXX")
SERVER=$(mktemp -d "${TMPDIR:-/tmp}/carddav_cyrus_server.XXXXXX")
MASTER=
cleanup() {
    if [ -n "$MASTER" ]; then
        kill "$MASTER" 2>/dev/null || true
        wait "$MASTER" 2>/dev/null || true
    fi
    rm -rf "$WORK" "$SERVER"
}
trap cleanup EXIT INT TERM
. "$(dirname "$0")/peer_tools.sh"

PORT=$(free_port)
TLS_PORT=$(free_port)
IMAP_PORT=$(free_port)
mkdir -p "$SERVER/config" "$SERVER/spool" "$SERVER/run"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$SERVER/key.pem" -out "$SERVER/cert.pem" -days 2 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1
FINGERPRINT=$(openssl x509 -in "$SERVER/cert.pem" -noout -fingerprint -sha256 | sed 's/.*=//')
CONFIG=$SERVER/imapd.conf
# autocreate_quota: a user's first IMAP log-in makes the INBOX that the
# address books hang from.
cat >"$CONFIG" <<EOF
configdirectory: $SERVER/config
partition-default: $SERVER/spool
servername: 127.0.0.1
cyrus_user: $CYRUS_USER
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_sasldb_path: $SERVER/sasldb2
allowplaintext: yes
autocreate_quota: 0
httpmodules: carddav
tls_server_cert: $SERVER/cert.pem
tls_server_key: $SERVER/key.pem
EOF
# The services read /etc/imapd.conf unless told otherwise.
cat >"$SERVER/cyrus.conf" <<EOF
START {
    recover cmd="ctl_cyrusdb -C $CONFIG -r"
}
SERVICES {
    http cmd="httpd -C $CONFIG" listen="127.0.0.1:$PORT" prefork=0
    https cmd="httpd -s -C $CONFIG" listen="127.0.0.1:$TLS_PORT" prefork=0
    imap cmd="imapd -C $CONFIG" listen="127.0.0.1:$IMAP_PORT" prefork=0
}
EOF
# The realm of a user is the server's name.
for login in ana:clave eva:uno; do
    echo "${login#*:}" | saslpasswd2 -f "$SERVER/sasldb2" -u 127.0.0.1 -p -c "${login%%:*}"
done
[ "$CYRUS_USER" = "$(id -un)" ] || chown -R "$CYRUS_USER" "$SERVER"
"$CYRUS_BIN/master" -C "$CONFIG" -M "$SERVER/cyrus.conf" -p "$SERVER/run/master.pid" -D \
    >"$SERVER/master.log" 2>&1 &
MASTER=$!
wait_for "http://127.0.0.1:$PORT/"
wait_for "https://127.0.0.1:$TLS_PORT/"
for login in ana:clave eva:uno; do
    curl -sf -o /dev/null "imap://127.0.0.1:$IMAP_PORT/" -u "$login" || fail "no IMAP log-in for $login"
done

. "$(dirname "$0")/carddav_scenario.sh"
# Cyrus makes the address book "Default" at the user's first request.
carddav_scenario cyrus "http://127.0.0.1:$PORT/" "http://127.0.0.1:$PORT/dav/addressbooks/user/ana/Default/" \
    ana clave
carddav_scenario cyrus-https "https://127.0.0.1:$TLS_PORT/" \
    "https://127.0.0.1:$TLS_PORT/dav/addressbooks/user/eva/Default/" eva uno --trust-certificate "$FINGERPRINT"
echo "all Cyrus CardDAV tests passed"
