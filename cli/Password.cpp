#include "Password.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <string>

namespace contavio::cli {

namespace {

std::string readLine(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

std::optional<QString> passwordFromStdin() {
    std::string line;
    if (!std::getline(std::cin, line) && line.empty()) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return QString::fromUtf8(line.data(), qsizetype(line.size()));
}

std::optional<QString> passwordFromTerminal(const QString& prompt) {
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) return std::nullopt;
    const QByteArray shown = prompt.toUtf8();
    (void)!::write(tty, shown.data(), size_t(shown.size()));
    termios saved{};
    const bool quiet = ::tcgetattr(tty, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(tty, TCSAFLUSH, &silent);
    }
    const std::string line = readLine(tty);
    if (quiet) ::tcsetattr(tty, TCSAFLUSH, &saved);
    (void)!::write(tty, "\n", 1);
    ::close(tty);
    return QString::fromUtf8(line.data(), qsizetype(line.size()));
}

}  // namespace contavio::cli
