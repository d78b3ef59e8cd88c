// The main of the window tests: the program's own application object (so an
// exception that escapes an event is caught as in the program), set up as the
// program sets it up, around GoogleTest.
#include <gtest/gtest.h>

#include "app/Application.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");  // listing the tests needs no display
    }
    contavio::TApplication app(argc, argv);
    // Tests close windows without running the event loop to its end.
    app.setQuitOnLastWindowClosed(false);
    contavio::prepareApplication();
    return RUN_ALL_TESTS();
}
