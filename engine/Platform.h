// Seams to the platform that the store needs but does not own: the message
// box that the file readers show, and the user's decimal separator. The
// application fills them in; without it, messages go to standard error and
// the separator is '.'. Tests set both.
#pragma once

#include <string>

namespace contavio {

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Shows text to the user and returns when the user has seen it.
    virtual void show(const std::string& text) = 0;
};

// Installs sink (borrowed; must outlive its use); nullptr restores standard error.
void setMessageSink(MessageSink* sink);
// Shows text through the installed sink.
void showMessage(const std::string& text);

// The decimal separator of the user's regional settings, used to write and
// read float values in the database files.
char decimalSeparator();
void setDecimalSeparator(char separator);

}  // namespace contavio
