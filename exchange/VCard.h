// The vCard text format (versions 2.1, 3.0 and 4.0): a lenient reader that
// takes cards as phones and address books write them, and a strict writer of
// 3.0 or 4.0. Every property of a card is kept, so that a card read from
// elsewhere can be written back with only some of its properties changed.
//
// A property's value is held in one form whatever version it was read from:
// UTF-8, with the escapes of 3.0 and 4.0 ("\\", "\,", "\;", "\n"). The reader
// undoes quoted-printable and CHARSET (and drops those two parameters, but
// for a CHARSET that iconv does not know; a value without one that is not
// UTF-8 is read in the code page the card names on another property) and
// escapes the commas and backslashes of 2.1 text; a line break that
// quoted-printable encoded stays in the value as CR and LF bytes, which the
// writer turns into "\n". Values in base64 (ENCODING=b or BASE64) are kept as
// they stand, without the white space between their lines, except for the
// text properties a contact is read from (N, FN, ADR, LABEL, URL, BDAY, NOTE,
// TEL, EMAIL), whose base64 is decoded like quoted-printable.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace contavio {

enum class VCardVersion { V21, V30, V40 };

struct VCardParam {
    std::string name;          // upper case; a bare 2.1 parameter "WORK" is TYPE=WORK
    std::string value;         // as written, double quotes included
    std::string spelled = {};  // the name as written, when not in upper case
};

struct VCardProperty {
    std::string group;               // "item1" of "item1.TEL", or empty
    std::string name;                // upper case: "TEL", "X-ABLABEL"
    std::vector<VCardParam> params;  // in the order written
    std::string value;               // see the top of this file
    // The name as written, when not in upper case ("X-ABLabel"): the writer
    // keeps it, as another program may look for it so.
    std::string spelled = {};
};

struct VCard {
    VCardVersion version = VCardVersion::V40;  // as read; 3.0 when not stated
    // In card order, without BEGIN, END and VERSION.
    std::vector<VCardProperty> properties;
    // Not ended by its END:VCARD: the text ended first, or another card
    // began that was not nested in it.
    bool cutShort = false;
};

// Every card in text: several per file, junk between them, a byte-order
// mark before any BEGIN:VCARD, UTF-16 and UTF-32 files, CR LF, LF or CR line
// ends, folded lines, quoted-printable soft line breaks, 2.1 base64 lines
// without indent. A card cut off by the end of the text, or by a BEGIN:VCARD
// of the next card, is kept and marked cutShort. A card nested inside
// another (after an empty AGENT property, or written without it and followed
// by more of its parent before the parent's END) is skipped and its parent
// goes on. Lines inside a card that hold no ':' are skipped. A CHARSET that
// iconv does not know stays among the parameters. Never fails; the result
// grows linearly with the text.
std::vector<VCard> parseVCards(std::string_view text);

// The card as vCard text of `version` (3.0 or 4.0; 2.1 is written as 3.0):
// UTF-8, CR LF, lines folded at 75 octets without splitting a character.
// Base64 values become ENCODING=b in 3.0 and a data: URI in 4.0.
std::string writeVCard(const VCard& card, VCardVersion version);

// The first parameter called `name` (upper case) without its double quotes,
// or empty.
std::string paramValue(const VCardProperty& property, std::string_view name);

// The property's value in the given encoding of the card: true for base64.
bool isBase64(const VCardProperty& property);

}  // namespace contavio
