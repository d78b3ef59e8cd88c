#include "Ansi.h"

#include <QStringDecoder>
#include <array>

namespace contavio {

namespace {

// Windows-1252 codes 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

char toAnsiChar(char32_t code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
        return static_cast<char>(code);
    }
    for (size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == code) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

}  // namespace

QString fromAnsi(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte <= 0x9F) {
            text.append(QChar(kHighControls[byte - 0x80]));
        } else {
            text.append(QChar(static_cast<char16_t>(byte)));
        }
    }
    return text;
}

std::string toAnsi(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;  // one character, two code units
            bytes.push_back('?');
        } else if (c.isSurrogate()) {
            bytes.push_back('?');
        } else {
            bytes.push_back(toAnsiChar(c.unicode()));
        }
    }
    return bytes;
}

QString outsideAnsi(const QString& text) {
    QString found;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QString character(text.at(i));
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() &&
            text.at(i + 1).isLowSurrogate()) {
            character.append(text.at(++i));
        } else if (!text.at(i).isSurrogate() &&
                   (text.at(i).unicode() == u'?' || toAnsiChar(text.at(i).unicode()) != '?')) {
            continue;
        }
        if (!found.contains(character)) found.append(character);
    }
    return found;
}

QString fromErrorText(std::string_view bytes) {
    bool ascii = true;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (!ascii) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString decoded = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        if (!utf8.hasError()) {
            return decoded;
        }
    }
    return fromAnsi(bytes);
}

}  // namespace contavio
