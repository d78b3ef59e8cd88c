#!/bin/bash
# The book synced with a CardDAV server on 127.0.0.1 by contavio-book itself
# (sync URL), beside the way there was before: vdirsyncer plus the folder
# sync (sync CARPETA), doing the same work in the same run, on each server:
#   first: N contacts of a book to an empty address book;
#   idle:  a sync with nothing changed (and its number of requests);
#   floor: the same N cards sent by curl alone to a third empty address book,
#          one PUT per card, four at a time: what the server itself takes.
#   [SERVERS="radicale cyrus"] [PEERS_FIRST=1] [ONLY=contavio|peers]
#       server_sync_bench.sh PATH/TO/contavio-book [N]
# N is 1,000 unless told. ONLY measures one side alone (the other column shows
# 0 and no ratio), to measure a side again on a quiet machine; its figures
# then come from different runs, which the report must say.
set -eu

usage() { echo "usage: server_sync_bench.sh PATH/TO/contavio-book [N]" >&2; exit 2; }
[ $# -ge 1 ] && [ "$1" != --help ] || usage
BOOK_PROGRAM=$1
SIZE=${2:-1000}
[ -x "$BOOK_PROGRAM" ] || { echo "not a program: $BOOK_PROGRAM" >&2; usage; }
[[ $SIZE =~ ^[1-9][0-9]*$ ]] || { echo "N must be a number of contacts, 1 or more: $SIZE" >&2; usage; }
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../tests/peers/peer_tools.sh"
for tool in vdirsyncer curl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/server_sync_bench.XXXXXX")
# Cyrus's folder is one its own user can reach when this runs as root.
CYRUS_DIR=$(mktemp -d "${TMPDIR:-/tmp}/server_sync_bench_cyrus.XXXXXX")
SERVER=
CYRUS_MASTER=
cleanup() {
    local pid
    for pid in $SERVER $CYRUS_MASTER; do
        kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK" "$CYRUS_DIR"
}
trap cleanup EXIT INT TERM

/usr/bin/python3 -c '
import os, sys
os.makedirs(sys.argv[2])
with open(sys.argv[2] + ".vcf", "w", newline="") as all_cards:
    for i in range(int(sys.argv[1])):
        card = (f"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bench-{i}\r\nFN:Nombre{i} Apellido{i}\r\n"
                f"N:Apellido{i};Nombre{i};;;\r\nTEL:+34 600 {i:06d}\r\nEMAIL:n{i}@example.org\r\n"
                f"ADR:;;Calle {i};Madrid;;;\r\nEND:VCARD\r\n")
        all_cards.write(card)
        with open(f"{sys.argv[2]}/bench-{i}.vcf", "w", newline="") as one:
            one.write(card)
' "$SIZE" "$WORK/cards"

now() { date +%s.%N; }
calc() { /usr/bin/python3 -c "print($1)"; }
measure() {  # the command; prints seconds
    local start; start=$(now); "$@"; calc "$(now) - $start"
}
row() {
    if [ -n "${ONLY:-}" ]; then printf '%-44s %9.2fs %9.2fs %8s\n' "$1" "$2" "$3" "-"; return; fi
    printf '%-44s %9.2fs %9.2fs %8.2f\n' "$1" "$2" "$3" "$(calc "$3 / $2")"
}
cards() {  # URL USER:PASSWORD: how many cards the address book holds
    curl -s -u "$2" -X PROPFIND -H 'Depth: 1' "$1" | grep -o '\.vcf</' | wc -l
}

# bench NAME: the three address books are DIRECT_URL, PEERS_URL and
# FLOOR_URL, each with its own log-in (DIRECT_LOGIN ... as user:password).
bench() {
    local name=$1 side
    for side in direct peers; do
        rm -rf "$WORK/$side"; mkdir "$WORK/$side"
        "$BOOK_PROGRAM" --book "$WORK/$side/data.vlt" import "$WORK/cards.vcf" >/dev/null 2>&1
    done
    local vdir="$WORK/vdir-$name"
    mkdir -p "$vdir" "$WORK/status-$name"
    cat >"$WORK/vdirsyncer-$name.conf" <<CONF
[general]
status_path = "$WORK/status-$name/"
[pair peers]
a = "peers_local"
b = "peers_server"
collections = null
conflict_resolution = "a wins"
[storage peers_local]
type = "filesystem"
path = "$vdir/"
fileext = ".vcf"
[storage peers_server]
type = "carddav"
url = "$PEERS_URL"
username = "${PEERS_LOGIN%%:*}"
password = "${PEERS_LOGIN#*:}"
CONF
    export VDIRSYNCER_CONFIG="$WORK/vdirsyncer-$name.conf"
    yes | vdirsyncer discover >/dev/null 2>&1
    direct() {
        echo "${DIRECT_LOGIN#*:}" | CONTAVIO_DAV_COUNT=1 "$BOOK_PROGRAM" --book "$WORK/direct/data.vlt" \
            sync "$DIRECT_URL" --user "${DIRECT_LOGIN%%:*}" --password-stdin >"$WORK/direct.out" 2>&1
    }
    peers() {
        "$BOOK_PROGRAM" --book "$WORK/peers/data.vlt" sync "$vdir" >/dev/null 2>&1
        vdirsyncer sync >/dev/null 2>&1
    }
    # A side left out by ONLY takes no time and carries every card by definition.
    [ "${ONLY:-}" = contavio ] && peers() { :; }
    [ "${ONLY:-}" = peers ] && direct() { :; }
    floor() {
        local card
        for card in "$WORK"/cards/*.vcf; do
            printf 'url = "%s%s"\nupload-file = "%s"\n' "$FLOOR_URL" "${card##*/}" "$card"
        done >"$WORK/floor.curl"
        curl -s -o /dev/null --parallel --parallel-max 4 -u "$FLOOR_LOGIN" \
            -H 'Content-Type: text/vcard; charset=utf-8' -H 'If-None-Match: *' -H 'Expect:' -K "$WORK/floor.curl" 2>/dev/null
    }
    # Cyrus makes a user's address book at the first request.
    for side in DIRECT PEERS FLOOR; do
        eval 'cards "$'$side'_URL" "$'$side'_LOGIN"' >/dev/null
    done
    printf '%-44s %10s %10s %8s\n' "$name: server sync, $SIZE contacts" "contavio" "peers" "ratio"
    local first_direct first_peers
    # PEERS_FIRST=1 measures the peers first, to see what the order does.
    if [ -n "${PEERS_FIRST:-}" ]; then
        first_peers=$(measure peers)
        first_direct=$(measure direct)
    else
        first_direct=$(measure direct)
        first_peers=$(measure peers)
    fi
    carried() { [ "${ONLY:-$1}" != "$1" ] || [ "$(cards "$2" "$3")" -ge "$SIZE" ]; }
    carried contavio "$DIRECT_URL" "$DIRECT_LOGIN" && carried peers "$PEERS_URL" "$PEERS_LOGIN" || {
        echo "the first sync did not carry every card: $(cards "$DIRECT_URL" "$DIRECT_LOGIN")," \
            "$(cards "$PEERS_URL" "$PEERS_LOGIN")" >&2; exit 1; }
    row "first sync to an empty address book" "$first_direct" "$first_peers"
    local idle_direct idle_peers requests floor_time
    idle_direct=$(measure direct)
    requests=$(grep -o 'peticiones: [0-9]*' "$WORK/direct.out" | grep -o '[0-9]*$' || echo -)
    idle_peers=$(measure peers)
    row "sync with nothing changed" "$idle_direct" "$idle_peers"
    floor_time=$(measure floor)
    [ "$(cards "$FLOOR_URL" "$FLOOR_LOGIN")" -ge "$SIZE" ] || { echo "curl did not carry every card" >&2; exit 1; }
    printf '%-44s %9.2fs\n' "the server alone (curl, 4 PUTs at a time)" "$floor_time"
    echo "requests of the sync with nothing changed: $requests"
}

for server in ${SERVERS:-radicale cyrus}; do
    case $server in
    radicale)
        command -v radicale >/dev/null 2>&1 || { echo "radicale: skipped, not installed"; continue; }
        port=$(free_port)
        base="http://127.0.0.1:$port"
        echo "ana:clave" >"$WORK/users"
        radicale --server-hosts "127.0.0.1:$port" --storage-filesystem-folder "$WORK/radicale" \
            --auth-type htpasswd --auth-htpasswd-filename "$WORK/users" --auth-htpasswd-encryption plain \
            >"$WORK/radicale.log" 2>&1 &
        SERVER=$!
        wait_for "$base/"
        for book in direct peers floor; do
            curl -sf -u ana:clave -X MKCOL "$base/ana/$book/" -H 'Content-Type: application/xml' \
                --data-binary '<?xml version="1.0"?><mkcol xmlns="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav"><set><prop><resourcetype><collection/><CR:addressbook/></resourcetype></prop></set></mkcol>' >/dev/null
        done
        DIRECT_URL=$base/ana/direct/ PEERS_URL=$base/ana/peers/ FLOOR_URL=$base/ana/floor/
        DIRECT_LOGIN=ana:clave PEERS_LOGIN=ana:clave FLOOR_LOGIN=ana:clave
        bench "radicale $(radicale --version)"
        ;;
    cyrus)
        missing=$(cyrus_missing)
        [ -z "$missing" ] || { echo "cyrus: skipped, $missing"; continue; }
        start_cyrus "$CYRUS_DIR" ana:clave eva:uno eli:dos
        base="http://127.0.0.1:$CYRUS_PORT/dav/addressbooks/user"
        DIRECT_URL=$base/ana/Default/ PEERS_URL=$base/eva/Default/ FLOOR_URL=$base/eli/Default/
        DIRECT_LOGIN=ana:clave PEERS_LOGIN=eva:uno FLOOR_LOGIN=eli:dos
        bench "cyrus $(dpkg-query -W -f '${Version}' cyrus-imapd 2>/dev/null || echo)"
        ;;
    *) echo "unknown server: $server" >&2; exit 2 ;;
    esac
done
echo "(peers: vdirsyncer sync plus contavio-book sync CARPETA; ratio: peers / contavio)"
