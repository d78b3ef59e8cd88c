// Contavio: a contact book. Starts the application, builds the main window
// (which loads the contacts) and the hidden credits window, and runs until
// the main window has closed and saved.
#include "Main.h"

#include <cstdio>
#include <exception>

#include "Application.h"
#include "Credits.h"
#include "Dialogs.h"
#include "Signals.h"
#include "book/Ansi.h"
#include "book/Texts.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CONTAVIO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CONTAVIO_SANITIZED 1
#endif
#endif
#if defined(CONTAVIO_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

int main(int argc, char** argv) {
    using namespace contavio;
    if (!hasDisplay()) {
        const QString message = fromAnsi(text::kNoDisplay) + QString::fromLocal8Bit(argv[0]);
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return 1;
    }
    TApplication app(argc, argv);
    prepareApplication();
    endProcessAfterCloseDown(!kSanitized);  // the sanitizers check what close-down frees
    int status = 1;
    runGuarded([&] {
        TerminationWatcher watcher;  // before the windows: start-up may wait for the user
        TForm1 form1;
        TForm2 form2;
        form1.setCreditsWindow(&form2);
        watcher.watch(&form1);
        if (form1.closedDown()) {
            // The book was open in another window, or a signal ended the
            // program while it started.
            status = form1.bookBusy() ? 1 : 0;
            return;
        }
        form1.show();
        status = app.exec();
        if (!form1.closedDown()) {
            form1.close();  // the loop ended some other way: still save
        }
        if (endsProcessAfterCloseDown()) endProcess(status);  // saved, files closed
    });
    return status;
}
