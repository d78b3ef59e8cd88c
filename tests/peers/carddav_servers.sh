#!/bin/bash
# contavio-book sync URL against real CardDAV servers started here on
# 127.0.0.1: Radicale with Basic authentication (an htpasswd file) over
# HTTP and over HTTPS with a certificate made here (also: another user's
# address book, and a card changed between reading and writing through
# race_proxy.py), and Xandikos reached from its root; then the suite's server
# scenario (carddav_scenario.sh) on both.
#   carddav_servers.sh PATH/TO/contavio-book
# Needs radicale, xandikos, openssl and curl; exits 77 (skipped) without them.
set -eu

BOOK_PROGRAM=${1:?usage: carddav_servers.sh PATH/TO/contavio-book}
for tool in radicale xandikos openssl curl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/carddav_servers.XXXXXX")
PIDS=()
stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
cleanup() {
    for pid in "${PIDS[@]}"; do stop "$pid"; done
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM
. "$(dirname "$0")/peer_tools.sh"

PORT=$(free_port)
TLS_PORT=$(free_port)
echo "ana:clave" >"$WORK/users"
radicale_on() {  # port, then extra options
    local port=$1; shift
    radicale --server-hosts "127.0.0.1:$port" --storage-filesystem-folder "$WORK/store" \
        --auth-type htpasswd --auth-htpasswd-filename "$WORK/users" \
        --auth-htpasswd-encryption plain "$@" >>"$WORK/radicale.log" 2>&1 &
    PIDS+=($!)
    LAST=$!
}
radicale_on "$PORT"
RADICALE=$LAST
wait_for "http://127.0.0.1:$PORT/"
ROOT="http://127.0.0.1:$PORT/"
BOOKURL="${ROOT}ana/libreta/"
mkcol() {  # user:password, url
    curl -sf -u "$1" -X MKCOL "$2" -H 'Content-Type: application/xml' --data-binary \
'<?xml version="1.0"?><mkcol xmlns="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav"><set><prop>
<resourcetype><collection/><CR:addressbook/></resourcetype><displayname>Libreta</displayname>
</prop></set></mkcol>' >/dev/null || fail "could not create the address book $2"
}
mkcol ana:clave "$BOOKURL"

card() { printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s%s\r\nFN:%s %s\r\nN:%s;%s;;;\r\nTEL:%s\r\nEND:VCARD\r\n' "$1" "$2" "$1" "$2" "$2" "$1" "$3"; }
{ card Ana Uno 1; card Luis Dos 2; card Marta Tres 3; } >"$WORK/three.vcf"
book() { "$BOOK_PROGRAM" --book "$WORK/$1/data.vlt" "${@:2}"; }
new_book() { mkdir -p "$WORK/$1"; book "$1" import "$2" >/dev/null 2>&1; }
sync_as() {  # book, password, url, options; the user is $SYNC_USER, or ana
    echo "$2" | CONTAVIO_DAV_COUNT=1 "$BOOK_PROGRAM" --book "$WORK/$1/data.vlt" sync "$3" \
        --user "${SYNC_USER:-ana}" --password-stdin "${@:4}"
}
count() { book "$1" list 2>/dev/null | wc -l; }
hrefs() { curl -s -u ana:clave -X PROPFIND -H 'Depth: 1' "$1" | grep -o '<[^>]*href>[^<]*\.vcf<' | sed 's/.*>//; s/<$//'; }

# A wrong password: said, nothing written.
new_book r "$WORK/three.vcf"
status=0
sync_as r wrong "$ROOT" >"$WORK/out" 2>&1 || status=$?
[ $status -eq 1 ] && grep -q "Contraseña incorrecta" "$WORK/out" || fail "wrong password: $(cat "$WORK/out")"
ls "$WORK"/r/.contavio-server-* >/dev/null 2>&1 && fail "wrong password: a state was written"
echo "ok: wrong password"

# From the server's root: the principal, its home, the only address book.
sync_as r clave "$ROOT" >"$WORK/out" 2>&1 || fail "first sync: $(cat "$WORK/out")"
[ "$(hrefs "$BOOKURL" | wc -l)" -eq 3 ] || fail "book to server: $(hrefs "$BOOKURL")"
[ "$(stat -c %a "$WORK"/r/.contavio-server-*)" = 600 ] || fail "the state is readable by others"
echo "ok: book to server, from the root"

# Server to book, and a sync with nothing changed takes one request.
card Bea Cuatro 4 | curl -sf -u ana:clave -X PUT -H 'Content-Type: text/vcard' --data-binary @- \
    "${BOOKURL}bea.vcf" >/dev/null
sync_as r clave "$ROOT" >"$WORK/out" 2>&1 || fail "server to book: $(cat "$WORK/out")"
[ "$(count r)" -eq 4 ] || fail "server to book: $(count r) contacts"
sync_as r clave "$ROOT" >"$WORK/out" 2>&1 || fail "idle: $(cat "$WORK/out")"
grep -q "peticiones: 1$" "$WORK/out" || fail "a sync with nothing changed: $(cat "$WORK/out")"
echo "ok: server to book; nothing changed, one request"

# Deletions both ways.
book r delete Bea Cuatro >/dev/null
sync_as r clave "$ROOT" >"$WORK/out" 2>&1 || fail "deleted in the book: $(cat "$WORK/out")"
hrefs "$BOOKURL" | grep -q bea.vcf && fail "deleted in the book, still on the server"
gone=$(hrefs "$BOOKURL" | head -1)
curl -sf -u ana:clave -X DELETE "http://127.0.0.1:$PORT$gone" >/dev/null
sync_as r clave "$ROOT" >"$WORK/out" 2>&1 || fail "deleted on the server: $(cat "$WORK/out")"
[ "$(count r)" -eq 2 ] || fail "deleted on the server: $(count r) contacts"
echo "ok: deletions both ways"

# The same address book by another address: the state of the first goes on
# (a card deleted on the server does not come back), and each spelling of
# the account keeps its own state.
OTHER="${ROOT}ana/otra/"
mkcol ana:clave "$OTHER"
{ card Olga Siete 7; card Pablo Ocho 8; card Quima Nueve 9; } >"$WORK/other.vcf"
new_book u "$WORK/other.vcf"
sync_as u clave "$OTHER" >"$WORK/out" 2>&1 || fail "another address, first: $(cat "$WORK/out")"
gone=$(hrefs "$OTHER" | head -1)
curl -sf -u ana:clave -X DELETE "http://127.0.0.1:$PORT$gone" >/dev/null
sync_as u clave "http://localhost:$PORT/ana/otra/" >"$WORK/out" 2>&1 ||
    fail "another address: $(cat "$WORK/out")"
[ "$(count u)" -eq 2 ] || fail "another address: $(count u) contacts: $(cat "$WORK/out")"
[ "$(hrefs "$OTHER" | wc -l)" -eq 2 ] || fail "another address brought a card back"
[ "$(ls "$WORK"/u/.contavio-server-* | grep -vc certificado)" -eq 2 ] ||
    fail "another address: the states $(ls -a "$WORK/u")"
curl -sf -u ana:clave -X DELETE "$OTHER" >/dev/null
echo "ok: the same address book by another address"

# Cards with large photos, more together than an answer may hold: asked again
# in smaller batches; a card larger than that on its own is skipped and named.
PHOTOS="${ROOT}ana/fotos/"
mkcol ana:clave "$PHOTOS"
photo_card() {  # name, kilobytes of photo
    { printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s\r\nN:Foto;%s;;;\r\nFN:%s Foto\r\nPHOTO;ENCODING=b;TYPE=JPEG:' "$1" "$1" "$1"
      head -c $(($2 * 768)) /dev/zero | base64 -w 0
      printf '\r\nEND:VCARD\r\n'; } |
        curl -sf -u ana:clave -X PUT -H 'Content-Type: text/vcard' --data-binary @- "$PHOTOS$1.vcf" >/dev/null ||
        fail "PUT of $1"
}
for n in Uno Dos Tres Cuatro; do photo_card "$n" 300; done
photo_card Enorme 1200
card Sola Agenda 5 >"$WORK/sola.vcf"
new_book f "$WORK/sola.vcf"
CONTAVIO_DAV_LIMITS=20000,20000,60000,1000000 sync_as f clave "$PHOTOS" >"$WORK/out" 2>&1 ||
    fail "large photos: $(cat "$WORK/out")"
[ "$(count f)" -eq 5 ] || fail "large photos: $(count f) contacts: $(cat "$WORK/out")"
grep -q "Enorme" "$WORK/out" || fail "the card over the limit is not named: $(cat "$WORK/out")"
curl -sf -u ana:clave -X DELETE "$PHOTOS" >/dev/null
echo "ok: cards with large photos"

# The server killed in the middle of a sync: the re-run completes, nothing lost.
/usr/bin/python3 -c '
for i in range(400):
    print(f"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:n{i}\r\nFN:Nombre{i} Apellido{i}\r\nN:Apellido{i};Nombre{i};;;\r\nTEL:{i}\r\nEND:VCARD\r", end="\n")
' >"$WORK/many.vcf"
book r import "$WORK/many.vcf" >/dev/null 2>&1
echo clave | "$BOOK_PROGRAM" --book "$WORK/r/data.vlt" sync "$ROOT" --user ana --password-stdin \
    >"$WORK/killed" 2>&1 &
SYNC=$!
until [ "$(ls "$WORK"/store/collection-root/ana/libreta/*.vcf 2>/dev/null | wc -l)" -ge 40 ]; do
    kill -0 "$SYNC" 2>/dev/null || break
    sleep 0.05
done
kill -9 "$RADICALE"; wait "$RADICALE" 2>/dev/null || true
status=0; wait "$SYNC" || status=$?
[ $status -eq 1 ] || fail "the sync did not notice the server killed: $(cat "$WORK/killed")"
radicale_on "$PORT"
RADICALE=$LAST
wait_for "$ROOT"
sync_as r clave "$ROOT" >"$WORK/out" 2>&1 || fail "re-run after the kill: $(cat "$WORK/out")"
[ "$(count r)" -eq 402 ] && [ "$(hrefs "$BOOKURL" | wc -l)" -eq 402 ] ||
    fail "after the kill: $(count r) contacts, $(hrefs "$BOOKURL" | wc -l) cards"
echo "ok: server killed mid-sync, re-run completes"

# HTTPS with a certificate no authority vouches for: refused with its
# fingerprint, then trusted by it, for that server only.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/key.pem" -out "$WORK/cert.pem" -days 2 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1
FINGERPRINT=$(openssl x509 -in "$WORK/cert.pem" -noout -fingerprint -sha256 | sed 's/.*=//')
radicale_on "$TLS_PORT" --server-ssl --server-certificate "$WORK/cert.pem" --server-key "$WORK/key.pem"
wait_for "https://127.0.0.1:$TLS_PORT/"
TLS="https://127.0.0.1:$TLS_PORT/ana/libreta/"
new_book t "$WORK/three.vcf"
status=0
sync_as t clave "$TLS" >"$WORK/out" 2>&1 || status=$?
[ $status -eq 1 ] && grep -q "Certificado no fiable" "$WORK/out" && grep -q "$FINGERPRINT" "$WORK/out" ||
    fail "untrusted certificate: $(cat "$WORK/out")"
sync_as t clave "$TLS" --trust-certificate "$FINGERPRINT" >"$WORK/out" 2>&1 ||
    fail "trusted certificate: $(cat "$WORK/out")"
grep -q "Empty filename" "$WORK/out" && fail "trusted certificate: Qt's warning: $(cat "$WORK/out")"
[ "$(stat -c %a "$WORK"/t/.contavio-server-*-certificado)" = 600 ] ||
    fail "the trusted certificate's file is readable by others"
sync_as t clave "$TLS" >"$WORK/out" 2>&1 || fail "the trust was not kept: $(cat "$WORK/out")"
# The card deleted on the server comes back from this book, which never synced.
[ "$(count t)" -eq 403 ] || fail "over https: $(count t) contacts"
status=0
sync_as t clave "https://localhost:$TLS_PORT/ana/libreta/" >"$WORK/out" 2>&1 || status=$?
[ $status -eq 1 ] && grep -q "Certificado no fiable" "$WORK/out" || fail "trust for another host: $(cat "$WORK/out")"
echo "ok: https, refused then trusted by fingerprint"

# The account pointed at another user's address book: refused and said,
# nothing changed; forced, the two are merged; back to the first, refused.
printf 'eva:uno\nleo:dos\n' >>"$WORK/users"
for who in eva:uno leo:dos; do mkcol "$who" "${ROOT}${who%%:*}/libreta/"; done
put_card() {  # user:password, url, first name, surname, telephone
    card "$3" "$4" "$5" | curl -sf -u "$1" -X PUT -H 'Content-Type: text/vcard' --data-binary @- \
        "$2$3.vcf" >/dev/null || fail "could not put $3"
}
put_card eva:uno "${ROOT}eva/libreta/" Eva Cinco 5
put_card eva:uno "${ROOT}eva/libreta/" Pablo Seis 6
put_card leo:dos "${ROOT}leo/libreta/" Leo Siete 7
card Eco Ocho 8 >"$WORK/eco.vcf"
new_book e "$WORK/eco.vcf"
SYNC_USER=eva sync_as e uno "$ROOT" >"$WORK/out" 2>&1 || fail "eva's first sync: $(cat "$WORK/out")"
status=0
SYNC_USER=leo sync_as e dos "$ROOT" >"$WORK/out" 2>&1 || status=$?
[ $status -eq 1 ] && grep -q -- "--force-delete" "$WORK/out" && grep -q "eva/libreta" "$WORK/out" ||
    fail "another user's book: $(cat "$WORK/out")"
[ "$(count e)" -eq 3 ] && [ "$(curl -s -u leo:dos -X PROPFIND -H 'Depth: 1' "${ROOT}leo/libreta/" |
    grep -c '\.vcf<')" -eq 1 ] || fail "another user's book: refused, yet changed"
SYNC_USER=leo sync_as e dos "$ROOT" --force-delete >"$WORK/out" 2>&1 || fail "forced: $(cat "$WORK/out")"
[ "$(count e)" -eq 4 ] || fail "forced: $(count e) contacts"
SYNC_USER=leo sync_as e dos "$ROOT" >"$WORK/out" 2>&1 && grep -q "peticiones: 1$" "$WORK/out" ||
    fail "after the forced sync: $(cat "$WORK/out")"
status=0
SYNC_USER=eva sync_as e uno "$ROOT" >"$WORK/out" 2>&1 || status=$?
[ $status -eq 1 ] && grep -q "leo/libreta" "$WORK/out" || fail "back to eva: $(cat "$WORK/out")"
echo "ok: another user's address book refused, then merged when forced"

# A card changed on the server between its reading and the write: a proxy
# plays the second computer, Radicale answers 412, the sync reads the card
# again, merges both changes and writes again.
echo "rosa:tres" >>"$WORK/users"
mkcol rosa:tres "${ROOT}rosa/libreta/"
PROXY_PORT=$(free_port)
/usr/bin/python3 "$(dirname "$0")/race_proxy.py" "$PROXY_PORT" "$PORT" rosa:tres "$WORK/relayed" &
PIDS+=($!)
wait_for "http://127.0.0.1:$PROXY_PORT/"
{ card Rita Nueve 9; card Tomas Diez 10; } >"$WORK/two.vcf"
new_book p "$WORK/two.vcf"
RACE="http://127.0.0.1:$PROXY_PORT/rosa/libreta/"
SYNC_USER=rosa sync_as p tres "$RACE" >"$WORK/out" 2>&1 || fail "before the race: $(cat "$WORK/out")"
card Rita Nueve 999 >"$WORK/rita.vcf"
book p import --replace "$WORK/rita.vcf" >/dev/null 2>&1
SYNC_USER=rosa sync_as p tres "$RACE" >"$WORK/out" 2>&1 || fail "the race: $(cat "$WORK/out")"
grep -q "^PUT 412$" "$WORK/relayed" || fail "the server never refused a write: $(cat "$WORK/relayed")"
rita=$(curl -s -u rosa:tres -X REPORT -H 'Depth: 1' -H 'Content-Type: application/xml' \
    --data-binary '<C:addressbook-query xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav"><D:prop><C:address-data/></D:prop></C:addressbook-query>' \
    "${ROOT}rosa/libreta/" | tr -d '\r' | awk '/BEGIN:VCARD/{c=""} {c=c $0 "\n"} /END:VCARD/ && c ~ /FN:Rita/{print c}')
grep -q "TEL:999" <<<"$rita" && grep -q "otro.equipo@example.org" <<<"$rita" ||
    fail "after the 412 both changes should be on the server: $rita"
book p export "$WORK/p.vcf" >/dev/null 2>&1
grep -q "otro.equipo@example.org" "$WORK/p.vcf" || fail "the other computer's change is not in the book"
echo "ok: a card changed on the server between reading and writing (412), both changes kept"

# A card another client named p;q,r.vcf, whose href Radicale writes as
# p%3Bq%2Cr.vcf: reached by that href, read, changed from the book, and an
# idle sync after it is one request.
echo "olga:cuatro" >>"$WORK/users"
OLGA="${ROOT}olga/libreta/"
mkcol olga:cuatro "$OLGA"
card Pilar Ocho 8 | curl -sf -u olga:cuatro -X PUT -H 'Content-Type: text/vcard' --data-binary @- \
    "${OLGA}p;q,r.vcf" >/dev/null || fail "could not put p;q,r.vcf"
new_book o "$WORK/eco.vcf"
SYNC_USER=olga sync_as o cuatro "$OLGA" >"$WORK/out" 2>&1 || fail "p;q,r.vcf: $(cat "$WORK/out")"
[ "$(count o)" -eq 2 ] || fail "p;q,r.vcf: $(count o) contacts"
card Pilar Ocho 88 >"$WORK/pilar.vcf"
book o import --replace "$WORK/pilar.vcf" >/dev/null 2>&1
SYNC_USER=olga sync_as o cuatro "$OLGA" >"$WORK/out" 2>&1 || fail "p;q,r.vcf, changed: $(cat "$WORK/out")"
curl -sf -u olga:cuatro "${OLGA}p%3Bq%2Cr.vcf" | grep -q "TEL:88" || fail "p;q,r.vcf: the book's change is not on the server"
SYNC_USER=olga sync_as o cuatro "$OLGA" >"$WORK/out" 2>&1 && grep -q "peticiones: 1$" "$WORK/out" ||
    fail "p;q,r.vcf, idle: $(cat "$WORK/out")"
echo "ok: a card named p;q,r.vcf, by its href as Radicale wrote it"

# Xandikos from its root: well-known address, principal, home, address book.
XPORT=$(free_port)
xandikos -d "$WORK/xandikos" --defaults -l 127.0.0.1 -p "$XPORT" >"$WORK/xandikos.log" 2>&1 &
PIDS+=($!)
wait_for "http://127.0.0.1:$XPORT/"
new_book x "$WORK/three.vcf"
"$BOOK_PROGRAM" --book "$WORK/x/data.vlt" sync "http://127.0.0.1:$XPORT/" >"$WORK/out" 2>&1 ||
    fail "xandikos: $(cat "$WORK/out")"
card Bea Cuatro 4 | curl -sf -X PUT -H 'Content-Type: text/vcard' --data-binary @- \
    "http://127.0.0.1:$XPORT/user/contacts/addressbook/bea.vcf" >/dev/null
CONTAVIO_DAV_COUNT=1 "$BOOK_PROGRAM" --book "$WORK/x/data.vlt" sync "http://127.0.0.1:$XPORT/" \
    >"$WORK/out" 2>&1 || fail "xandikos, second sync: $(cat "$WORK/out")"
[ "$(count x)" -eq 4 ] && [ "$(hrefs "http://127.0.0.1:$XPORT/user/contacts/addressbook/" | wc -l)" -eq 4 ] ||
    fail "xandikos: $(count x) contacts"
echo "ok: xandikos from its root"
# A sync token Xandikos no longer knows is answered with 500: the token is
# dropped, everything listed again, and the next sync is one request again.
sed -i 's/^marca [0-9a-f]*/marca ffffffffffffffffffffffffffffffffffffffff/' "$WORK"/x/.contavio-server-*
card Eva Cinco 5 | curl -sf -X PUT -H 'Content-Type: text/vcard' --data-binary @- \
    "http://127.0.0.1:$XPORT/user/contacts/addressbook/eva.vcf" >/dev/null
CONTAVIO_DAV_COUNT=1 "$BOOK_PROGRAM" --book "$WORK/x/data.vlt" sync "http://127.0.0.1:$XPORT/" \
    >"$WORK/out" 2>&1 || fail "xandikos, forgotten token: $(cat "$WORK/out")"
[ "$(count x)" -eq 5 ] || fail "xandikos, forgotten token: $(count x) contacts"
CONTAVIO_DAV_COUNT=1 "$BOOK_PROGRAM" --book "$WORK/x/data.vlt" sync "http://127.0.0.1:$XPORT/" \
    >"$WORK/out" 2>&1 && grep -q "peticiones: 1$" "$WORK/out" ||
    fail "xandikos, after the forgotten token: $(cat "$WORK/out")"
echo "ok: xandikos, a token it forgot (500) is dropped"

# The suite's server scenario: on Radicale as a user of its own, and on a
# Xandikos of its own.
. "$(dirname "$0")/carddav_scenario.sh"
echo "sol:seis" >>"$WORK/users"
mkcol sol:seis "${ROOT}sol/libreta/"
carddav_scenario radicale "$ROOT" "${ROOT}sol/libreta/" sol seis
XPORT=$(free_port)
xandikos -d "$WORK/xandikos2" --defaults -l 127.0.0.1 -p "$XPORT" >>"$WORK/xandikos.log" 2>&1 &
PIDS+=($!)
wait_for "http://127.0.0.1:$XPORT/"
carddav_scenario xandikos "http://127.0.0.1:$XPORT/" "http://127.0.0.1:$XPORT/user/contacts/addressbook/" user x
echo "all CardDAV server tests passed"
