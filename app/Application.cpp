#include "Application.h"

#include <QLocale>
#include <cstdio>
#include <cstdlib>

#include "AppIcon.h"
#include "Dialogs.h"
#include "book/Ansi.h"
#include "book/Texts.h"
#include "engine/Platform.h"

namespace contavio {

namespace {

// The store's messages ("No se pudo abrir: data.vlt") in the program's boxes.
class BoxMessageSink : public MessageSink {
  public:
    void show(const std::string& text) override { showMessageBox(fromAnsi(text)); }
};

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    runGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void prepareApplication() {
    setApplicationTitle(ui(text::kAppTitle));
    // The desktop entry's name: the Wayland app id, and what docks match.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.contavio.Contavio"));
    QApplication::setWindowIcon(appIcon());
    static BoxMessageSink sink;
    setMessageSink(&sink);
    setDecimalSeparator(localeDecimalSeparator());
}

char localeDecimalSeparator() {
    const std::string separator = toAnsi(QLocale::system().decimalPoint());
    return separator.size() == 1 && separator[0] != '?' ? separator[0] : '.';
}

namespace {
bool gEndAfterCloseDown = false;
}  // namespace

void endProcessAfterCloseDown(bool wanted) { gEndAfterCloseDown = wanted; }

bool endsProcessAfterCloseDown() { return gEndAfterCloseDown; }

void endProcess(int status) {
    std::fflush(nullptr);
    std::_Exit(status);
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace contavio
