#!/usr/bin/python3
"""Writes the card files of this folder the way phones, servers and address
books write them, and expected.tsv: for each file, each card's first names,
surnames and marks (n: named without a name, t: transliterated, d: damaged),
as the book holds them (UTF-8 here). Run again after a change:
/usr/bin/python3 tests/cards/make_cards.py
"""
import codecs
import os
import quopri
import vobject

HERE = os.path.dirname(os.path.abspath(__file__))
files = {}      # name -> bytes
expected = {}   # name -> [(first, last, marks)]


def qp(text, charset):
    """Quoted-printable of text in charset, every non-ASCII byte escaped."""
    return "".join(c if 32 < ord(c) < 127 and c not in "=;:" else
                   "".join("=%02X" % b for b in c.encode(charset)) for c in text)


def card21(lines):
    return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + "".join(l + "\r\n" for l in lines) + "END:VCARD\r\n"


def card(version, lines, end="\r\n"):
    return ("BEGIN:VCARD" + end + "VERSION:" + version + end +
            "".join(l + end for l in lines) + "END:VCARD" + end)


def add(name, data, *cards):
    files[name] = data.encode("utf-8") if isinstance(data, str) else data
    expected[name] = list(cards)


def coded(version, charset, family, given, extra=(), qp_encode=False, codec=None):
    """A card whose N and FN are in charset (bytes of codec), raw or quoted-printable."""
    codec = codec or charset
    if qp_encode:
        n = "N;CHARSET=%s;ENCODING=QUOTED-PRINTABLE:%s;%s;;;" % (charset, qp(family, charset), qp(given, charset))
        fn = "FN;CHARSET=%s;ENCODING=QUOTED-PRINTABLE:%s" % (charset, qp(given + " " + family, charset))
        head = (n + "\r\n" + fn + "\r\n").encode("ascii")
    else:
        head = (("N;CHARSET=%s:" % charset).encode("ascii") + (family + ";" + given + ";;;").encode(codec) +
                b"\r\n" + ("FN;CHARSET=%s:" % charset).encode("ascii") + (given + " " + family).encode(codec) + b"\r\n")
    return (b"BEGIN:VCARD\r\nVERSION:" + version.encode() + b"\r\n" + head +
            "".join(l + "\r\n" for l in extra).encode("ascii") + b"END:VCARD\r\n")


# Android and other phones: 2.1, quoted-printable UTF-8, nameless entries.
add("android_qp_utf8.vcf", card21([
    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:%s;%s;;;" % (qp("Pérez García", "utf-8"), qp("José", "utf-8")),
    "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:%s" % qp("José Pérez García", "utf-8"),
    "TEL;CELL;PREF:+34600111222", "EMAIL;HOME:jose@example.com"]),
    ("José", "Pérez García", ""))
add("android_nameless_email.vcf", card21(["N:;;;;", "FN:", "EMAIL;INTERNET:ana@example.com"]),
    ("ana@example.com", "", "n"))
add("android_nameless_tel.vcf", card21(["TEL;CELL:+34 600 000 001"]), ("+34 600 000 001", "", "n"))
add("android_nameless_several.vcf",
    card21(["EMAIL:uno@example.com"]) + card21(["EMAIL:dos@example.com"]) + card21(["TEL:555 0102"]) +
    card21(["NOTE:nada"]),
    ("uno@example.com", "", "n"), ("dos@example.com", "", "n"), ("555 0102", "", "n"), ("", "", "n"))
add("android_nameless_notes.vcf", card21(["NOTE:primera"]) + card21(["NOTE:segunda"]), ("", "", "n"),
    ("", "", "n"))
add("android_company.vcf", card21(["N:;;;;", "FN:Talleres Pérez, S.L.", "ORG:Talleres Pérez, S.L.",
                                    "TEL;WORK:91 555 0000"]).encode("cp1252"),
    ("Talleres Pérez, S.L.", "", ""))
add("android_company_no_org.vcf", card21(["FN;CHARSET=UTF-8:Fontanería Gómez, S.A.", "TEL:1"]),
    ("Fontanería Gómez, S.A.", "", ""))
add("android_qp_soft_breaks.vcf", card21([
    "N;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Mu=C3=B1oz;Mar=C3=ADa",
    "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Primera l=C3=ADnea=0D=0Asegunda=\r\n l=C3=ADnea"]),
    ("María", "Muñoz", ""))
add("phone_qp_cut_utf8.vcf",
    "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Ib=C3=A1=C3",
    ("", "Ibá", "d"))

# Apple: 3.0, itemN groups, company cards, \" and the year 1604.
add("apple_items.vcf", card("3.0", [
    "PRODID:-//Apple Inc.//macOS 14.0//EN", "N:Smith;John;Q.;;", "FN:John Q. Smith",
    "item1.TEL;type=CELL;type=VOICE;type=pref:+1 555 0100", "item1.X-ABLabel:_$!<Mobile>!$_",
    "item2.EMAIL;type=INTERNET:john@example.org", "item2.X-ABLabel:_$!<Other>!$_",
    "item3.ADR;type=HOME:;;1 Main St;Springfield;IL;62701;USA", "item3.X-ABADR:us"], "\n"),
    ("John Q.", "Smith", ""))
add("apple_company.vcf", card("3.0", [
    "N:;;;;", "FN:Construcciones Ruiz", "ORG:Construcciones Ruiz;", "X-ABShowAs:COMPANY",
    "item1.TEL;type=WORK:+34 91 000 00 00"]), ("Construcciones Ruiz", "", ""))
add("apple_company_person.vcf", card("3.0", [
    "N:Vidal;Marta;;;", "FN:Marta Vidal", "ORG:Vidal Abogados;", "X-ABShowAs:COMPANY"]),
    ("Vidal Abogados", "", ""))
add("apple_quote_1604.vcf", card("3.0", [
    "N:Lago;Sara;;;", "FN:Sara Lago", "NOTE:Dice \\\"hola\\\"", "BDAY;X-APPLE-OMIT-YEAR=1604:1604-05-06"]),
    ("Sara", "Lago", ""))
add("apple_nfd.vcf", card("3.0", ["N:Pe\u0301rez;Jose\u0301;;;", "FN:Jose\u0301 Pe\u0301rez"]),
    ("José", "Pérez", ""))
add("apple_photo.vcf", card("3.0", [
    "N:Ortega;Luis;;;", "FN:Luis Ortega", "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgH",
    " BwcJCQgKDBQNDAsLDBkSEw8UHRofHh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4zNDL/"]),
    ("Luis", "Ortega", ""))

# Outlook and other programs that write a code page.
add("outlook_cp1250_qp.vcf", coded("2.1", "windows-1250", "Wałęsa", "Lech", ["TEL;WORK:+48 22 000"], True),
    ("Lech", "Walesa", "t"))
add("outlook_iso8859_2.vcf", coded("2.1", "ISO-8859-2", "Żółtowska", "Zofia"), ("Zofia", "Zóltowska", "t"))
add("outlook_iso8859_2_qp.vcf", coded("2.1", "ISO-8859-2", "Dvořák", "Antonín", (), True),
    ("Antonín", "Dvorák", "t"))
add("outlook_cp1251.vcf", coded("2.1", "WINDOWS-1251", "Петров", "Иван"), ("Ivan", "Petrov", "t"))
add("outlook_cp1251_qp.vcf", coded("2.1", "windows-1251", "Иванов", "Олег", (), True), ("Oleg", "Ivanov", "t"))
add("koi8r.vcf", coded("2.1", "KOI8-R", "Смирнова", "Анна"), ("Anna", "Smirnova", "t"))
add("outlook_cp1253.vcf", coded("2.1", "windows-1253", "Παπαδόπουλος", "Γιώργος"),
    ("Giorgos", "Papadopoulos", "t"))
add("iso8859_7_qp.vcf", coded("2.1", "ISO-8859-7", "Νικολάου", "Ελένη", (), True), ("Elene", "Nikolaou", "t"))
add("iso8859_1_qp.vcf", coded("2.1", "ISO-8859-1", "Núñez", "Begoña", (), True), ("Begoña", "Núñez", ""))
add("shift_jis.vcf", coded("2.1", "SHIFT_JIS", "ヤマダ", "タロウ"), ("tarou", "yamada", "t"))
add("shift_jis_qp.vcf", coded("2.1", "Shift_JIS", "スズキ", "ハナコ", (), True), ("hanako", "suzuki", "t"))
add("big5.vcf", coded("2.1", "BIG5", "王", "小明"), ("xiao ming", "wang", "t"))
add("unknown_charset.vcf", coded("2.1", "X-UNHEARD", "Sáez", "Raúl", codec="latin-1"),
    ("Raúl", "Sáez", ""))

# A code page named on one property only, the rest written in it; names in
# Han characters with the phonetic readings phones write beside them.
add("cp1253_named_once.vcf", b"BEGIN:VCARD\r\nVERSION:2.1\r\nN:" + "Παπαδάκης;Ευάγγελος;;;".encode("cp1253") +
    b"\r\nFN:" + "Ευάγγελος Παπαδάκης".encode("cp1253") + b"\r\nLABEL;CHARSET=Windows-1253;ENCODING=QUOTED-PRINTABLE:" +
    qp("Αθήνα", "cp1253").encode("ascii") + b"\r\nEND:VCARD\r\n", ("Euangelos", "Papadakes", "t"))
add("phonetic_readings.vcf",
    card("3.0", ["N:安藤;太郎;;;", "FN:安藤 太郎", "X-PHONETIC-FIRST-NAME:タロウ",
                 "X-PHONETIC-LAST-NAME:アンドウ"]).encode("utf-8") +
    b"BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=SHIFT_JIS:" + "井上;花子;;;".encode("shift_jis") +
    b"\r\nSOUND;X-IRMC-N;CHARSET=SHIFT_JIS:" + "ｲﾉｳｴ;ﾊﾅｺ;;;".encode("shift_jis") + b"\r\nEND:VCARD\r\n",
    ("Taro", "Ando", "t"), ("Hanako", "Inoue", "t"))

# Text without a CHARSET: each value judged on its own.
add("latin1_no_charset.vcf", card("3.0", ["N:Muñoz;Íñigo;;;", "FN:Íñigo Muñoz"]).encode("latin-1"),
    ("Íñigo", "Muñoz", ""))
add("utf8_no_charset_21.vcf", card21(["N:Gómez;Lucía;;;", "TEL:1"]), ("Lucía", "Gómez", ""))
add("mixed_values.vcf", b"BEGIN:VCARD\r\nVERSION:3.0\r\nN:Garc\xc3\xada;Luc\xc3\xada;;;\r\n"
    b"FN:LUC\xcdA GARC\xcdA\r\nADR:;;PLAZA DEL NI\xd1\xbf 3;LE\xd3N;;;\r\nEND:VCARD\r\n",
    ("Lucía", "García", ""))
add("utf8_scripts.vcf",
    card("4.0", ["N:王;小明;;;", "FN:王小明"]) + card("4.0", ["N:김;민준;;;", "FN:김민준"]) +
    card("4.0", ["N:حداد;محمد;;;", "FN:محمد حداد"]) + card("4.0", ["FN:Ōno Kōji"]) +
    card("4.0", ["N:Петров;Иван;;;", "FN:Иван Петров"]) + card("4.0", ["N:Ruiz;Ana 😀;;;"]),
    ("xiao ming", "wang", "t"), ("minjun", "gim", "t"), ("mhmd", "hdad", "t"), ("Ono", "Koji", "t"),
    ("Ivan", "Petrov", "t"), ("Ana ?", "Ruiz", ""))

# Byte-order marks and wide encodings.
one = card("3.0", ["N:Ruiz;Ana;;;", "FN:Ana Ruiz", "TEL:600 111 222"])
two = card("3.0", ["N:Sáez;Raúl;;;", "FN:Raúl Sáez", "EMAIL:raul@example.com"])
add("utf16le_bom.vcf", codecs.BOM_UTF16_LE + (one + two).encode("utf-16-le"), ("Ana", "Ruiz", ""),
    ("Raúl", "Sáez", ""))
add("utf16be_bom.vcf", codecs.BOM_UTF16_BE + (one + two).encode("utf-16-be"), ("Ana", "Ruiz", ""),
    ("Raúl", "Sáez", ""))
add("utf16le_no_bom.vcf", two.encode("utf-16-le"), ("Raúl", "Sáez", ""))
add("utf32le_bom.vcf", codecs.BOM_UTF32_LE + two.encode("utf-32-le"), ("Raúl", "Sáez", ""))
add("cat_with_boms.vcf", b"".join(codecs.BOM_UTF8 + c.encode("utf-8") for c in (one, two, one)),
    ("Ana", "Ruiz", ""), ("Raúl", "Sáez", ""), ("Ana", "Ruiz", ""))

# Several cards a file, and files the world cut short or nested.
add("server_several.vcf", "".join(card("3.0", ["UID:%d" % i, "N:Apellido%d;Nombre%d;;;" % (i, i)], "\n")
                                  for i in range(1, 6)),
    *[("Nombre%d" % i, "Apellido%d" % i, "") for i in range(1, 6)])
add("cut_short.vcf", one + "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Mora;Luis;;;\r\nTEL:55", ("Ana", "Ruiz", ""),
    ("Luis", "Mora", "d"))
add("never_ends.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Mora;Luis;;;\r\n" + two, ("Luis", "Mora", "d"),
    ("Raúl", "Sáez", ""))
add("nested_no_agent.vcf", card21(["N:Jefe;Pedro", "BEGIN:VCARD", "VERSION:2.1", "N:Secretaria;Eva",
                                   "END:VCARD", "TEL;WORK:91 000", "EMAIL:pedro@example.com"]),
    ("Pedro", "Jefe", ""))
add("nested_agent.vcf", card21(["N:Jefe;Pedro", "AGENT:", "BEGIN:VCARD", "VERSION:2.1", "N:Secretaria;Eva",
                                "END:VCARD", "TEL;WORK:91 000"]), ("Pedro", "Jefe", ""))
add("small_faults.vcf", card("3.0", [
    "N:Vega;Rosa;;;", "TITLE:", "ROLE:", "ADR:;;Calle Mayor 5,;Madrid;;;", "ORG:Acme, Inc.;Ventas"]),
    ("Rosa", "Vega", ""))
add("same_name_twice.vcf", card("3.0", ["N:Ruiz;Ana;;;", "TEL:1"]) + card("3.0", ["N:Ruiz;Ana;;;", "TEL:2"]),
    ("Ana", "Ruiz", ""), ("Ana", "Ruiz", ""))
add("transliterated_twins.vcf", card("4.0", ["N:Петров;Иван;;;", "TEL:1"]) +
    card("4.0", ["N:Petrov;Ivan;;;", "TEL:2"]), ("Ivan", "Petrov", "t"), ("Ivan", "Petrov", ""))
add("kind_org_40.vcf", card("4.0", ["KIND:org", "FN:Panadería Sol", "ORG:Panadería Sol"]),
    ("Panadería Sol", "", ""))

# Cards written by Python's vobject.
def vobject_card(family, given, email, tel=None):
    c = vobject.vCard()
    c.add("n").value = vobject.vcard.Name(family=family, given=given)
    c.add("fn").value = given + " " + family
    c.add("email").value = email
    if tel:
        c.add("tel").value = tel
    return c.serialize()


add("vobject_latin.vcf", vobject_card("Fernández", "Álvaro", "alvaro@example.com", "+34 611 000 000"),
    ("Álvaro", "Fernández", ""))
add("vobject_cyrillic.vcf", vobject_card("Кузнецов", "Дмитрий", "d@example.ru") +
    vobject_card("Кузнецова", "Мария", "m@example.ru"), ("Dmitrij", "Kuznecov", "t"),
    ("Maria", "Kuznecova", "t"))
add("vobject_greek.vcf", vobject_card("Οικονόμου", "Δημήτρης", "d@example.gr"), ("Demetres", "Oikonomou", "t"))

for name, data in files.items():
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(data)
with open(os.path.join(HERE, "expected.tsv"), "w", encoding="utf-8") as out:
    out.write("# file\tfirst names|surnames|marks, one column per card (made by make_cards.py)\n")
    for name in sorted(expected):
        out.write(name + "".join("\t%s|%s|%s" % c for c in expected[name]) + "\n")
print(len(files), "files")
