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
. "$(dirname "$0")/peer_tools.sh"
missing=$(cyrus_missing)
[ -z "$missing" ] || { echo "skipped: $missing"; exit 77; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/carddav_cyrus.XXXXXX")
SERVER=$(mktemp -d "${TMPDIR:-/tmp}/carddav_cyrus_server.XXXXXX")
CYRUS_MASTER=
cleanup() {
    if [ -n "$CYRUS_MASTER" ]; then
        kill "$CYRUS_MASTER" 2>/dev/null || true
        wait "$CYRUS_MASTER" 2>/dev/null || true
    fi
    rm -rf "$WORK" "$SERVER"
}
trap cleanup EXIT INT TERM
start_cyrus "$SERVER" ana:clave eva:uno

. "$(dirname "$0")/carddav_scenario.sh"
# Cyrus makes the address book "Default" at the user's first request.
carddav_scenario cyrus "http://127.0.0.1:$CYRUS_PORT/" "http://127.0.0.1:$CYRUS_PORT/dav/addressbooks/user/ana/Default/" \
    ana clave
carddav_scenario cyrus-https "https://127.0.0.1:$CYRUS_TLS_PORT/" \
    "https://127.0.0.1:$CYRUS_TLS_PORT/dav/addressbooks/user/eva/Default/" eva uno --trust-certificate "$CYRUS_FINGERPRINT"
echo "all Cyrus CardDAV tests passed"
