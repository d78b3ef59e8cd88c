#!/usr/bin/env bash
# What contavio-book exports, read by programs nobody here wrote: Python's
# vobject reads back every field of every card, khard lists a folder of the
# cards, abook converts the export. Cards in the shapes phones and address
# books write are imported first.
# Usage: vcard_peers.sh PATH/TO/contavio-book
set -euo pipefail
book=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Cards as phones and address books write them: 2.1 with quoted-printable and
# Latin-1, 3.0 with folded notes and several telephones, 4.0 in UTF-8.
printf '%b' \
'BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:G=F3mez;Jos=E9\r\n' \
'TEL;CELL;PREF:+34 600 111 222\r\nTEL;HOME:91 555 0000\r\nBDAY:19800312\r\n' \
'NOTE;ENCODING=QUOTED-PRINTABLE:Vecino del 3=BA\r\nEND:VCARD\r\n' \
'BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ruiz;Ana Mar\xc3\xada;;;\r\nFN:Ana Mar\xc3\xada Ruiz\r\n' \
'TEL;TYPE=work,voice:555 0100\r\nTEL;TYPE=cell:555 0101\r\nTEL;TYPE=home:555 0102\r\n' \
'EMAIL;TYPE=internet:ana@example.com\r\nADR;TYPE=home:;;Calle Mayor 5\\, 2\xc2\xba;Madrid;;28001;Espa\xc3\xb1a\r\n' \
'NOTE:Una nota larga que un programa de agenda parti\xc3\xb3 en\r\n  dos l\xc3\xadneas\r\nURL:https://example.com/ana\r\n' \
'BDAY:1975-11-02\r\nEND:VCARD\r\n' \
'BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Luis Mora\r\nN:Mora;Luis;;;\r\nEMAIL:luis@example.org\r\n' \
'EMAIL;TYPE=home:luis.mora@example.net\r\nBDAY:--0229\r\nEND:VCARD\r\n' > phones.vcf

"$book" --book "$work" import phones.vcf
"$book" --book "$work" export out4.vcf
"$book" --book "$work" export out3.vcf --vcard 3.0

# Every field read back by vobject, in both versions.
for version in 4 3; do
/usr/bin/python3 - "out$version.vcf" <<'PY'
import sys, vobject
cards = list(vobject.readComponents(open(sys.argv[1], encoding="utf-8").read()))
def values(card, name):
    return [c.value for c in card.contents.get(name, [])]
got = {}
for card in cards:
    n = card.n.value
    got[(n.given, n.family)] = card
    assert card.fn.value == f"{n.given} {n.family}", card.fn.value
    assert values(card, "uid"), "UID"
want = {
    ("José", "Gómez"): dict(tel=["+34 600 111 222", "91 555 0000"], email=[], bday="03-12",
                          note="Vecino del 3º", adr=None, url=None),
    ("Ana María", "Ruiz"): dict(tel=["555 0100", "555 0101", "555 0102"], email=["ana@example.com"],
                                bday="11-02", note="Una nota larga que un programa de agenda partió en dos líneas",
                                adr="Calle Mayor 5, 2º, 28001 Madrid, España", url="https://example.com/ana"),
    ("Luis", "Mora"): dict(tel=[], email=["luis@example.org", "luis.mora@example.net"], bday="02-29",
                           note=None, adr=None, url=None),
}
assert set(got) == set(want), sorted(got)
for key, w in want.items():
    card = got[key]
    assert values(card, "tel") == w["tel"], (key, values(card, "tel"))
    assert values(card, "email") == w["email"], (key, values(card, "email"))
    bday = values(card, "bday")[0].replace("-", "")
    assert bday == w["bday"].replace("-", ""), (key, bday)
    assert values(card, "note") == ([w["note"]] if w["note"] else []), (key, values(card, "note"))
    assert values(card, "url") == ([w["url"]] if w["url"] else []), (key, values(card, "url"))
    adr = values(card, "adr")
    assert (adr[0].street if adr else None) == w["adr"], (key, adr)
uids = [c.uid.value for c in cards]
assert len(set(uids)) == len(uids)
print(f"vobject read {len(cards)} cards of {sys.argv[1]}")
PY
done

# The same book exported twice gives the same cards.
"$book" --book "$work" export again.vcf
cmp out4.vcf again.vcf

# khard lists a folder of the cards, one file each.
mkdir cards
awk '/^BEGIN:VCARD/{n++} {print > ("cards/" n ".vcf")}' out4.vcf
cat > khard.conf <<CONF
[addressbooks]
[[contavio]]
path = $work/cards
CONF
listed=$(khard -c khard.conf list)
for name in "José Gómez" "Ana María Ruiz" "Luis Mora"; do
    grep -q "$name" <<<"$listed" || { echo "khard does not list $name:"; echo "$listed"; exit 1; }
done
grep -q "luis.mora@example.net" <<<"$(khard -c khard.conf email Luis)"
echo "khard listed the cards"

# abook converts the export.
abook --convert --informat vcard --infile out3.vcf --outformat csv --outfile abook.csv
for text in "José Gómez" "ana@example.com" "luis@example.org"; do
    grep -q "$text" abook.csv || { echo "abook lost $text:"; cat abook.csv; exit 1; }
done
echo "abook converted the export"

# Cards abook writes from mutt aliases in other scripts come in as readable
# Latin names, each person a contact of their own.
printf '%b' \
'alias ivan \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd \xd0\x9f\xd0\xb5\xd1\x82\xd1\x80\xd0\xbe\xd0\xb2 <ivan@example.ru>\n' \
'alias oleg \xd0\x9e\xd0\xbb\xd0\xb5\xd0\xb3 \xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd\xd0\xbe\xd0\xb2 <oleg@example.ru>\n' \
'alias lech Lech Wa\xc5\x82\xc4\x99sa <lech@example.pl>\n' > aliases
abook --convert --informat mutt --infile aliases --outformat vcard --outfile abook.vcf
mkdir world
"$book" --book world import abook.vcf
listed=$("$book" --book world list)
for name in "Ivan Petrov" "Oleg Ivanov" "Lech Walesa"; do
    grep -q "$name" <<<"$listed" || { echo "the import lost $name:"; echo "$listed"; exit 1; }
done
echo "abook's cards came in with readable names"
echo "1 passed, 0 failed"
