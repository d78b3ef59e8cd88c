// Where contavio-book takes a server's password from: standard input
// (--password-stdin), the desktop's secret store, or the terminal without
// echo. Never from a file or the command line.
#pragma once

#include <QString>
#include <optional>

namespace contavio::cli {

// The first line of standard input, without its line break; none at its end.
std::optional<QString> passwordFromStdin();

// Asked on the terminal (/dev/tty) without echo; none without a terminal.
std::optional<QString> passwordFromTerminal(const QString& prompt);

}  // namespace contavio::cli
