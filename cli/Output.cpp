#include "Output.h"

#include <unistd.h>

#include <cstdio>

#include "book/Ansi.h"

namespace contavio::cli {

namespace {
constexpr size_t kWorthShowing = 5000;
}

void printLine(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
}

void printBookLine(const std::string& ansi) { printLine(fromAnsi(ansi)); }

void tell(const QString& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void tellBook(const std::string& ansi) { tell(fromAnsi(ansi)); }

Progress::Progress(const char* what, size_t total)
    : what_(what), total_(total), shown_(total >= kWorthShowing && ::isatty(2) == 1) {}

void Progress::step(size_t done) {
    if (!shown_ || (done - last_ < 1000 && done != total_)) return;
    last_ = done;
    std::fprintf(stderr, "\r%s: %zu/%zu", what_, done, total_);
    std::fflush(stderr);
}

Progress::~Progress() {
    if (shown_) std::fputc('\n', stderr);
}

}  // namespace contavio::cli
