// The application object and what the program sets up before its windows.
#pragma once

#include <QApplication>

namespace contavio {

// An exception that escapes any event handler ends up here at the latest:
// it is shown and the event loop goes on.
class TApplication : public QApplication {
    Q_OBJECT
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Sets the application title and icon, routes the store's messages to the
// message boxes and gives the store the user's decimal separator.
void prepareApplication();

// The decimal separator of the user's regional settings; '.' when it is not
// a single Windows-1252 character.
char localeDecimalSeparator();

// Whether the process ends at once when the main window's close-down has
// saved the book and closed its files, leaving the contacts' memory to the
// system, which takes it back faster than freeing it piece by piece (most of
// a second for a million contacts). The program asks for it; tests, and
// builds with a sanitizer that checks what is freed, do not.
void endProcessAfterCloseDown(bool wanted);
bool endsProcessAfterCloseDown();
// Ends the process with status: output flushed, no destructor run.
[[noreturn]] void endProcess(int status);

// True when Qt has somewhere to show windows: an X or Wayland display, or a
// platform named in QT_QPA_PLATFORM.
bool hasDisplay();

}  // namespace contavio
