#include "Platform.h"

#include <cstdio>

namespace contavio {

namespace {

MessageSink* gSink = nullptr;  // borrowed; none means standard error
char gDecimalSeparator = '.';

}  // namespace

void setMessageSink(MessageSink* sink) { gSink = sink; }

void showMessage(const std::string& text) {
    if (gSink != nullptr) {
        gSink->show(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

char decimalSeparator() { return gDecimalSeparator; }

void setDecimalSeparator(char separator) { gDecimalSeparator = separator; }

}  // namespace contavio
