#!/bin/sh
# The book synced with a real CardDAV server through vdirsyncer: Radicale on
# 127.0.0.1, an address book, a vdir, and contavio-book sync in between.
#   carddav_sync.sh PATH/TO/contavio-book
# Needs radicale, vdirsyncer and curl; exits 77 (skipped) without them.
set -eu

BOOK_PROGRAM=${1:?usage: carddav_sync.sh PATH/TO/contavio-book}
for tool in radicale vdirsyncer curl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/carddav_sync.XXXXXX")
SERVER_PID=
cleanup() {
    if [ -n "$SERVER_PID" ]; then
        kill "$SERVER_PID" 2>/dev/null || true
        wait "$SERVER_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

fail() { echo "FAIL: $*" >&2; exit 1; }

# A free port: bind to port 0 and read the one the system gave.
PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
BASE="http://127.0.0.1:$PORT"
COLLECTION="$BASE/user/contavio/"
# Without authentication Radicale takes any name and password; the name
# decides whose collections these are.
LOGIN="user:secret"

radicale --server-hosts "127.0.0.1:$PORT" --storage-filesystem-folder "$WORK/server" \
    --auth-type none >"$WORK/radicale.log" 2>&1 &
SERVER_PID=$!
tries=0
until curl -s -o /dev/null "$BASE/"; do
    tries=$((tries + 1))
    [ $tries -lt 100 ] || fail "Radicale did not start: $(cat "$WORK/radicale.log")"
    sleep 0.1
done

# The address book.
curl -sf -u "$LOGIN" -X MKCOL "$COLLECTION" -H 'Content-Type: application/xml' --data-binary \
'<?xml version="1.0"?>
<mkcol xmlns="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav"><set><prop>
<resourcetype><collection/><CR:addressbook/></resourcetype><displayname>Contavio</displayname>
</prop></set></mkcol>' >/dev/null || fail "could not create the address book"

VDIR="$WORK/contacts/contavio"
mkdir -p "$VDIR" "$WORK/status"
cat >"$WORK/vdirsyncer.conf" <<EOF
[general]
status_path = "$WORK/status/"

[pair contavio]
a = "contavio_local"
b = "contavio_server"
collections = null
conflict_resolution = "a wins"

[storage contavio_local]
type = "filesystem"
path = "$VDIR/"
fileext = ".vcf"

[storage contavio_server]
type = "carddav"
url = "$COLLECTION"
username = "user"
password = "secret"
EOF
export VDIRSYNCER_CONFIG="$WORK/vdirsyncer.conf"

BOOK="$WORK/data.vlt"
book() { "$BOOK_PROGRAM" --book "$BOOK" "$@"; }
vsync() { timeout 60 vdirsyncer sync >>"$WORK/vdirsyncer.log" 2>&1 || fail "vdirsyncer sync: $(tail -5 "$WORK/vdirsyncer.log")"; }
round() { vsync; timeout 60 "$BOOK_PROGRAM" --book "$BOOK" sync "$VDIR" || fail "contavio-book sync"; vsync; }
server_cards() { curl -sf -u "$LOGIN" -X PROPFIND -H 'Depth: 1' "$COLLECTION"; }
server_has() { server_cards | grep -q "$1"; }
# A card on the server by its UID: its whole text.
server_get() { curl -sf -u "$LOGIN" "$COLLECTION$1.vcf"; }
server_put() { curl -sf -u "$LOGIN" -o /dev/null -X PUT -H 'Content-Type: text/vcard' --data-binary "@$2" "$COLLECTION$1.vcf"; }
listed() { book list | grep -q "$1"; }

timeout 60 vdirsyncer discover >>"$WORK/vdirsyncer.log" 2>&1 </dev/null || fail "vdirsyncer discover"

# Bytes, size, time and inode of the book, every card and the sync's state.
files_now() {
    for f in "$BOOK" "$VDIR"/*.vcf "$WORK"/.contavio-sync-*; do
        [ -f "$f" ] && stat -c '%n %s %.9Y %i' "$f" && md5sum <"$f"
    done
}

# 0. Where there is no book, a sync starts none and touches nothing.
mkdir -p "$WORK/nobook"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Vidal;Rosa;;;\r\nFN:Rosa Vidal\r\nEND:VCARD\r\n' >"$VDIR/rosa.vcf"
"$BOOK_PROGRAM" --book "$WORK/nobook/data.vlt" sync "$VDIR" 2>/dev/null && fail "a sync without a book went ahead"
[ -z "$(ls -A "$WORK/nobook")" ] || fail "a sync without a book wrote $(ls -A "$WORK/nobook")"
[ -f "$VDIR/rosa.vcf" ] || fail "a sync without a book deleted a card"
rm "$VDIR/rosa.vcf"

# 1. A contact added in Contavio reaches the server.
# Marta stays to the end: vdirsyncer refuses to sync a side that was emptied.
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Garc\303\255a;Ana;;;\r\nFN:Ana Garc\303\255a\r\nTEL:+34 600 111 222\r\nEND:VCARD\r\n' >"$WORK/ana.vcf"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:;Marta;;;\r\nFN:Marta\r\nEND:VCARD\r\n' >>"$WORK/ana.vcf"
book import "$WORK/ana.vcf" >/dev/null
round
for href in $(server_cards | grep -o '<[^>]*href>[^<]*\.vcf<' | sed 's/.*>//; s/<$//'); do
    curl -sf -u "$LOGIN" "$BASE$href"
done >"$WORK/server.txt"
grep -q 'N:Garc' "$WORK/server.txt" || fail "the contact added in Contavio is not on the server"
grep -q '+34 600 111 222' "$WORK/server.txt" || fail "its telephone is not on the server"

# 2. A card PUT to the server reaches the book, and its photo survives an
#    edit in Contavio.
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:pilar-0001\r\nN:Ruiz;Pilar;;;\r\nFN:Pilar Ruiz\r\nTEL:+34 650 000 001\r\nORG:Acme\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==\r\nEND:VCARD\r\n' >"$WORK/put.vcf"
server_put pilar-0001 "$WORK/put.vcf" || fail "PUT of a card"
round
listed 'Pilar Ruiz' || fail "the card put to the server is not in the book"

printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ruiz;Pilar;;;\r\nFN:Pilar Ruiz\r\nEMAIL:pilar@example.com\r\nEND:VCARD\r\n' >"$WORK/pilar.vcf"
book import "$WORK/pilar.vcf" >/dev/null
round
PILAR=$(server_get pilar-0001) || fail "the server lost Pilar's card"
echo "$PILAR" | grep -q 'pilar@example.com' || fail "the edit in Contavio did not reach the server"
echo "$PILAR" | grep -q 'PHOTO' || fail "the photo did not survive an edit in Contavio"
echo "$PILAR" | grep -q 'ORG:Acme' || fail "ORG did not survive an edit in Contavio"

# 3. An edit on both sides loses nothing: the server adds a telephone, the
#    book an e-mail.
server_get pilar-0001 | awk '/^END:VCARD/ { printf "TEL:+34 650 999 999\r\n" } { print }' >"$WORK/put.vcf"
server_put pilar-0001 "$WORK/put.vcf" || fail "PUT of the changed card"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ruiz;Pilar;;;\r\nFN:Pilar Ruiz\r\nEMAIL:otra@example.com\r\nEND:VCARD\r\n' >"$WORK/pilar2.vcf"
book import "$WORK/pilar2.vcf" >/dev/null
round
book export "$WORK/out.vcf" >/dev/null
grep -q '650 999 999' "$WORK/out.vcf" || fail "the server's telephone was lost"
grep -q 'otra@example.com' "$WORK/out.vcf" || fail "the book's e-mail was lost"
PILAR=$(server_get pilar-0001)
echo "$PILAR" | grep -q 'otra@example.com' || fail "the merged card did not reach the server"
echo "$PILAR" | grep -q '650 999 999' || fail "the server's telephone went from the server"

# 3b. The same note changed in the book and on the server keeps both texts.
server_get pilar-0001 | grep -v '^NOTE' | awk '/^END:VCARD/ { printf "NOTE:del servidor\r\n" } { print }' >"$WORK/put.vcf"
server_put pilar-0001 "$WORK/put.vcf" || fail "PUT of the changed note"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ruiz;Pilar;;;\r\nFN:Pilar Ruiz\r\nNOTE:de la agenda\r\nEND:VCARD\r\n' >"$WORK/pilar3.vcf"
book import --replace "$WORK/pilar3.vcf" >/dev/null
round 2>"$WORK/conflict.txt"
grep -q 'Notas' "$WORK/conflict.txt" || fail "the report does not name the note changed on both sides"
book export "$WORK/out.vcf" >/dev/null
grep -q 'NOTE:de la agenda.*del servidor' "$WORK/out.vcf" || fail "the book lost one of the notes: $(grep NOTE "$WORK/out.vcf")"
server_get pilar-0001 | grep -q 'NOTE:de la agenda.*del servidor' || fail "the server lost one of the notes"

# 3c. A second sync with nothing changed writes nothing: the book, every
#     card and the state keep their bytes and times.
before=$(files_now)
timeout 60 "$BOOK_PROGRAM" --book "$BOOK" sync "$VDIR" >/dev/null || fail "contavio-book sync"
[ "$(files_now)" = "$before" ] || fail "a sync with nothing to do wrote: $(files_now | diff - /dev/fd/3 3<<EOF2
$before
EOF2
)"

# 3d. A contact renamed in Contavio (stored under its new names, the old one
#     deleted, as the window does) keeps the server's card: its photo, ORG
#     and UID.
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:rosa-0001\r\nN:Vidal;Rosa;;;\r\nFN:Rosa Vidal\r\nTEL;TYPE=CELL:+34 650 000 077\r\nORG:Acme\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==\r\nEND:VCARD\r\n' >"$WORK/put.vcf"
server_put rosa-0001 "$WORK/put.vcf" || fail "PUT of a card with a photo"
round
book delete 'Rosa' 'Vidal' >/dev/null || fail "contavio-book delete"
printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Vidal Soler;Rosa;;;\r\nFN:Rosa Vidal Soler\r\nTEL:+34 650 000 077\r\nEND:VCARD\r\n' >"$WORK/rosa.vcf"
book import "$WORK/rosa.vcf" >/dev/null
round
ROSA=$(server_get rosa-0001) || fail "the renamed contact's card went from the server"
for kept in 'N:Vidal Soler;Rosa' 'PHOTO;' 'ORG:Acme' 'UID:rosa-0001' 'TEL;TYPE=CELL'; do
    echo "$ROSA" | grep -q "$kept" || fail "the renamed card lost $kept: $ROSA"
done
[ "$(grep -l 'Vidal' "$VDIR"/*.vcf | wc -l)" -eq 1 ] || fail "the rename made a second card"

# 4. Deletions travel both ways.
curl -sf -u "$LOGIN" -X DELETE "${COLLECTION}pilar-0001.vcf" >/dev/null || fail "DELETE of a card"
round
listed 'Pilar Ruiz' && fail "the card deleted on the server is still in the book"
ANA_FILE=$(grep -l 'N:Garc' "$VDIR"/*.vcf | head -n 1)
[ -n "$ANA_FILE" ] || fail "Ana's card is not in the vdir"
# The book's side of a deletion: the program deletes a contact by its names.
book delete 'Ana' 'García' >/dev/null || fail "contavio-book delete"
round
server_has "$(basename "$ANA_FILE")" && fail "the contact deleted in Contavio is still on the server"

# 5. A server address book emptied (vdirsyncer forced to follow it) does not
#    empty the book: the sync refuses and changes nothing.
for href in $(server_cards | grep -o '<[^>]*href>[^<]*\.vcf<' | sed 's/.*>//; s/<$//'); do
    curl -sf -u "$LOGIN" -X DELETE "$BASE$href" >/dev/null || fail "DELETE $href"
done
timeout 60 vdirsyncer sync --force-delete >>"$WORK/vdirsyncer.log" 2>&1 || fail "vdirsyncer sync --force-delete"
[ -z "$(ls "$VDIR")" ] || fail "vdirsyncer left cards in the emptied vdir"
before=$(files_now)
timeout 60 "$BOOK_PROGRAM" --book "$BOOK" sync "$VDIR" 2>"$WORK/refused.txt" && fail "the sync of an emptied folder went ahead"
grep -q -- '--force-delete' "$WORK/refused.txt" || fail "the refusal does not say how to go ahead"
[ "$(files_now)" = "$before" ] || fail "the refused sync wrote something"
listed 'Marta' || fail "the emptied server emptied the book"

echo "carddav_sync: every check passed"
