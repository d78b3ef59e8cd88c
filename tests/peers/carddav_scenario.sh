# The scenario every CardDAV server of the suite goes through, as a new user
# would meet it: discovery from the server's root, a first sync, changes on
# both sides, a sync with nothing to do, a field changed on both sides, and a
# card with a photo edited from the book. curl plays the other device.
#   . carddav_scenario.sh
#   carddav_scenario NAME ROOT BOOK-URL USER PASSWORD [SYNC OPTIONS...]
# ROOT is what the sync is given; BOOK-URL is the address book discovery must
# find there. The book lives in $WORK/NAME. Needs BOOK_PROGRAM, WORK and
# fail() from the script that sources it, and curl.

sc_book() { "$BOOK_PROGRAM" --book "$WORK/$SC_NAME/data.vlt" "$@"; }
sc_sync() {  # what the step is called; the output is in $WORK/$SC_NAME.out
    echo "$SC_PASSWORD" | CONTAVIO_DAV_COUNT=1 "$BOOK_PROGRAM" --book "$WORK/$SC_NAME/data.vlt" \
        sync "$SC_ROOT" --user "$SC_USER" --password-stdin "${SC_OPTIONS[@]}" >"$WORK/$SC_NAME.out" 2>&1 ||
        fail "$SC_NAME, $1: $(cat "$WORK/$SC_NAME.out")"
}
# sc_expect CHECK COMMAND...: a check of the scenario. A CHECK the caller lists
# in SC_KNOWN (the check's name => the client's fault) is a known failure: it
# is said, and a pass fails, so that the mark goes with the fault.
declare -A SC_KNOWN=()
sc_expect() {
    local check=$1 known=${SC_KNOWN[$1]:-}
    shift
    if "$@"; then
        [ -z "$known" ] || fail "$SC_NAME, $check: passes now; drop its known failure ($known)"
    elif [ -n "$known" ]; then
        echo "known failure: $SC_NAME, $check: $known"
    else
        fail "$SC_NAME, $check: $(cat "$WORK/$SC_NAME.out"; sc_book list 2>&1)"
    fi
}
# A sync with nothing to do is one request and writes nothing; after a known
# failure, the next.
sc_one_request() { [ "$(sed -n 's/^peticiones: //p' "$WORK/$SC_NAME.out")" = 1 ]; }
# The book's folder: each file's name, size and time of change.
sc_files() { find "$WORK/$SC_NAME" -maxdepth 1 -type f -printf '%f %s %T@\n' | sort; }
sc_idle() {
    local before
    before=$(sc_files)
    sc_sync "$1"
    sc_expect "$1" sc_one_request
    # What was written, shown before the failure below.
    [ "$(sc_files)" = "$before" ] || diff <(echo "$before") <(sc_files) >&2 || true
    sc_expect "$1: nothing written" eval '[ "$(sc_files)" = "$before" ]'
    [ -z "${SC_KNOWN[$1]:-}" ] || { sc_sync "$1, again" && sc_expect "$1, again" sc_one_request; }
}
sc_card() {  # first name, surname, then the card's other lines
    printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s-%s\r\nFN:%s %s\r\nN:%s;%s;;;\r\n' "$1" "$2" "$1" "$2" "$2" "$1"
    local line
    for line in "${@:3}"; do printf '%s\r\n' "$line"; done
    printf 'END:VCARD\r\n'
}
sc_import() {  # [--replace], then the card's arguments
    local replace=()
    [ "$1" = --replace ] && { replace=(--replace); shift; }
    sc_card "$@" >"$WORK/$SC_NAME.vcf"
    sc_book import "${replace[@]}" "$WORK/$SC_NAME.vcf" >/dev/null 2>&1 || fail "$SC_NAME: import of $1 $2"
}
sc_has() { sc_book export "$WORK/$SC_NAME-book.vcf" >/dev/null 2>&1 && sc_unfold <"$WORK/$SC_NAME-book.vcf" | grep -q "$1"; }

# The other device: plain HTTP requests on the address book.
sc_dav() { curl -sk -u "$SC_USER:$SC_PASSWORD" "$@"; }
sc_unfold() { tr -d '\r' | sed ':a;N;$!ba;s/\n[ \t]//g'; }
sc_hrefs() {
    sc_dav -X PROPFIND -H 'Depth: 1' -H 'Content-Type: application/xml' \
        --data '<propfind xmlns="DAV:"><prop><getetag/></prop></propfind>' "$SC_BOOK" |
        grep -o '<[^>]*href>[^<]*<' | sed 's/.*>//; s/<$//' | grep -v '/$' || true
}
sc_url() { case $1 in http*) echo "$1" ;; *) echo "$SC_ORIGIN$1" ;; esac; }
sc_href() {  # the card whose FN is $1
    local href
    for href in $(sc_hrefs); do
        sc_dav "$(sc_url "$href")" | sc_unfold | grep -qx "FN:$1" && { sc_url "$href"; return; }
    done
    return 1
}
sc_find() { sc_href "$1" || fail "$SC_NAME: no card of $1 on the server"; }
sc_get() { sc_dav "$(sc_find "$1")" | sc_unfold; }
sc_edit() {  # the card whose FN is $1, a sed program for its lines
    local url etag match=()
    url=$(sc_find "$1")
    sc_dav -D "$WORK/$SC_NAME.headers" "$url" | sed "$2" >"$WORK/$SC_NAME.put"
    etag=$(tr -d '\r' <"$WORK/$SC_NAME.headers" | sed -n 's/^[Ee][Tt][Aa][Gg]: *//p')
    [ -n "$etag" ] && match=(-H "If-Match: $etag")
    sc_dav -f -X PUT "${match[@]}" -H 'Content-Type: text/vcard; charset=utf-8' \
        --data-binary "@$WORK/$SC_NAME.put" "$url" >/dev/null || fail "$SC_NAME: could not change $1 on the server"
}

carddav_scenario() {
    SC_NAME=$1 SC_ROOT=$2 SC_BOOK=$3 SC_USER=$4 SC_PASSWORD=$5
    SC_OPTIONS=("${@:6}")
    SC_ORIGIN=$(sed 's|^\(https*://[^/]*\).*|\1|' <<<"$SC_ROOT")
    mkdir -p "$WORK/$SC_NAME"

    # From the root: the principal, its home, the address book; the book's
    # contacts go to the server.
    sc_import Ana Uno TEL:1
    sc_import Luis Dos TEL:2
    sc_import Marta Tres TEL:3
    sc_import Rosa Cinco TEL:5
    sc_sync "first sync"
    [ "$(sc_hrefs | wc -l)" -eq 4 ] || fail "$SC_NAME, first sync: the server has $(sc_hrefs)"
    echo "ok: $SC_NAME: discovery from the root, first sync"

    # On the server a new card with a photo, a changed telephone and a
    # deleted card; in the book a new contact, a new e-mail and a deleted
    # contact.
    local photo
    photo=$(head -c 900 /dev/urandom | base64 -w0)
    sc_card Bea Cuatro TEL:4 ORG:Acme "$(printf 'PHOTO;ENCODING=b;TYPE=JPEG:%s' "$photo" | fold -w 74 |
        awk 'NR > 1 { printf "\r\n " } { printf "%s", $0 }')" >"$WORK/$SC_NAME.put"
    sc_dav -f -X PUT -H 'If-None-Match: *' -H 'Content-Type: text/vcard; charset=utf-8' \
        --data-binary "@$WORK/$SC_NAME.put" "${SC_BOOK}bea-cuatro.vcf" >/dev/null ||
        fail "$SC_NAME: could not put a card"
    sc_edit "Luis Dos" 's/^TEL\([^:]*\):2\r$/TEL\1:22\r/'
    sc_dav -f -X DELETE "$(sc_find "Marta Tres")" >/dev/null || fail "$SC_NAME: could not delete a card"
    sc_import Eco Ocho TEL:8
    sc_import Ana Uno EMAIL:ana@example.org
    sc_book delete Rosa Cinco >/dev/null 2>&1 || fail "$SC_NAME: delete in the book"
    sc_sync "changes on both sides"
    sc_expect "server to book" eval 'sc_has "^FN:Bea Cuatro" && sc_has "^TEL:22$"'
    sc_expect "deleted on the server" eval '! sc_has "^FN:Marta"'
    sc_expect "book to server" eval 'sc_href "Eco Ocho" >/dev/null && sc_get "Ana Uno" | grep -q "ana@example.org"'
    sc_expect "deleted in the book" eval '! sc_has "^FN:Rosa" && ! sc_href "Rosa Cinco"'
    echo "ok: $SC_NAME: changes on both sides"

    sc_idle "nothing changed"
    echo "ok: $SC_NAME: nothing changed, one request"

    # A telephone and the notes changed on both sides: both telephones stay;
    # the book's notes win and the server's are added to them.
    sc_edit "Luis Dos" 's/^TEL\([^:]*\):22\r$/TEL\1:220\r\nNOTE:Nota del servidor\r/'
    sc_import --replace Luis Dos TEL:221 "NOTE:Nota de la agenda"
    sc_sync "changed on both sides"
    sc_expect "the conflict said" grep -q "conflictos: 1" "$WORK/$SC_NAME.out"
    local text
    for text in "TEL[^:]*:220$" "TEL[^:]*:221$" "Nota de la agenda" "Nota del servidor"; do
        sc_expect "both sides keep $text" eval 'sc_get "Luis Dos" | grep -q "$text" && sc_has "$text"'
    done
    echo "ok: $SC_NAME: changed on both sides, both kept"

    # The card with a photo edited from the book: the photo and the
    # organisation, which the book does not hold, stay on the server.
    sc_import Bea Cuatro EMAIL:bea@example.org
    sc_sync "photo"
    sc_get "Bea Cuatro" >"$WORK/$SC_NAME.bea"
    sc_expect "the edit, the photo and the organisation on the server" eval 'grep -q "bea@example.org" \
        "$WORK/$SC_NAME.bea" && grep -q "^ORG:Acme$" "$WORK/$SC_NAME.bea" &&
        [ "$(sed -n "s/^PHOTO[^:]*://p" "$WORK/$SC_NAME.bea")" = "$photo" ]'
    sc_idle "after the photo"
    echo "ok: $SC_NAME: a card with a photo edited from the book keeps its photo"
}
