// The one place where text crosses between the widgets (QString) and the
// store (Windows-1252 bytes in std::string).
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace contavio {

// Every byte maps to one character; the five codes that Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters
// with the same number, so any byte string comes back unchanged.
QString fromAnsi(std::string_view bytes);

// Each character that Windows-1252 cannot hold becomes '?' (a character
// outside the Basic Multilingual Plane becomes a single '?').
std::string toAnsi(const QString& text);

// The characters of text that Windows-1252 cannot hold, each once, in the
// order they first appear; empty when toAnsi keeps every character.
QString outsideAnsi(const QString& text);

// A text of the program (Texts.h) as the widgets show it.
inline QString ui(const char* bytes) { return fromAnsi(bytes); }

// The text of a run-time error: the store's own messages are Windows-1252,
// while the system's messages (strerror) come in the locale's encoding, which
// is UTF-8 here; a text that is valid UTF-8 with non-ASCII bytes is taken as
// UTF-8, anything else as Windows-1252.
QString fromErrorText(std::string_view bytes);

}  // namespace contavio
