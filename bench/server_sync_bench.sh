#!/bin/bash
# The book synced with Radicale on 127.0.0.1 by contavio-book itself
# (sync URL), beside the way there was before: vdirsyncer plus the folder
# sync (sync CARPETA), doing the same work in the same run:
#   first: N contacts of a book to an empty address book;
#   idle:  a sync with nothing changed (and its number of requests).
#   [PEERS_FIRST=1] [ONLY=contavio|peers] server_sync_bench.sh PATH/TO/contavio-book [N]
# ONLY measures one side alone (the other column shows 0 and no ratio), to
# measure a side again on a quiet machine; its figures then come from
# different runs, which the report must say.
set -eu

BOOK_PROGRAM=${1:?usage: server_sync_bench.sh PATH/TO/contavio-book [N]}
SIZE=${2:-10000}
for tool in radicale vdirsyncer curl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/server_sync_bench.XXXXXX")
SERVER=
cleanup() {
    [ -z "$SERVER" ] || { kill "$SERVER" 2>/dev/null || true; wait "$SERVER" 2>/dev/null || true; }
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
BASE="http://127.0.0.1:$PORT"
echo "ana:clave" >"$WORK/users"
radicale --server-hosts "127.0.0.1:$PORT" --storage-filesystem-folder "$WORK/store" \
    --auth-type htpasswd --auth-htpasswd-filename "$WORK/users" --auth-htpasswd-encryption plain \
    >"$WORK/radicale.log" 2>&1 &
SERVER=$!
until curl -s -o /dev/null "$BASE/"; do sleep 0.1; done
for name in direct peers; do
    curl -sf -u ana:clave -X MKCOL "$BASE/ana/$name/" -H 'Content-Type: application/xml' \
        --data-binary '<?xml version="1.0"?><mkcol xmlns="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav"><set><prop><resourcetype><collection/><CR:addressbook/></resourcetype></prop></set></mkcol>' >/dev/null
done

/usr/bin/python3 -c '
import sys
for i in range(int(sys.argv[1])):
    print(f"BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Nombre{i} Apellido{i}\r\nN:Apellido{i};Nombre{i};;;\r\n"
          f"TEL:+34 600 {i:06d}\r\nEMAIL:n{i}@example.org\r\nADR:;;Calle {i};Madrid;;;\r\nEND:VCARD\r", end="\n")
' "$SIZE" >"$WORK/cards.vcf"
for name in direct peers; do
    mkdir "$WORK/$name"
    "$BOOK_PROGRAM" --book "$WORK/$name/data.vlt" import "$WORK/cards.vcf" >/dev/null 2>&1
done

VDIR="$WORK/vdir/peers"
mkdir -p "$VDIR" "$WORK/status"
cat >"$WORK/vdirsyncer.conf" <<CONF
[general]
status_path = "$WORK/status/"
[pair peers]
a = "peers_local"
b = "peers_server"
collections = null
conflict_resolution = "a wins"
[storage peers_local]
type = "filesystem"
path = "$VDIR/"
fileext = ".vcf"
[storage peers_server]
type = "carddav"
url = "$BASE/ana/peers/"
username = "ana"
password = "clave"
CONF
export VDIRSYNCER_CONFIG="$WORK/vdirsyncer.conf"
yes | vdirsyncer discover >/dev/null 2>&1

now() { date +%s.%N; }
calc() { /usr/bin/python3 -c "print($1)"; }
direct() {
    echo clave | CONTAVIO_DAV_COUNT=1 "$BOOK_PROGRAM" --book "$WORK/direct/data.vlt" sync \
        "$BASE/ana/direct/" --user ana --password-stdin >"$WORK/direct.out" 2>&1
}
peers() {
    "$BOOK_PROGRAM" --book "$WORK/peers/data.vlt" sync "$VDIR" >/dev/null 2>&1
    vdirsyncer sync >/dev/null 2>&1
}
measure() {  # what, then the command; prints seconds
    local start; start=$(now); "$@"; calc "$(now) - $start"
}
row() {
    if [ -n "${ONLY:-}" ]; then printf '%-44s %9.2fs %9.2fs %8s\n' "$1" "$2" "$3" "-"; return; fi
    printf '%-44s %9.2fs %9.2fs %8.2f\n' "$1" "$2" "$3" "$(calc "$3 / $2")"
}
# A side left out by ONLY takes no time and carries every card by definition.
[ "${ONLY:-}" = contavio ] && peers() { :; }
[ "${ONLY:-}" = peers ] && direct() { :; }
cards() { curl -s -u ana:clave -X PROPFIND -H 'Depth: 1' "$BASE/ana/$1/" | grep -o '\.vcf<' | wc -l; }
# Each row as soon as it is measured: a long run shows what it has.
printf '%-44s %10s %10s %8s\n' "server sync, $SIZE contacts" "contavio" "peers" "ratio"
# PEERS_FIRST=1 measures the peers first, to see what the order does.
if [ -n "${PEERS_FIRST:-}" ]; then
    first_peers=$(measure peers)
    first_direct=$(measure direct)
else
    first_direct=$(measure direct)
    first_peers=$(measure peers)
fi
carried() { [ "${ONLY:-$1}" != "$1" ] || [ "$(cards "$2")" -ge "$SIZE" ]; }
carried contavio direct && carried peers peers || {
    echo "the first sync did not carry every card: $(cards direct), $(cards peers)" >&2; exit 1; }
row "first sync to an empty address book" "$first_direct" "$first_peers"
idle_direct=$(measure direct)
requests=$(grep -o 'peticiones: [0-9]*' "$WORK/direct.out" | grep -o '[0-9]*$')
idle_peers=$(measure peers)
row "sync with nothing changed" "$idle_direct" "$idle_peers"
echo "requests of the sync with nothing changed: $requests"
echo "(peers: vdirsyncer sync plus contavio-book sync CARPETA; ratio: peers / contavio)"
